#include "Autostart.h"
#include "Log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace nimbara;
using namespace std::chrono_literals;

class TestAutostart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void setEnabled_writesAndRemovesEntry();
    void entryPath_followsXdgConfigHome();
    void isEnabled_desktopSwitchedOff_readsOff();
    void setEnabled_systemEntry_offHidesIt();
    void setEnabled_unwritableFolder_failsAndLogs();
    void execValue_quotesAndEscapes_data();
    void execValue_quotesAndEscapes();
    void entryText_refusesPathsAnEntryCannotHold_data();
    void entryText_refusesPathsAnEntryCannotHold();
    void entryText_passesDesktopFileValidate();
    void waitForDisplay_lateServer_waitsForIt();
    void waitForDisplay_noServer_givesUpAtLimit();

private:
    QString writeFile(const QString &path, const QByteArray &text);

    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_savedConfigHome, m_savedConfigDirs, m_savedHome, m_savedDisplay;
};

void TestAutostart::init()
{
    m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
    m_savedConfigDirs = qgetenv("XDG_CONFIG_DIRS");
    m_savedHome = qgetenv("HOME");
    m_savedDisplay = qgetenv("DISPLAY");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", m_dir->filePath(QStringLiteral("xdg")).toUtf8());
}

void TestAutostart::cleanup()
{
    auto restore = [](const char *name, const QByteArray &value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("XDG_CONFIG_HOME", m_savedConfigHome);
    restore("XDG_CONFIG_DIRS", m_savedConfigDirs);
    restore("HOME", m_savedHome);
    restore("DISPLAY", m_savedDisplay);
    m_dir.reset();
}

QString TestAutostart::writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestAutostart::setEnabled_writesAndRemovesEntry()
{
    const QString entry = m_dir->filePath(QStringLiteral("config/autostart/nimbara.desktop"));
    QCOMPARE(Autostart::entryPath(), entry);
    QVERIFY(!Autostart::isEnabled());

    QVERIFY(Autostart::setEnabled(true, QStringLiteral("/usr/bin/nimbara")));
    QVERIFY(Autostart::isEnabled());
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(text.startsWith(QLatin1String("[Desktop Entry]\n")), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("\nExec=/usr/bin/nimbara --autostart\n")), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("\nTryExec=/usr/bin/nimbara\n")), qPrintable(text));
    file.close();

    // Switching on twice rewrites the entry; switching off twice is no failure either.
    QVERIFY(Autostart::setEnabled(true, QStringLiteral("/usr/bin/nimbara")));
    QVERIFY(Autostart::setEnabled(false));
    QVERIFY(!QFile::exists(entry));
    QVERIFY(!Autostart::isEnabled());
    QVERIFY(Autostart::setEnabled(false));
    QCOMPARE(QDir(m_dir->filePath(QStringLiteral("config/autostart"))).entryList(QDir::Files), QStringList());
}

void TestAutostart::entryPath_followsXdgConfigHome()
{
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", m_dir->filePath(QStringLiteral("home")).toUtf8());
    QCOMPARE(Autostart::entryPath(),
             m_dir->filePath(QStringLiteral("home/.config/autostart/nimbara.desktop")));
    QVERIFY(Autostart::setEnabled(true, QStringLiteral("/opt/nimbara/bin/nimbara")));
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("home/.config/autostart/nimbara.desktop"))));

    qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("elsewhere")).toUtf8());
    QVERIFY(!Autostart::isEnabled());
    QVERIFY(Autostart::setEnabled(true, QStringLiteral("/opt/nimbara/bin/nimbara")));
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("elsewhere/autostart/nimbara.desktop"))));
}

void TestAutostart::isEnabled_desktopSwitchedOff_readsOff()
{
    QVERIFY(Autostart::setEnabled(true, QStringLiteral("/usr/bin/nimbara")));
    QFile file(Autostart::entryPath());
    QVERIFY(file.open(QIODevice::Append));
    file.write("Hidden=true\n");
    file.close();
    QVERIFY(!Autostart::isEnabled());

    writeFile(Autostart::entryPath(), "[Desktop Entry]\nExec=nimbara\nX-GNOME-Autostart-enabled=false\n");
    QVERIFY(!Autostart::isEnabled());
    // The key counts in the main group only.
    writeFile(Autostart::entryPath(), "[Desktop Entry]\nExec=nimbara\n[Desktop Action x]\nHidden=true\n");
    QVERIFY(Autostart::isEnabled());
}

void TestAutostart::setEnabled_systemEntry_offHidesIt()
{
    writeFile(m_dir->filePath(QStringLiteral("xdg/autostart/nimbara.desktop")),
              "[Desktop Entry]\nType=Application\nName=Nimbara\nExec=nimbara --autostart\n");
    QVERIFY(Autostart::isEnabled());

    QVERIFY(Autostart::setEnabled(false));
    QVERIFY(!Autostart::isEnabled());
    QFile file(Autostart::entryPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("\nHidden=true\n"));
    file.close();

    QVERIFY(Autostart::setEnabled(true, QStringLiteral("/usr/bin/nimbara")));
    QVERIFY(Autostart::isEnabled());
}

void TestAutostart::setEnabled_unwritableFolder_failsAndLogs()
{
    // A file where the autostart folder should be: no amount of rights creates the folder.
    writeFile(m_dir->filePath(QStringLiteral("config/autostart")), "not a folder");
    LogCapture capture;
    QVERIFY(!Autostart::setEnabled(true, QStringLiteral("/usr/bin/nimbara")));
    QVERIFY(!Autostart::isEnabled());
    QCOMPARE(capture.lines().size(), 1);
    QVERIFY2(capture.lines().first().startsWith(QLatin1String("autostart: cannot")),
             qPrintable(capture.lines().first()));

    capture.clear();
    QVERIFY(!Autostart::setEnabled(true, QStringLiteral("bin/nimbara")));
    QCOMPARE(capture.lines(), QStringList{QStringLiteral(
                                  "autostart: cannot start this path from an autostart entry: bin/nimbara")});
}

