#include "Localized.h"
#include "ProgramOutput.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

namespace {
// The directory the copy of the executable runs from: every character that breaks a command made
// by splicing the path into shell text.
const QString kHostileDir = QStringLiteral("nim \"q\" $HOME `id` $(id) back\\slash 'x'");
const QRect kFrame(210, 180, 720, 160);
// A point of the backing box away from the text: the desktop (black) shows there while the widget
// is locked, the box (white, whiteColor false) while it is unlocked.
const QPoint kBoxPoint(4, 60);

} // namespace

// The real executable under a real X server: re-opening it toggles its lock, and the align button
// relaunches a copy of it from a directory with a hostile name.
class TestRelaunch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void reopenToggles_alignRelaunchesFromHostilePath();

private:
    QProcess *startCopy();
    // The visible top-level windows of a process, with their frames on the screen.
    static QList<QRect> windowsOf(qint64 pid);
    // Whether the widget shows its backing box at kBoxPoint (bright) or the desktop (dark).
    static std::optional<bool> boxShown();
    // A process other than `except` running the executable at `path`.
    static qint64 processRunning(const QString &path, qint64 except);
    QPoint alignButtonCenter();

    QTemporaryDir m_home;
    QString m_copy;
    QProcessEnvironment m_environment;
    QList<qint64> m_started;
};

void TestRelaunch::initTestCase()
{
    QVERIFY(m_home.isValid());
    QVERIFY(!programOutput(QStringLiteral("xdotool"), {QStringLiteral("version")}).isEmpty());
    // The locked widget shows the desktop through its box: black, whatever an earlier test on the
    // same display painted there.
    QCOMPARE(
        QProcess::execute(QStringLiteral("hsetroot"), {QStringLiteral("-solid"), QStringLiteral("#000000")}),
        0);
    const QString dir = m_home.filePath(kHostileDir);
    QVERIFY(QDir().mkpath(dir));
    m_copy = dir + QStringLiteral("/nimbara");
    QVERIFY(QFile::copy(QStringLiteral(NIMBARA_EXECUTABLE), m_copy));
    QVERIFY(QFile::setPermissions(m_copy, QFile::permissions(m_copy) | QFile::ExeOwner));

    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("HOME"), m_home.path());
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    m_environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_environment.remove(QStringLiteral("NIMBARA_RELAUNCHED"));
    // The probe widget below reads its settings from the same temporary home.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       m_home.filePath(QStringLiteral("config")));

    QSettings settings(m_home.filePath(QStringLiteral("config/Nimbara/Nimbara.conf")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("initialized"), true);
    settings.setValue(QStringLiteral("originX"), float(kFrame.x()));
    settings.setValue(QStringLiteral("originY"), float(kFrame.y()));
    settings.setValue(QStringLiteral("sizeWidth"), float(kFrame.width()));
    settings.setValue(QStringLiteral("sizeHeight"), float(kFrame.height()));
    for (const char *key : {"locationEnabled", "textAlign", "dateEnabled", "celsius"})
        settings.setValue(QString::fromLatin1(key), true);
    settings.setValue(QStringLiteral("whiteColor"), false);
    settings.setValue(QStringLiteral("positionSource"), QStringLiteral("fixed:51.5074,-0.1278"));
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
}

void TestRelaunch::cleanup()
{
    for (qint64 pid : std::as_const(m_started))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    m_started.clear();
}

QProcess *TestRelaunch::startCopy()
{
    auto process = new QProcess(this);
    process->setProcessEnvironment(m_environment);
    // A relaunched instance inherits these: the log of both ends up in one file.
    process->setStandardOutputFile(m_home.filePath(QStringLiteral("log.txt")), QIODevice::Append);
    process->setStandardErrorFile(m_home.filePath(QStringLiteral("log.txt")), QIODevice::Append);
    process->start(m_copy, {});
    return process;
}

QList<QRect> TestRelaunch::windowsOf(qint64 pid)
{
    QList<QRect> frames;
    const QStringList ids =
        programOutput(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                  QStringLiteral("--pid"), QString::number(pid)});
    for (const QString &id : ids) {
        QMap<QString, int> values;
        for (const QString &line :
             programOutput(QStringLiteral("xdotool"),
                           {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id}))
            values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
        frames << QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                        values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
    }
    return frames;
}

