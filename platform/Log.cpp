#include "Log.h"

#include <cstdio>
#include <syslog.h>

namespace nimbara {

namespace {
LogCapture *g_capture = nullptr;

void openSyslogOnce()
{
    static const bool opened = [] {
        openlog("nimbara", LOG_NDELAY, LOG_USER);
        return true;
    }();
    (void)opened;
}
} // namespace

void log(const QString &line)
{
    const QByteArray text = line.toUtf8();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
    openSyslogOnce();
    syslog(LOG_INFO, "%s", text.constData());
    if (g_capture)
        g_capture->m_lines.append(line);
}

LogCapture::LogCapture()
    : m_previous(g_capture)
{
    g_capture = this;
}

LogCapture::~LogCapture()
{
    g_capture = m_previous;
}

QStringList LogCapture::lines() const
{
    return m_lines;
}

void LogCapture::clear()
{
    m_lines.clear();
}

} // namespace nimbara
