#pragma once

#include <QByteArray>
#include <QString>

namespace nimbara {

// What one request brought back: the whole answer body, whatever the status code, or the
// description of the failure.
struct HttpAnswer
{
    bool delivered = false;
    QByteArray body;
    QString error;
};

// One HTTP/1.1 request over plain TCP, sent exactly as given: the address's path and query go on the
// request line as their bytes (nothing escaped or normalised), followed by "Host", "Accept: */*" and,
// for a POST, "Content-Length" and "Content-Type: application/x-www-form-urlencoded"; no other
// header. postBody is null for a GET. Blocks the calling thread for at most timeoutMs in all, name
// lookup and connect included, without running its event loop. Redirects are not followed, and an
// answer whose body exceeds maxBodyBytes is a failure. One connection per thread is kept alive
// between calls to the same host and port; a GET that it brings nothing back for is sent again on a
// new connection, while a POST always goes out once, on a new connection.
HttpAnswer sendHttpRequest(const QByteArray &url, const QByteArray *postBody, int timeoutMs,
                           qsizetype maxBodyBytes);

} // namespace nimbara
