#include "CommandLine.h"

#include "Autostart.h"
#include "BuildInfo.h"

namespace nimbara {

namespace {

// The options QGuiApplication and QApplication take themselves, with a value or without.
const char *const kQtValueOptions[] = {
    "platform",        "platformpluginpath", "platformtheme", "plugin",  "display", "geometry",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session", "style",   "stylesheet"};
const char *const kQtFlagOptions[] = {"reverse", "nograb", "dograb", "sync", "widgetcount"};

} // namespace

CommandLine::CommandLine(const QStringList &arguments)
{
    m_parser.setApplicationDescription(
        QStringLiteral("Shows the time, the current weather and the place on the desktop."));
    // Qt's options are single-dash words ("-platform xcb"), not bundles of letters.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    QCommandLineOption autostart(Autostart::launchArgument().mid(2),
                                 QStringLiteral("Started at login: wait up to two minutes for the display."));
    m_parser.addOptions({help, version, autostart});
    for (const char *name : kQtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(option);
    }
    for (const char *name : kQtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(option);
    }

    if (!m_parser.parse(arguments) || !m_parser.positionalArguments().isEmpty())
        m_action = Action::Refuse;
    else if (m_parser.isSet(help))
        m_action = Action::ShowHelp;
    else if (m_parser.isSet(version))
        m_action = Action::ShowVersion;
}

bool CommandLine::isAutostart() const
{
    return m_action == Action::Run && m_parser.isSet(Autostart::launchArgument().mid(2));
}

QString CommandLine::qtOption(const QString &name) const
{
    return m_action == Action::Run ? m_parser.value(name) : QString();
}

QString CommandLine::output() const
{
    // Without an application object Qt cannot name the program in the usage line.
    QString usage = m_parser.helpText();
    usage.replace(QLatin1String("<executable_name>"), QLatin1String("nimbara"));
    switch (m_action) {
    case Action::Run:
        return {};
    case Action::ShowHelp:
        return usage;
    case Action::ShowVersion:
        return QStringLiteral("nimbara " NIMBARA_VERSION " (build " NIMBARA_BUILD_NUMBER ")\n");
    case Action::Refuse:
        break;
    }
    const QString error =
        m_parser.errorText().isEmpty()
            ? QStringLiteral("Unexpected argument '%1'.").arg(m_parser.positionalArguments().value(0))
            : m_parser.errorText();
    return QStringLiteral("nimbara: ") + error + QLatin1Char('\n') + usage;
}

} // namespace nimbara
