#include "MoveResizeHandler.h"
#include "PrivateXServer.h"

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
// (XTest), on an X server of this test's own.
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
    QRect reported;
    connect(m_handler, &MoveResizeHandler::frameSetByUser, this,
            [&reported](const QRect &frame) { reported = frame; });
    dragWithRealPointer(m_window->mapToGlobal(QPoint(100, 150)), {60, 40});
    QTRY_COMPARE(m_window->geometry(), before.translated(60, 40));
    // The frame the manager gave while carrying it is the user's.
    QTRY_COMPARE(reported, before.translated(60, 40));
    // The manager carried the window: the four steps of the drag went to it, not to the window (which
    // may see one motion as the manager lets go).
    QVERIFY2(counter.moves <= 1, qPrintable(QString::number(counter.moves)));
}

void TestWindowManager::resize_fromEdgeKeepsProportionUnderTheManager()
{
    const QRect before = m_window->geometry();
    QRect reported;
    connect(m_handler, &MoveResizeHandler::frameSetByUser, this,
            [&reported](const QRect &frame) { reported = frame; });
    dragWithRealPointer(m_window->mapToGlobal(QPoint(298, 100)), {60, 0});
    QTRY_COMPARE(m_window->geometry(), QRect(before.topLeft(), QSize(360, 240)));
    QCOMPARE(reported, m_window->geometry());
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
    PrivateXServer server;
    if (!server.start(QSize(1280, 800)))
        return 1;
    return PrivateXServer::execUnderWindowManager<TestWindowManager>(argc, argv, QStringLiteral("openbox"));
}

#include "tst_window_manager.moc"
