#include "weather/ForecastJson.h"

#include <charconv>
#include <cmath>

namespace nimbara::server {

namespace {

class ForecastWriter
{
public:
    explicit ForecastWriter(std::string &out)
        : out(out)
    {}

    void write(const Reading &reading)
    {
        if (!reading.updated.empty())
            text(",\"updated\":", reading.updated);
        if (!reading.provider.empty())
            text(",\"provider\":", reading.provider);
        if (reading.todayHigh && reading.todayLow) {
            out += ",\"today\":{\"high\":";
            bothUnits(*reading.todayHigh);
            out += ",\"low\":";
            bothUnits(*reading.todayLow);
            out += '}';
        }
        if (!reading.sunrise.empty())
            text(",\"sunrise\":", reading.sunrise);
        if (!reading.sunset.empty())
            text(",\"sunset\":", reading.sunset);
        writeNow(reading.now);
        writeDaily(reading.daily);
        if (reading.hourly.empty())
            return;
        out += ",\"hourly\":[";
        for (const HourForecast &hour : reading.hourly) {
            if (out.back() == '}')
                out += ',';
            text("{\"time\":", hour.time());
            integer(",\"celsius\":", wholeDegrees(hour.celsius));
            integer(",\"temp\":", wholeDegrees(fahrenheit(hour.celsius)));
            text(",\"condition\":", hour.condition);
            out += ",\"precipitation\":";
            decimal(std::round(hour.precipitation * 10) / 10);
            if (hour.probability)
                integer(",\"probability\":", std::lround(*hour.probability));
            out += hour.day ? ",\"day\":true}" : ",\"day\":false}";
        }
        out += ']';
    }

private:
    // Wind in km/h, mph and m/s, whichever the reader's locale uses, and the degrees it comes from
    // (0 = north); the feels-like in both units as every temperature.
    void writeNow(const NowDetails &now)
    {
        if (now.empty())
            return;
        out += ",\"now\":{";
        const size_t start = out.size();
        const auto separate = [&] {
            if (out.size() > start)
                out += ',';
        };
        if (now.feelsLike) {
            out += "\"feelsLike\":";
            bothUnits(*now.feelsLike);
        }
        if (now.windKmh) {
            separate();
            integer("\"wind\":{\"kmh\":", std::lround(*now.windKmh));
            integer(",\"mph\":", std::lround(*now.windKmh / 1.609344));
            integer(",\"ms\":", std::lround(*now.windKmh / 3.6));
            if (now.windDirection)
                integer(",\"direction\":", std::lround(*now.windDirection) % 360);
            out += '}';
        }
        if (now.humidity) {
            separate();
            integer("\"humidity\":", std::lround(*now.humidity));
        }
        out += '}';
    }

    void writeDaily(const std::vector<DayForecast> &days)
    {
        if (days.empty())
            return;
        out += ",\"daily\":[";
        for (const DayForecast &day : days) {
            if (out.back() == '}')
                out += ',';
            text("{\"date\":", day.date);
            out += ",\"high\":";
            bothUnits(day.high);
            out += ",\"low\":";
            bothUnits(day.low);
            text(",\"condition\":", day.condition);
            if (day.precipitation) {
                out += ",\"precipitation\":";
                decimal(std::round(*day.precipitation * 10) / 10);
            }
            if (day.probability)
                integer(",\"probability\":", std::lround(*day.probability));
            if (!day.sunrise.empty())
                text(",\"sunrise\":", day.sunrise);
            if (!day.sunset.empty())
                text(",\"sunset\":", day.sunset);
            out += '}';
        }
        out += ']';
    }

    // The service writes these texts itself (names, times); anything outside printable ASCII is
    // replaced rather than trusted.
    void text(std::string_view key, std::string_view value)
    {
        out += key;
        out += '"';
        for (char c : value) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c >= 0x20 && c < 0x7f ? c : '?';
        }
        out += '"';
    }

    void integer(std::string_view key, long value)
    {
        out += key;
        char buffer[24];
        auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
        out.append(buffer, error == std::errc() ? end : buffer);
    }

    void decimal(double value)
    {
        char buffer[32];
        auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, std::isfinite(value) ? value : 0.0);
        out.append(buffer, error == std::errc() ? end : buffer);
    }

    // A temperature in both units, rounded as the weather line's.
    void bothUnits(double celsius)
    {
        integer("{\"celsius\":", wholeDegrees(celsius));
        integer(",\"temp\":", wholeDegrees(fahrenheit(celsius)));
        out += '}';
    }

    std::string &out;
};

} // namespace

std::string forecastJson(const Reading &reading)
{
    std::string text;
    text.reserve(320 + 140 * reading.hourly.size() + 200 * reading.daily.size());
    ForecastWriter(text).write(reading);
    return text;
}

long wholeDegrees(double value)
{
    return std::lround(value);
}

double fahrenheit(double celsius)
{
    return celsius * 9 / 5 + 32;
}

} // namespace nimbara::server