void TestAutostart::execValue_quotesAndEscapes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("exec");
    // Expected values spelled out from the desktop entry rules: quote an argument that holds a
    // reserved character, escape " ` $ \ inside the quotes, double "%", then double every "\".
    QTest::newRow("plain") << QStringList{QStringLiteral("/usr/bin/nimbara"), QStringLiteral("--autostart")}
                           << QStringLiteral("/usr/bin/nimbara --autostart");
    QTest::newRow("blank") << QStringList{QStringLiteral("/home/a b/nimbara")}
                           << QStringLiteral("\"/home/a b/nimbara\"");
    QTest::newRow("dollar") << QStringList{QStringLiteral("/x/$HOME/nimbara")}
                            << QStringLiteral("\"/x/\\\\$HOME/nimbara\"");
    QTest::newRow("backslash") << QStringList{QStringLiteral("/x\\y/nimbara")}
                               << QStringLiteral("\"/x\\\\\\\\y/nimbara\"");
    QTest::newRow("double quote") << QStringList{QStringLiteral("/x\"y")} << QStringLiteral("\"/x\\\\\"y\"");
    QTest::newRow("backquote") << QStringList{QStringLiteral("/x`id`")}
                               << QStringLiteral("\"/x\\\\`id\\\\`\"");
    QTest::newRow("single quote") << QStringList{QStringLiteral("/it's")} << QStringLiteral("\"/it's\"");
    QTest::newRow("percent") << QStringList{QStringLiteral("/100%/nimbara")}
                             << QStringLiteral("/100%%/nimbara");
    QTest::newRow("percent quoted") << QStringList{QStringLiteral("/a b%f")} << QStringLiteral("\"/a b%%f\"");
    QTest::newRow("shell characters") << QStringList{QStringLiteral("/a;b&c|d>e<f~g*h?i#j(k)")}
                                      << QStringLiteral("\"/a;b&c|d>e<f~g*h?i#j(k)\"");
    QTest::newRow("unicode") << QStringList{QStringLiteral("/home/jürgen/nimbara")}
                             << QStringLiteral("/home/jürgen/nimbara");
}

void TestAutostart::execValue_quotesAndEscapes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, exec);
    QCOMPARE(Autostart::execValue(arguments), exec);
}

void TestAutostart::entryText_refusesPathsAnEntryCannotHold_data()
{
    QTest::addColumn<QString>("executable");
    QTest::newRow("relative") << QStringLiteral("nimbara");
    QTest::newRow("empty") << QString();
    QTest::newRow("equals sign") << QStringLiteral("/opt/a=b/nimbara");
    QTest::newRow("line break") << QStringLiteral("/opt/a\nExec=/bin/evil");
    QTest::newRow("carriage return") << QStringLiteral("/opt/a\rb");
}

void TestAutostart::entryText_refusesPathsAnEntryCannotHold()
{
    QFETCH(QString, executable);
    QCOMPARE(Autostart::entryText(executable), QString());
    QVERIFY(!Autostart::setEnabled(true, executable));
    QVERIFY(!QFile::exists(Autostart::entryPath()));
}

void TestAutostart::entryText_passesDesktopFileValidate()
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate (desktop-file-utils) is not installed");
    for (const QString &executable :
         {QStringLiteral("/usr/bin/nimbara"), QStringLiteral("/home/a b/$x`y\\z\"/nimbara")}) {
        const QString path = writeFile(m_dir->filePath(QStringLiteral("check/nimbara.desktop")),
                                       Autostart::entryText(executable).toUtf8());
        QProcess process;
        process.start(validator, {path});
        QVERIFY(process.waitForFinished());
        const QByteArray output = process.readAllStandardOutput() + process.readAllStandardError();
        QVERIFY2(process.exitCode() == 0 && output.isEmpty(), output.constData());
    }
}

namespace {
QString freeDisplay()
{
    int number = 150;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        ++number;
    return QStringLiteral(":%1").arg(number);
}
} // namespace

void TestAutostart::waitForDisplay_lateServer_waitsForIt()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        QSKIP("Xvfb is not installed");
    const QString display = freeDisplay();
    qputenv("DISPLAY", display.toUtf8());

    // The server comes half a second late, as it may when the session starts its programs.
    LogCapture capture;
    QProcess server;
    server.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"), QStringLiteral("sleep 0.5; exec \"$0\" \"$@\""), xvfb, display,
                  QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(server.waitForStarted());
    const bool answered = Autostart::waitForDisplay(30s, 100ms);
    server.terminate();
    server.waitForFinished();
    QVERIFY(answered);
    QCOMPARE(capture.lines(), (QStringList{QStringLiteral("waiting for the X server on ") + display,
                                           QStringLiteral("the X server answers on ") + display}));
}

void TestAutostart::waitForDisplay_noServer_givesUpAtLimit()
{
    const QString display = freeDisplay();
    qputenv("DISPLAY", display.toUtf8());
    LogCapture capture;
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!Autostart::waitForDisplay(300ms, 50ms));
    QVERIFY(elapsed.elapsed() >= 300);
    QCOMPARE(capture.lines(), (QStringList{QStringLiteral("waiting for the X server on ") + display,
                                           QStringLiteral("no X server answers on ") + display +
                                               QStringLiteral(" after 0.3 s")}));
}

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
