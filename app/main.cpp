#include "Autostart.h"
#include "BundleInfo.h"
#include "CommandLine.h"
#include "Localized.h"
#include "MainInterface.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "WXAppDelegate.h"
#include "WindowSystem.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <malloc.h>

int main(int argc, char *argv[])
{
    // Everything runs on the main thread; the few others (the X event reader, the bus, a name
    // lookup) seldom allocate. One heap serves them all, where glibc would give each thread an arena
    // of its own and keep its touched pages for the life of the process. Set before any thread starts.
    mallopt(M_ARENA_MAX, 1);
    // Help, the version and a mistyped option are answered here, before anything needs a display or
    // speaks to a running instance.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const nimbara::CommandLine commandLine(arguments);
    if (commandLine.action() != nimbara::CommandLine::Action::Run) {
        const QByteArray text = commandLine.output().toLocal8Bit();
        std::fputs(text.constData(), commandLine.exitStatus() == 0 ? stdout : stderr);
        return commandLine.exitStatus();
    }
    // A layer-shell surface where the Wayland compositor offers one, X11 (XWayland) elsewhere.
    nimbara::chooseWindowSystem();
    // Qt's -platform wins over the variable, and -display names the X server as DISPLAY does.
    const QString platform = commandLine.qtOption(QStringLiteral("platform"));
    if ((platform.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : platform) == QLatin1String("xcb")) {
        if (const QString display = commandLine.qtOption(QStringLiteral("display")); !display.isEmpty())
            qputenv("DISPLAY", display.toLocal8Bit());
        // Started at login, the application may come before the X server does: wait for it, for a
        // bounded time, instead of failing. Otherwise no X server is an error said in one line,
        // where Qt would abort with a core dump.
        if (!nimbara::Autostart::waitForDisplay(commandLine.isAutostart()
                                                    ? std::chrono::milliseconds(std::chrono::minutes(2))
                                                    : std::chrono::milliseconds(0)))
            return 1;
    }

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Nimbara"));
    QCoreApplication::setApplicationName(QStringLiteral("Nimbara"));
    // Only Quit ends the application: the widget is closed and shown again during the launch.
    QApplication::setQuitOnLastWindowClosed(false);
    nimbara::initBundleInfo();
    // A language without a table of its own (or the C locale of a bare session) reads English rather
    // than the keys.
    if (nimbara::installTranslations().isEmpty())
        nimbara::installTranslations(QLocale(QLocale::English, QLocale::UnitedStates));

    // One instance per user and settings file, so that two never write the same settings.
    const QString settingsFile =
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QCoreApplication::organizationName(),
                  QCoreApplication::applicationName())
            .fileName();
    nimbara::SingleInstance instance(nimbara::SingleInstance::defaultName(settingsFile));
    switch (instance.start()) {
    case nimbara::SingleInstance::Role::Secondary:
        return 0;
    case nimbara::SingleInstance::Role::Failed:
        return 1;
    case nimbara::SingleInstance::Role::Primary:
        break;
    }
    nimbara::handleTerminationSignals();

    MainInterface interface;
    interface.delegate()->connectApplication(&instance);
    interface.delegate()->applicationDidFinishLaunching();
    // Starting leaves freed pages inside the heap (translations, fonts, the first paint and the first
    // exchange) that glibc keeps dirty for the life of the process: give them back once, when the
    // start has settled.
    QTimer::singleShot(std::chrono::seconds(5), [] { malloc_trim(0); });
    return app.exec();
}