std::optional<bool> TestRelaunch::boxShown()
{
    const QPoint at = kFrame.topLeft() + kBoxPoint;
    const QColor pixel =
        QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), 1, 1).toImage().pixelColor(0, 0);
    const int sum = pixel.red() + pixel.green() + pixel.blue();
    if (sum > 450)
        return true;
    if (sum < 60)
        return false;
    return std::nullopt; // mid-fade
}

qint64 TestRelaunch::processRunning(const QString &path, qint64 except)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok && pid != except && QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) == target)
            return pid;
    }
    return 0;
}

QPoint TestRelaunch::alignButtonCenter()
{
    // The same interface definition, laid out for the same frame, off screen.
    nimbara::installTranslations(QLocale(QStringLiteral("en_US")));
    WXDesktopWindow probe;
    probe.awakeFromNib();
    probe.setAttribute(Qt::WA_DontShowOnScreen);
    probe.setFrame(QRectF(kFrame), false);
    probe.show();
    QPushButton *align = probe.ui->alignButton;
    const QPoint center = align->mapTo(&probe, align->rect().center());
    probe.hide();
    return kFrame.topLeft() + center;
}

void TestRelaunch::reopenToggles_alignRelaunchesFromHostilePath()
{
    QProcess *first = startCopy();
    QVERIFY(first->waitForStarted());
    const qint64 firstPid = first->processId();
    m_started << firstPid;
    QTRY_VERIFY_WITH_TIMEOUT(windowsOf(firstPid).contains(kFrame), 20000);
    // A mapped window is shaped and painted a moment later; on a loaded machine that can take seconds.
    QTRY_COMPARE_WITH_TIMEOUT(boxShown(), std::optional<bool>(false), 20000);

    // Each start of the running application toggles its lock; the second process leaves at once.
    for (const bool unlocked : {true, false, true}) {
        QProcess *again = startCopy();
        QVERIFY(again->waitForFinished(20000));
        QCOMPARE(again->exitCode(), 0);
        QTRY_COMPARE(boxShown(), std::optional<bool>(unlocked));
        QCOMPARE(first->state(), QProcess::Running);
    }

    // The align button of the unlocked widget: the new alignment is stored, the application relaunches.
    const QPoint align = alignButtonCenter();
    QVERIFY(programOutput(QStringLiteral("xdotool"),
                          {QStringLiteral("mousemove"), QString::number(align.x()),
                           QString::number(align.y()), QStringLiteral("click"), QStringLiteral("1")})
                .isEmpty());
    QVERIFY(first->waitForFinished(20000));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);

    QFile log(m_home.filePath(QStringLiteral("log.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll())
                .split(QLatin1Char('\n'))
                .contains(QStringLiteral("application: app relaunching")));
    QSettings saved(m_home.filePath(QStringLiteral("config/Nimbara/Nimbara.conf")), QSettings::IniFormat);
    QCOMPARE(saved.value(QStringLiteral("textAlign")).toString(), QStringLiteral("false"));
    const QRect savedFrame(
        saved.value(QStringLiteral("originX")).toInt(), saved.value(QStringLiteral("originY")).toInt(),
        saved.value(QStringLiteral("sizeWidth")).toInt(), saved.value(QStringLiteral("sizeHeight")).toInt());
    QCOMPARE(savedFrame, kFrame);

    // A new instance runs from the hostile path, at the saved frame, locked.
    qint64 nextPid = 0;
    QTRY_VERIFY_WITH_TIMEOUT((nextPid = processRunning(m_copy, firstPid)) != 0, 20000);
    m_started << nextPid;
    QTRY_VERIFY_WITH_TIMEOUT(windowsOf(nextPid).contains(savedFrame), 20000);
    QTRY_COMPARE(boxShown(), std::optional<bool>(false));
    // Nothing in the directory's name ran as a command.
    QVERIFY(!QFile::exists(m_home.filePath(QStringLiteral("id"))));

    ::kill(static_cast<pid_t>(nextPid), SIGTERM);
    // Its parent is gone: it is no child of ours, and a zombie counts as ended.
    QTRY_VERIFY_WITH_TIMEOUT(!QFile(QStringLiteral("/proc/%1/exe").arg(nextPid)).exists() ||
                                 QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(nextPid)).isEmpty(),
                             20000);
}

QTEST_MAIN(TestRelaunch)
#include "tst_relaunch.moc"
