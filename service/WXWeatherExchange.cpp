#include "WXWeather.h"

#include "Log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <memory>

#include <curl/curl.h>

namespace {

// A slow or silent server never holds the caller (the main thread) for longer than this, connect included.
constexpr int kDefaultTimeoutMs = 10000;
std::atomic<int> g_timeoutMs{kDefaultTimeoutMs};

// A broken or hostile server must not make the widget allocate without limit.
constexpr qsizetype kMaxBodyBytes = 1024 * 1024;

struct Body
{
    QByteArray bytes;
    bool tooLarge = false;
};

size_t appendBody(char *data, size_t size, size_t count, void *userData)
{
    auto *body = static_cast<Body *>(userData);
    const size_t length = size * count;
    if (length > size_t(kMaxBodyBytes - body->bytes.size())) {
        body->tooLarge = true;
        return 0; // aborts the transfer with CURLE_WRITE_ERROR
    }
    body->bytes.append(data, qsizetype(length));
    return length;
}

struct EasyDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};

struct ListDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// One handle per thread, reset before every request: a reset keeps the live connections, so a run of
// probes reuses one keep-alive connection the way the platform's own URL loading does.
CURL *threadHandle()
{
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (initialised != CURLE_OK)
        return nullptr;
    thread_local const std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    if (handle)
        curl_easy_reset(handle.get());
    return handle.get();
}

QString valueText(const QVariant &value)
{
    // Plain decimal digits with a point, whatever the locale: the shortest text that reads back as
    // the same double, never an exponent.
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'f', QLocale::FloatingPointShortest);
    return value.toString();
}

// Each entry as "&key=value", nothing escaped.
QString pairText(const QVariantMap &data)
{
    QString text;
    for (auto it = data.cbegin(); it != data.cend(); ++it)
        text += u'&' + it.key() + u'=' + valueText(it.value());
    return text;
}

void logRequestError(const QString &description)
{
    nimbara::log(QStringLiteral(" ! ERROR : request error ") + description);
}

// Sends one request and judges the answer; postBody is null for a GET.
QVariant exchange(const QByteArray &url, const QByteArray *postBody)
{
    CURL *const handle = threadHandle();
    if (!handle) {
        logRequestError(QStringLiteral("The HTTP client could not be initialised"));
        return {};
    }

    Body body;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, long(g_timeoutMs.load()));
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);

    std::unique_ptr<curl_slist, ListDeleter> headers;
    if (postBody) {
        const QByteArray length = "Content-Length: " + QByteArray::number(postBody->size());
        // "Expect:" only takes away the header curl adds to bodies over 1 MiB: a server that does not
        // answer "100 Continue" would otherwise stall the request for a second.
        for (const char *line :
             {length.constData(), "Content-Type: application/x-www-form-urlencoded", "Expect:"}) {
            curl_slist *const list = curl_slist_append(headers.get(), line);
            if (!list) {
                logRequestError(QStringLiteral("Out of memory"));
                return {};
            }
            if (!headers)
                headers.reset(list); // later appends return the same head
        }
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, postBody->constData());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(postBody->size()));
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    }

    const CURLcode code = curl_easy_perform(handle);
    if (code != CURLE_OK) {
        if (body.tooLarge)
            logRequestError(QStringLiteral("Answer too large: more than %1 bytes").arg(kMaxBodyBytes));
        else if (errorText[0])
            logRequestError(QString::fromUtf8(errorText).trimmed());
        else
            logRequestError(QString::fromUtf8(curl_easy_strerror(code)));
        return {};
    }

    // ASCII shows as itself and UTF-8 as its letters; bytes that are not UTF-8 show as U+FFFD.
    const QString bodyText = QString::fromUtf8(body.bytes);
    // Only an object or an array decodes; bare scalars, invalid UTF-8 and trailing garbage do not.
    const QJsonDocument json = QJsonDocument::fromJson(body.bytes);
    nimbara::log(bodyText);
    const bool hasEntries =
        json.isObject() ? !json.object().isEmpty() : json.isArray() && !json.array().isEmpty();
    if (!hasEntries) {
        nimbara::log(QStringLiteral(" ! ERROR : empty JSON response"));
        return {};
    }
    return json.toVariant();
}

} // namespace

QVariant WXWeather::makeRequestToURL(const QString &url, const QVariantMap &data)
{
    // The address goes out as the bytes given; one the HTTP client refuses (a space, a line break)
    // fails with its description.
    return exchange((url + pairText(data)).toUtf8(), nullptr);
}

QVariant WXWeather::makePostRequestToURL(const QString &url, const QVariantMap &data)
{
    const QByteArray body = pairText(data).toUtf8();
    nimbara::log(QStringLiteral("POST ") + url);
    return exchange(url.toUtf8(), &body);
}

void WXWeather::setTimeoutForTesting(int milliseconds)
{
    g_timeoutMs = milliseconds > 0 ? milliseconds : kDefaultTimeoutMs;
}
