// The cached gate in the process, without HTTP: answers per second for a cell whose reading has
// only the three lines' members (what the gate sent before the forecast) and for one with the
// forecast members (24 hours, today's range, the sun), so that their cost shows on its own.
// Usage: bench_gate [ANSWERS]

#include "core/Fingerprint.h"
#include "store/ServiceStore.h"
#include "weather/ForecastJson.h"
#include "weather/Gate.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

using namespace nimbara::server;
using SteadyClock = std::chrono::steady_clock;

namespace {

Reading withForecast()
{
    Reading reading{17.2, "rain"};
    reading.provider = "Open-Meteo";
    reading.updated = "2024-05-01T12:15+01:00";
    reading.todayHigh = 20.4;
    reading.todayLow = 12.6;
    reading.sunrise = "05:31";
    reading.sunset = "20:24";
    const Seconds first = *parseCivilTime("2024-05-01T11:00");
    for (int hour = 0; hour < 24; ++hour)
        reading.hourly.push_back({first + std::chrono::hours(hour), 3600, 12 + hour * 0.37,
                                  hour % 5 ? "partly-cloudy" : "rain", hour % 5 ? 0.0 : 1.25, 40.0 + hour,
                                  hour < 9});
    // As the service's upstream leaves it.
    reading.forecastJson = forecastJson(reading);
    return reading;
}

double answersPerSecond(const Reading &reading, size_t count, const std::string &directory, size_t &bytes)
{
    WeatherCache cache([reading](double, double) { return std::optional(reading); });
    ServiceStore store(directory + "/bench.sqlite");
    VersionGate versions({"1.0.0"}, "1.0.0");
    Gate service(cache, store, versions, nullptr, nullptr);
    const std::string query = "&v1=51.5074&v2=-0.1278&v3=auto&v4=en-GB&v5=&v6=" + fingerprint("1.0.0");
    bytes = service.answer(query).body.size(); // fills the cache
    const auto started = SteadyClock::now();
    for (size_t i = 0; i < count; ++i) {
        if (service.answer(query).status != 200)
            std::abort();
    }
    return count / std::chrono::duration<double>(SteadyClock::now() - started).count();
}

} // namespace

int main(int argc, char **argv)
{
    const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
    const auto directory =
        std::filesystem::temp_directory_path() / ("bench_gate." + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    size_t linesBytes = 0;
    size_t forecastBytes = 0;
    const double lines = answersPerSecond(Reading{17.2, "rain"}, count, directory, linesBytes);
    const double forecast = answersPerSecond(withForecast(), count, directory, forecastBytes);
    std::filesystem::remove_all(directory);
    std::printf("cached gate in process, %zu answers each, one thread\n", count);
    std::printf("%-26s %12s %10s %8s\n", "reading", "answers/s", "µs each", "bytes");
    std::printf("%-26s %12.0f %10.2f %8zu\n", "three lines only", lines, 1e6 / lines, linesBytes);
    std::printf("%-26s %12.0f %10.2f %8zu\n", "with the forecast", forecast, 1e6 / forecast, forecastBytes);
    return 0;
}
