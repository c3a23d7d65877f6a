#pragma once

#include <QString>
#include <QStringList>

namespace nimbara {

// Writes one log line, as its plain text, to stderr and to syslog (ident "nimbara").
void log(const QString &line);

// Collects every line written through log() while it lives, in order, for tests.
// Lines still go to stderr and syslog.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    void clear();

private:
    LogCapture *m_previous = nullptr;
    QStringList m_lines;
    friend void log(const QString &line);
};

} // namespace nimbara
