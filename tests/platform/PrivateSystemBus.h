#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>

namespace nimbara {

// A D-Bus daemon of the system bus's kind in a temporary folder, open to everyone. It becomes this
// process's (and its children's) system bus through DBUS_SYSTEM_BUS_ADDRESS: create it before
// anything touches QDBusConnection::systemBus(), which reads the address once.
class PrivateSystemBus
{
public:
    PrivateSystemBus()
    {
        const QString socket = m_dir.filePath(QStringLiteral("system_bus_socket"));
        const QString config = m_dir.filePath(QStringLiteral("system.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        // A system bus that lets everyone own names and call everything: the tests play GeoClue.
        file.write(QStringLiteral(
                       "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig>\n"
                       "  <type>system</type>\n"
                       "  <listen>unix:path=%1</listen>\n"
                       "  <auth>EXTERNAL</auth>\n"
                       "  <policy context=\"default\">\n"
                       "    <allow user=\"*\"/>\n"
                       "    <allow own=\"*\"/>\n"
                       "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                       "    <allow eavesdrop=\"true\"/>\n"
                       "  </policy>\n"
                       "</busconfig>\n")
                       .arg(socket)
                       .toUtf8());
        file.close();
        m_daemon.start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--nosyslog"), QStringLiteral("--print-address")});
        if (!m_daemon.waitForReadyRead(10'000))
            return;
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    }

    ~PrivateSystemBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }

    PrivateSystemBus(const PrivateSystemBus &) = delete;
    PrivateSystemBus &operator=(const PrivateSystemBus &) = delete;

    // The bus's address; empty when the daemon did not start.
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// The GeoClue stand-in (geoclue_standin) on the bus DBUS_SYSTEM_BUS_ADDRESS names, for as long as
// this object lives. start() returns once the stand-in owns org.freedesktop.GeoClue2.
class GeoClueStandIn
{
public:
    explicit GeoClueStandIn(QString program)
        : m_program(std::move(program))
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }

    ~GeoClueStandIn() { stop(); }

    GeoClueStandIn(const GeoClueStandIn &) = delete;
    GeoClueStandIn &operator=(const GeoClueStandIn &) = delete;

    bool start(const QStringList &arguments)
    {
        m_process.start(m_program, arguments);
        while (m_process.waitForReadyRead(10'000)) {
            m_output += m_process.readAll();
            if (m_output.contains("ready\n"))
                return true;
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        m_process.waitForFinished(5000);
    }

    // Everything the stand-in printed so far ("ready", then "start DESKTOP_ID" a line).
    QByteArray output()
    {
        m_output += m_process.readAll();
        return m_output;
    }

private:
    QString m_program;
    QProcess m_process;
    QByteArray m_output;
};

} // namespace nimbara
