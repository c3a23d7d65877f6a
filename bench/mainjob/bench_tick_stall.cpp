// How long the widget's check tick holds the main thread against a weather service on loopback.
// Usage: bench_tick_stall HOST:PORT [TICKS]
// Prints one line per kind of tick: the fetching tick with the service's cache cold (its first
// gate request goes upstream), fetching ticks with a warm cache, and counting ticks (probe only).
#include "GeoLocationSource.h"
#include "WXDesktopWindow.h"
#include "WXWeather.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures
{
    std::vector<qint64> ns;

    void print(const char *name) const
    {
        std::vector<qint64> sorted = ns;
        std::sort(sorted.begin(), sorted.end());
        const auto ms = [](qint64 value) {
            return double(value) / 1e6;
        };
        std::printf("%-24s %6zu ticks   median %8.3f ms   max %8.3f ms\n", name, sorted.size(),
                    ms(sorted[sorted.size() / 2]), ms(sorted.back()));
    }
};

qint64 timeTick(WXDesktopWindow &window)
{
    QElapsedTimer timer;
    timer.start();
    window.checkTick();
    return timer.nsecsElapsed();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HOST:PORT [TICKS]\n", argv[0]);
        return 2;
    }
    const QString host = QString::fromLocal8Bit(argv[1]);
    const int ticks = argc > 2 ? std::max(2, std::atoi(argv[2])) : 200;
    WXWeather::setHostsForTesting(host, host);

    WXDesktopWindow window;
    window.locationManager =
        nimbara::GeoLocationSource::fromSetting(QStringLiteral("fixed:51.5074,-0.1278"), &window);
    window.cachedLocation = QGeoCoordinate(51.5074, -0.1278);

    Figures cold;
    Figures warm;
    Figures counting;
    cold.ns.push_back(timeTick(window));
    if (!window.isUpdated) {
        std::fprintf(stderr, "the first tick fetched no weather: is the service at %s up?\n",
                     qPrintable(host));
        return 1;
    }
    for (int i = 0; i < ticks; ++i) {
        counting.ns.push_back(timeTick(window));
        // A tick without weather fetches: the service answers from its cache.
        window.isUpdated = false;
        warm.ns.push_back(timeTick(window));
    }
    cold.print("fetching, cache cold");
    warm.print("fetching, cache warm");
    counting.print("counting (probe only)");
    return 0;
}
