#pragma once

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSize>
#include <QTest>
#include <QThread>

#include <csignal>

// An X server (Xvfb) of a test's own on the first free display number from 300, made this process's
// (and its children's) DISPLAY with the xcb platform. A window manager leaves properties on the
// root window when it ends, which would mislead the tests that run after it on a shared display.
class PrivateXServer
{
public:
    PrivateXServer() = default;
    PrivateXServer(const PrivateXServer &) = delete;
    PrivateXServer &operator=(const PrivateXServer &) = delete;
    ~PrivateXServer()
    {
        if (m_pid > 0)
            ::kill(static_cast<pid_t>(m_pid), SIGTERM);
    }

    bool start(const QSize &size)
    {
        int display = 300;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)) ||
               QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display)))
            ++display;
        m_name = QStringLiteral(":%1").arg(display);
        if (!QProcess::startDetached(QStringLiteral("Xvfb"),
                                     {m_name, QStringLiteral("-screen"), QStringLiteral("0"),
                                      QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
                                      QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                                     {}, &m_pid))
            return false;
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
        for (int wait = 0; wait < 100 && !QFile::exists(socket); ++wait)
            QThread::msleep(50);
        qputenv("DISPLAY", m_name.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        return QFile::exists(socket);
    }

    // Waits (bounded) until a window manager announces itself by the window it names on the root
    // window, then a moment more: a window mapped while the manager is still settling in is not
    // always shown.
    static bool waitForWindowManager()
    {
        for (int wait = 0; wait < 100; ++wait) {
            QProcess probe;
            probe.start(QStringLiteral("xprop"),
                        {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
            probe.waitForFinished();
            if (probe.readAllStandardOutput().contains("window id")) {
                QThread::msleep(1000);
                return true;
            }
            QThread::msleep(50);
        }
        return false;
    }

    // Runs the tests of `Test` with a window manager (`program`) on this server, ended after them.
    template <typename Test>
    static int
    execUnderWindowManager(int argc, char *argv[], const QString &program, const QStringList &arguments = {},
                           const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        QApplication app(argc, argv);
        QProcess manager;
        manager.setProcessEnvironment(environment);
        manager.start(program, arguments);
        if (!waitForWindowManager())
            return 1;
        Test test;
        const int status = QTest::qExec(&test, argc, argv);
        manager.terminate();
        manager.waitForFinished();
        return status;
    }

    QString name() const { return m_name; }

private:
    QString m_name;
    qint64 m_pid = 0;
};
