// Place-search speed over the real cities table: building the index, then queries of every
// three-letter prefix that begins a real place name, and a few longer and two-letter ones; the
// same through the places endpoint, which also ranks by the names shown in the asker's language
// and writes the answer.
// Usage: bench_places [ROUNDS] [CITIES_PATH]

#include "places/Geocoder.h"
#include "places/PlaceSearch.h"
#include "places/PlacesService.h"
#include "places/RegionNames.h"
#include "places/TextFold.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace nimbara::server;
using SteadyClock = std::chrono::steady_clock;

namespace {

struct Figures
{
    double meanMicros = 0;
    double p99Micros = 0;
    double maxMicros = 0;
};

template <typename Query>
Figures measure(const std::vector<std::string> &queries, size_t rounds, const Query &query)
{
    std::vector<double> micros;
    micros.reserve(queries.size() * rounds);
    size_t found = 0;
    for (size_t round = 0; round < rounds; ++round) {
        for (const auto &text : queries) {
            auto started = SteadyClock::now();
            found += query(text);
            micros.push_back(std::chrono::duration<double, std::micro>(SteadyClock::now() - started).count());
        }
    }
    std::sort(micros.begin(), micros.end());
    Figures figures;
    for (double m : micros)
        figures.meanMicros += m;
    figures.meanMicros /= static_cast<double>(micros.size());
    figures.p99Micros = micros[micros.size() * 99 / 100];
    figures.maxMicros = micros.back();
    if (found == 0)
        std::fprintf(stderr, "no results at all\n");
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    const size_t rounds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 3;
    const std::string citiesPath = argc > 2 ? argv[2] : NIMBARA_BENCH_CITIES;

    auto started = SteadyClock::now();
    std::clock_t cpuStarted = std::clock();
    PlaceSearch search(citiesPath);
    const double loadSeconds = std::chrono::duration<double>(SteadyClock::now() - started).count();
    const double loadCpuSeconds = static_cast<double>(std::clock() - cpuStarted) / CLOCKS_PER_SEC;

    // Every distinct three-letter beginning of an ASCII place name (the common case of typing),
    // and the two-letter ones, the widest the endpoint allows.
    std::set<std::string> threeLetters;
    std::set<std::string> twoLetters;
    for (const auto &query : {"ber", "par", "lon", "san", "new", "zur", "mos", "tok"})
        threeLetters.insert(query);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> letter('a', 'z');
    for (int i = 0; i < 2000; ++i)
        threeLetters.insert({char(letter(random)), char(letter(random)), char(letter(random))});
    for (char a = 'a'; a <= 'z'; ++a)
        for (char b = 'a'; b <= 'z'; ++b)
            twoLetters.insert({a, b});
    const std::vector<std::string> three(threeLetters.begin(), threeLetters.end());
    const std::vector<std::string> two(twoLetters.begin(), twoLetters.end());
    const std::vector<std::string> longer{
        "berlin",    "zürich",   "москва",      "東京",          "frankfurt am main",
        "são paulo", "new york", "los angeles", "saint-étienne", "łódź"};

    std::printf("place search over %zu places, %zu names: index built in %.2f s (%.2f s CPU)\n",
                search.size(), search.nameCount(), loadSeconds, loadCpuSeconds);
    std::printf("%-32s %10s %10s %10s\n", "queries", "mean µs", "p99 µs", "max µs");
    // The search alone: fold the text, then search.
    const auto searchOnly = [&](const std::string &text) {
        return search.search(*foldForSearch(text), 10).size();
    };
    const PlaceNames placeNames("/usr/share/locale");
    const RegionNames regionNames("/usr/share/iso-codes/json", "/usr/share/locale");
    const PlacesService service(&search, {nullptr, &placeNames, &regionNames, nullptr});
    const auto endpoint = [&service](const char *language) {
        return [&service, language](const std::string &text) {
            return service.places("&q=" + text + "&v4=" + language).body.size();
        };
    };
    auto report = [&](const std::string &name, const std::vector<std::string> &queries, const auto &query) {
        auto figures = measure(queries, rounds, query);
        std::printf("%-32s %10.1f %10.1f %10.1f\n", name.c_str(), figures.meanMicros, figures.p99Micros,
                    figures.maxMicros);
    };
    report("3-letter prefixes (" + std::to_string(three.size()) + ")", three, searchOnly);
    report("2-letter prefixes (" + std::to_string(two.size()) + ")", two, searchOnly);
    report("whole names, any script (10)", longer, searchOnly);
    report("endpoint, 3-letter, de", three, endpoint("de"));
    report("endpoint, 2-letter, de", two, endpoint("de"));
    report("endpoint, 3-letter, en", three, endpoint("en"));
    return 0;
}
