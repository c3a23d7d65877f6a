#pragma once

#include <QCommandLineParser>
#include <QStringList>

namespace nimbara {

// The widget's command line, read before the application object exists: --help and --version are
// answered without a display and without a word to a running instance; --autostart is the login
// start's mark. Qt's own display options (-platform, -display, -style, …) pass through to Qt.
class CommandLine
{
public:
    enum class Action { Run, ShowHelp, ShowVersion, Refuse };

    // arguments: the whole command line, the program's name first.
    explicit CommandLine(const QStringList &arguments);

    Action action() const { return m_action; }
    bool isAutostart() const;
    // The value of one of Qt's own options ("platform", "display", …); empty when not given.
    QString qtOption(const QString &name) const;

    // What to print for the action (standard output for help and version, standard error for a
    // refusal, which adds the usage), and the exit status to end with: 0, or 2 for a refusal.
    QString output() const;
    int exitStatus() const { return m_action == Action::Refuse ? 2 : 0; }

private:
    QCommandLineParser m_parser;
    Action m_action = Action::Run;
};

} // namespace nimbara
