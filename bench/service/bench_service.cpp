// Times the client's requests against a loopback server. bench_service HOST COUNT prints
// "name requests/s median-microseconds failures" for isConnected, the gate request, and the gate
// request's exchange alone (makeRequestToURL with the six pairs made once, so without reading the
// machine id, the language and the digests afresh). bench_service HOST --gate-url prints the gate
// address with the six pairs as the client sends them.
#include "BuildInfo.h"
#include "WXWeather.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

void measure(const char *name, int count, const std::function<bool()> &request)
{
    std::vector<qint64> nanoseconds;
    nanoseconds.reserve(size_t(count));
    int failures = 0;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < count; ++i) {
        QElapsedTimer one;
        one.start();
        failures += request() ? 0 : 1;
        nanoseconds.push_back(one.nsecsElapsed());
    }
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const double median = double(nanoseconds[nanoseconds.size() / 2]) / 1e3;
    std::printf("%s %.0f %.1f %d\n", name, count / seconds, median, failures);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBARA_VERSION));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: bench_service HOST COUNT | bench_service HOST --gate-url\n");
        return 2;
    }
    const QString host = arguments[1];
    WXWeather::setHostsForTesting(host, host);

    const QString gate = QStringLiteral("http://%1/api/0.5/gate?").arg(host);
    const QVariantMap pairs{{QStringLiteral("v1"), 10.5},
                            {QStringLiteral("v2"), -20.25},
                            {QStringLiteral("v3"), QStringLiteral("auto")},
                            {QStringLiteral("v4"), QLocale::system().uiLanguages().value(0)},
                            {QStringLiteral("v5"), WXWeather::encrypt(WXWeather::serialNumber())},
                            {QStringLiteral("v6"), WXWeather::encrypt(QStringLiteral(NIMBARA_VERSION))}};

    if (arguments[2] == QLatin1String("--gate-url")) {
        QString url = gate;
        for (auto it = pairs.cbegin(); it != pairs.cend(); ++it)
            url += u'&' + it.key() + u'=' + it.value().toString();
        std::printf("%s\n", url.toUtf8().constData());
        return 0;
    }

    const int count = arguments[2].toInt();
    if (count <= 0)
        return 2;
    measure("isConnected", count, [] { return WXWeather::isConnected(); });
    measure("gate", count, [] { return !WXWeather::getWeatherByLatitude(10.5, -20.25).isNull(); });
    measure("gate-exchange", count, [&] { return !WXWeather::makeRequestToURL(gate, pairs).isNull(); });
    return 0;
}
