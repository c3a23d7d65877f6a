#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// Everything that talks to the weather service. Holds no state: every call builds its request,
// blocks until the answer or a failure, and returns newly made values. Failures are logged and
// come back as a null QVariant, false or a null QString.
class WXWeather
{
public:
    WXWeather() = delete;

    // The feedback request. True only when the service says it stored the message ("status" "ok");
    // a refusal, an error page or no answer is false, so that the caller keeps what was written.
    static bool sendType(qint64 type, const QString &name, const QString &email, const QString &message);
    // The gate request: the decoded response envelope (QVariantMap), or null.
    static QVariant getWeatherByLatitude(double latitude, double longitude);
    // The addresses of the requests that run on the event loop (nimbara::ServiceRequest): the place
    // search of the Location menu, whose answer's data lists up to ten places whose names begin with
    // the text, in the user's language; and the service's guess of the machine's place from its
    // network address, "status" "error" with error 3 when the service cannot tell.
    static QString placesAddress(const QString &text);
    static QString locateAddress();
    // The connectivity probe: whether the probe host answered with a non-empty JSON value.
    static bool isConnected();

    // GET with the pair text appended to the address; POST with the pair text as form body.
    // The result is the decoded JSON object (QVariantMap) or array (QVariantList) when it has at
    // least one entry, otherwise null.
    static QVariant makeRequestToURL(const QString &url, const QVariantMap &data);
    static QVariant makePostRequestToURL(const QString &url, const QVariantMap &data);

    // The machine's identity (the systemd machine id), or a null QString where there is none.
    static QString serialNumber();
    // Lowercase hex MD5 of the lowercase hex SHA-1 of the text's UTF-8 bytes (null counts as empty).
    static QString encrypt(const QString &text);
    static QString sha1(const QString &text);
    static QString md5(const QString &text);

    // Test seams, never user-facing: point the calls at a loopback server (empty texts restore the
    // build constants) and shorten the time-out (0 restores the 10 s default).
    static void setHostsForTesting(const QString &serviceHost, const QString &probeHost);
    static void setTimeoutForTesting(int milliseconds);
};
