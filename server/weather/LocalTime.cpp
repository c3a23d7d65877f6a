#include "weather/LocalTime.h"

#include "places/Geocoder.h"

#include <unicode/timezone.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>

namespace nimbara::server {

namespace {

using namespace std::chrono;

bool readNumber(std::string_view text, size_t at, size_t digits, int &value)
{
    if (at + digits > text.size())
        return false;
    const char *first = text.data() + at;
    auto [end, error] = std::from_chars(first, first + digits, value);
    return error == std::errc() && end == first + digits && value >= 0;
}

double radians(double degrees)
{
    return degrees * std::numbers::pi / 180;
}

double degrees(double radians)
{
    return radians * 180 / std::numbers::pi;
}

// Julian dates and Unix time.
constexpr double julianUnixEpoch = 2440587.5;
constexpr double julianJ2000 = 2451545.0;

Seconds fromJulian(double julian)
{
    return Seconds(seconds(std::llround((julian - julianUnixEpoch) * 86400)));
}

} // namespace

std::optional<int> zoneOffset(std::string_view zone, Seconds at)
{
    std::unique_ptr<icu::TimeZone> timeZone(icu::TimeZone::createTimeZone(
        icu::UnicodeString::fromUTF8(icu::StringPiece(zone.data(), static_cast<int32_t>(zone.size())))));
    icu::UnicodeString id;
    if (!timeZone || timeZone->getID(id) == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID))
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    int32_t raw = 0;
    int32_t daylight = 0;
    timeZone->getOffset(static_cast<UDate>(at.time_since_epoch().count()) * 1000.0, false, raw, daylight,
                        status);
    if (U_FAILURE(status))
        return std::nullopt;
    return (raw + daylight) / 1000;
}

int nauticalOffset(double longitude)
{
    if (!std::isfinite(longitude))
        return 0;
    return static_cast<int>(std::lround(std::clamp(longitude, -180.0, 180.0) / 15)) * 3600;
}

std::optional<Seconds> parseCivilTime(std::string_view text)
{
    if (!text.empty() && text.back() == 'Z')
        text.remove_suffix(1);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() != 16 && text.size() != 19)
        return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        (text.size() == 19 && text[16] != ':'))
        return std::nullopt;
    if (!readNumber(text, 0, 4, year) || !readNumber(text, 5, 2, month) || !readNumber(text, 8, 2, day) ||
        !readNumber(text, 11, 2, hour) || !readNumber(text, 14, 2, minute) ||
        (text.size() == 19 && !readNumber(text, 17, 2, second)))
        return std::nullopt;
    const year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                              std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return Seconds(sys_days(date)) + hours(hour) + minutes(minute) + seconds(second);
}

std::string localTimeText(Seconds at, int offsetSeconds)
{
    const auto local = at + seconds(offsetSeconds);
    const auto day = floor<days>(local);
    const year_month_day date(day);
    const hh_mm_ss time(local - day);
    const int offsetMinutes = std::abs(offsetSeconds) / 60;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d%c%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  offsetSeconds < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
    return text;
}

std::string localClockText(Seconds at, int offsetSeconds)
{
    return localTimeText(at, offsetSeconds).substr(11, 5);
}

long localDay(Seconds at, int offsetSeconds)
{
    return static_cast<long>(floor<days>(at + seconds(offsetSeconds)).time_since_epoch().count());
}

SunTimes sunTimes(double latitude, double longitude, long day)
{
    // Days since J2000 of the date's noon (UTC), then the mean solar noon at the longitude.
    const double n = day + julianUnixEpoch + 0.5 - julianJ2000;
    const double meanNoon = n - longitude / 360;
    const double anomaly = std::fmod(357.5291 + 0.98560028 * meanNoon, 360);
    const double m = radians(anomaly);
    const double centre = 1.9148 * std::sin(m) + 0.0200 * std::sin(2 * m) + 0.0003 * std::sin(3 * m);
    const double eclipticLongitude = radians(std::fmod(anomaly + centre + 180 + 102.9372, 360));
    const double transit =
        julianJ2000 + meanNoon + 0.0053 * std::sin(m) - 0.0069 * std::sin(2 * eclipticLongitude);
    const double declination = std::asin(std::sin(eclipticLongitude) * std::sin(radians(23.4397)));
    const double phi = radians(latitude);
    const double cosHourAngle = (std::sin(radians(-0.833)) - std::sin(phi) * std::sin(declination)) /
                                (std::cos(phi) * std::cos(declination));
    SunTimes times;
    if (cosHourAngle > 1) {
        times.kind = SunTimes::Kind::alwaysDown;
        return times;
    }
    if (cosHourAngle < -1) {
        times.kind = SunTimes::Kind::alwaysUp;
        return times;
    }
    const double hourAngle = degrees(std::acos(cosHourAngle));
    times.sunrise = fromJulian(transit - hourAngle / 360);
    times.sunset = fromJulian(transit + hourAngle / 360);
    return times;
}

int utcOffset(const Geocoder &geocoder, double latitude, double longitude, Seconds at)
{
    const Place *place = geocoder.placeAt(latitude, longitude);
    std::optional<int> offset;
    if (place && !place->timeZone.empty())
        offset = zoneOffset(place->timeZone, at);
    return offset ? *offset : nauticalOffset(longitude);
}

} // namespace nimbara::server
