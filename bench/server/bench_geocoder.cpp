// Reverse-geocoding speed: loading the cities table, then placeAt() and the localized place name for
// a million positions, half of them near a town (where people live), half anywhere on Earth.
// Usage: bench_geocoder [LOOKUPS] [CITIES_PATH]

#include "places/Geocoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

using namespace nimbara::server;
using SteadyClock = std::chrono::steady_clock;

int main(int argc, char **argv)
{
    const size_t lookups = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const std::string citiesPath = argc > 2 ? argv[2] : NIMBARA_BENCH_CITIES;

    auto started = SteadyClock::now();
    Geocoder geocoder(citiesPath);
    const double loadSeconds = std::chrono::duration<double>(SteadyClock::now() - started).count();
    PlaceNames names("/usr/share/locale");

    std::mt19937 random(42);
    std::uniform_real_distribution<double> unit(0, 1);
    std::uniform_real_distribution<double> offset(-0.3, 0.3);
    // Towns to scatter the first half around, found by looking up random positions.
    std::vector<std::pair<double, double>> towns;
    for (int i = 0; towns.size() < 1000 && i < 100000; ++i) {
        double lat = std::asin(2 * unit(random) - 1) * 180 / M_PI;
        double lon = 360 * unit(random) - 180;
        if (const Place *place = geocoder.placeAt(lat, lon))
            towns.emplace_back(place->latitude, place->longitude);
    }
    std::vector<std::pair<double, double>> positions;
    positions.reserve(lookups);
    for (size_t i = 0; i < lookups; ++i) {
        if (i % 2 == 0 && !towns.empty()) {
            auto [lat, lon] = towns[i / 2 % towns.size()];
            positions.emplace_back(std::clamp(lat + offset(random), -90.0, 90.0), lon + offset(random));
        } else {
            positions.emplace_back(std::asin(2 * unit(random) - 1) * 180 / M_PI, 360 * unit(random) - 180);
        }
    }

    // CPU time beside wall time: on a shared machine the wall clock also counts other programs.
    size_t named = 0;
    started = SteadyClock::now();
    std::clock_t cpuStarted = std::clock();
    for (auto [lat, lon] : positions)
        named += geocoder.placeAt(lat, lon) != nullptr;
    const double lookupSeconds = std::chrono::duration<double>(SteadyClock::now() - started).count();
    const double lookupCpuSeconds = static_cast<double>(std::clock() - cpuStarted) / CLOCKS_PER_SEC;

    size_t characters = 0;
    started = SteadyClock::now();
    for (auto [lat, lon] : positions) {
        const Place *place = geocoder.placeAt(lat, lon);
        std::string name = place ? names.localizedName(place->geonameId, "de-DE") : coordinateText(lat, lon);
        if (place && name.empty())
            name = place->name;
        characters += name.size();
    }
    const double nameSeconds = std::chrono::duration<double>(SteadyClock::now() - started).count();

    std::printf("cities table: %zu places loaded in %.2f s\n", geocoder.size(), loadSeconds);
    std::printf("placeAt: %zu lookups, %.0f per second, %.2f µs each, %.2f µs of CPU (%zu named, %zu beyond "
                "50 km)\n",
                lookups, lookups / lookupSeconds, lookupSeconds / lookups * 1e6,
                lookupCpuSeconds / lookups * 1e6, named, lookups - named);
    std::printf("place name (de-DE, or coordinates): %.0f per second, %.2f µs each (%zu bytes)\n",
                lookups / nameSeconds, nameSeconds / lookups * 1e6, characters);
    return 0;
}
