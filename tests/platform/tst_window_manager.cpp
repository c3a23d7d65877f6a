#include "MoveResizeHandler.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <csignal>
#include <memory>

using namespace nimbara;

namespace {
// Counts the drags (motion with the button held) that reach the window: none while the window
// manager moves it.
class MotionCounter : public QObject
{
public:
    int moves = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseMove &&
            static_cast<QMouseEvent *>(event)->buttons() != Qt::NoButton)
            ++moves;
        return false;
    }
};

void xdotool(const QStringList &arguments)
{
    QProcess::execute(QStringLiteral("xdotool"), arguments);
}

void dragWithRealPointer(const QPoint &start, const QPoint &by)
{
    xdotool({QStringLiteral("mousemove"), QString::number(start.x()), QString::number(start.y()),
             QStringLiteral("mousedown"), QStringLiteral("1")});
    // The window hands the drag to the manager, which grabs the pointer: give it that moment.
    QTest::qWait(300);
    for (int step = 1; step <= 4; ++step) {
        const QPoint at = start + by * step / 4;
        xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});
        QTest::qWait(50);
    }
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
}
} // namespace

// Moving and resizing a frameless window under a real window manager (openbox) with the real pointer
// (XTest), on an X server of this test's own: a manager leaves properties on the root window when it
// ends, which would mislead the tests that run after it on a shared display.
class TestWindowManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void move_byBackgroundGoesThroughTheManager();
    void resize_fromEdgeKeepsProportionUnderTheManager();

private:
    std::unique_ptr<QWidget> m_window;
    MoveResizeHandler *m_handler = nullptr;
};

void TestWindowManager::init()
{
    m_window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    m_window->setGeometry(100, 100, 300, 200);
    m_handler = new MoveResizeHandler(m_window.get());
    m_handler->setMovable(true);
    m_handler->setMovableByWindowBackground(true);
    m_handler->setResizable(true);
    m_handler->setAspectRatio(QSizeF(3, 2));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTest::qWait(200); // the manager places and frames the new window
}

void TestWindowManager::cleanup()
{
    m_window.reset();
}

void TestWindowManager::move_byBackgroundGoesThroughTheManager()
{
    const QRect before = m_window->geometry();
    MotionCounter counter;
    m_window->windowHandle()->installEventFilter(&counter);
    dragWithRealPointer(m_window->mapToGlobal(QPoint(100, 150)), {60, 40});
    QTRY_COMPARE(m_window->geometry(), before.translated(60, 40));
    // The manager carried the window: the four steps of the drag went to it, not to the window (which
    // may see one motion as the manager lets go).
    QVERIFY2(counter.moves <= 1, qPrintable(QString::number(counter.moves)));
}

void TestWindowManager::resize_fromEdgeKeepsProportionUnderTheManager()
{
    const QRect before = m_window->geometry();
    dragWithRealPointer(m_window->mapToGlobal(QPoint(298, 100)), {60, 0});
    QTRY_COMPARE(m_window->geometry(), QRect(before.topLeft(), QSize(360, 240)));
}

int main(int argc, char *argv[])
{
    const QStringList needed{QStringLiteral("Xvfb"), QStringLiteral("openbox"), QStringLiteral("xdotool")};
    for (const QString &program : needed) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            qWarning("%s is missing", qPrintable(program));
            return 1;
        }
    }
    int display = 300;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display)))
        ++display;
    const QString name = QStringLiteral(":%1").arg(display);
    qint64 server = 0;
    if (!QProcess::startDetached(QStringLiteral("Xvfb"),
                                 {name, QStringLiteral("-screen"), QStringLiteral("0"),
                                  QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                  QStringLiteral("tcp")},
                                 {}, &server))
        return 1;
    const auto stop = [](qint64 pid) {
        ::kill(static_cast<pid_t>(pid), SIGTERM);
    };
    for (int wait = 0; wait < 100 && !QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display));
         ++wait)
        QThread::msleep(50);
    qputenv("DISPLAY", name.toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");

    int status = 1;
    {
        QApplication app(argc, argv);
        QProcess manager;
        manager.start(QStringLiteral("openbox"), {});
        // The manager announces itself by the window it names on the root window.
        for (int wait = 0; wait < 100; ++wait) {
            QProcess probe;
            probe.start(QStringLiteral("xprop"),
                        {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
            probe.waitForFinished();
            if (probe.readAllStandardOutput().contains("window id"))
                break;
            QThread::msleep(50);
        }
        // A window mapped while the manager is still settling in is not always shown.
        QThread::msleep(1000);
        TestWindowManager test;
        status = QTest::qExec(&test, argc, argv);
        manager.terminate();
        manager.waitForFinished();
    }
    stop(server);
    return status;
}

#include "tst_window_manager.moc"
