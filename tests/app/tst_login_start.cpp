#include "Autostart.h"
#include "BundleInfo.h"
#include "Localized.h"
#include "MainInterface.h"
#include "Menus.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <string>

#include <xcb/xcb.h>

using namespace nimbara;

namespace {

// A system tray on an X display as a panel provides one: a window owning the selection
// _NET_SYSTEM_TRAY_S<screen>, announced to the root window. It counts the dock requests it gets.
class FakeTray
{
public:
    explicit FakeTray(const QString &display)
    {
        int screenNumber = 0;
        m_connection = xcb_connect(display.toUtf8().constData(), &screenNumber);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&screens);
        const xcb_window_t root = screens.data->root;
        m_window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screens.data->root_visual, 0, nullptr);
        const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
        m_opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
        xcb_set_selection_owner(m_connection, m_window, selection, XCB_CURRENT_TIME);

        xcb_client_message_event_t announce = {};
        announce.response_type = XCB_CLIENT_MESSAGE;
        announce.format = 32;
        announce.window = root;
        announce.type = atom("MANAGER");
        announce.data.data32[0] = XCB_CURRENT_TIME;
        announce.data.data32[1] = selection;
        announce.data.data32[2] = m_window;
        xcb_send_event(m_connection, 0, root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&announce));
        xcb_flush(m_connection);
    }
    ~FakeTray()
    {
        xcb_destroy_window(m_connection, m_window);
        xcb_disconnect(m_connection);
    }
    FakeTray(const FakeTray &) = delete;
    FakeTray &operator=(const FakeTray &) = delete;

    int dockRequests()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                auto message = reinterpret_cast<xcb_client_message_event_t *>(event);
                // Opcode 0 is SYSTEM_TRAY_REQUEST_DOCK.
                if (message->type == m_opcode && message->data.data32[1] == 0)
                    ++m_dockRequests;
            }
            free(event);
        }
        return m_dockRequests;
    }

private:
    xcb_atom_t atom(const std::string &name)
    {
        auto reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(name.size()), name.c_str()),
            nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return value;
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_window = 0;
    xcb_atom_t m_opcode = XCB_ATOM_NONE;
    int m_dockRequests = 0;
};

QString freeDisplay()
{
    int number = 160;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        ++number;
    return QStringLiteral(":%1").arg(number);
}

} // namespace

// Start at login: the menu item that writes the autostart entry, and the executable started by that
// entry before the desktop is ready (no X server yet, then no tray yet).
class TestLoginStart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void menuItem_writesAndRemovesEntry();
    void menuItem_entryCannotBeWritten_staysUnchecked();
    void startedBeforeDesktop_waitsForDisplayAndTray();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_savedConfigHome;
};

void TestLoginStart::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("config")).toUtf8());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       m_dir->filePath(QStringLiteral("settings")));
    installTranslations(QLocale(QStringLiteral("de_DE")));
}

void TestLoginStart::cleanup()
{
    if (m_savedConfigHome.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", m_savedConfigHome);
    m_dir.reset();
}

void TestLoginStart::menuItem_writesAndRemovesEntry()
{
    MainInterface interface;
    QAction *item = interface.menus()->startAtLogin();
    QVERIFY(interface.menus()->menu()->actions().contains(item));
    QCOMPARE(item->text(), QStringLiteral("Beim Anmelden starten"));
    QVERIFY(item->isCheckable());
    QVERIFY(!item->isChecked());

    const QString entry = m_dir->filePath(QStringLiteral("config/autostart/nimbara.desktop"));
    item->trigger();
    QVERIFY(item->isChecked());
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains((QStringLiteral("\nExec=") +
                                     Autostart::execValue({bundlePath(), QStringLiteral("--autostart")}) +
                                     QLatin1Char('\n'))
                                        .toUtf8()));
    file.close();

    item->trigger();
    QVERIFY(!item->isChecked());
    QVERIFY(!QFile::exists(entry));

    // Switched on and off in the desktop's own settings: the item shows it when the menu opens.
    QVERIFY(Autostart::setEnabled(true, QStringLiteral("/usr/bin/nimbara")));
    emit interface.menus()->menu()->aboutToShow();
    QVERIFY(item->isChecked());
    QVERIFY(file.open(QIODevice::Append));
    file.write("Hidden=true\n");
    file.close();
    emit interface.menus()->menu()->aboutToShow();
    QVERIFY(!item->isChecked());
}

void TestLoginStart::menuItem_entryCannotBeWritten_staysUnchecked()
{
    // A file where the autostart folder belongs.
    QFile blocker(m_dir->filePath(QStringLiteral("config/autostart")));
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("config"))));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    MainInterface interface;
    QAction *item = interface.menus()->startAtLogin();
    item->trigger();
    QVERIFY(!item->isChecked());
}

void TestLoginStart::startedBeforeDesktop_waitsForDisplayAndTray()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        QSKIP("Xvfb is not installed");
    const QString display = freeDisplay();

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    // As the session starts it: on the X11 platform.
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(NIMBARA_EXECUTABLE), {QStringLiteral("--autostart")});
    QVERIFY(app.waitForStarted());
    QByteArray output;
    auto readOutput = [&] {
        return output += app.readAllStandardError();
    };
    QTRY_VERIFY_WITH_TIMEOUT(readOutput().contains("waiting for the X server on " + display.toUtf8()), 20000);
    QCOMPARE(app.state(), QProcess::Running);

    QProcess server;
    server.start(xvfb, {display, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(server.waitForStarted());
    auto stop = qScopeGuard([&] {
        app.kill();
        app.waitForFinished();
        server.terminate();
        server.waitForFinished();
    });
    QTRY_VERIFY_WITH_TIMEOUT(readOutput().contains("the X server answers on " + display.toUtf8()), 20000);
    // The launch ends with the first-run values written, "celsius" last.
    const QString settings = m_dir->filePath(QStringLiteral("config/Nimbara/Nimbara.conf"));
    QTRY_VERIFY_WITH_TIMEOUT(
        QSettings(settings, QSettings::IniFormat).value(QStringLiteral("celsius")).toString() ==
            QStringLiteral("true"),
        20000);

    // Now the panel comes with its tray: the icon docks into it.
    FakeTray tray(display);
    QTRY_VERIFY_WITH_TIMEOUT(tray.dockRequests() >= 1, 20000);
    QCOMPARE(app.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    QVERIFY(app.waitForFinished(20000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
}

QTEST_MAIN(TestLoginStart)
#include "tst_login_start.moc"
