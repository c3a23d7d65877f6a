// The yardstick for the widget: a bare Qt Widgets program with three labels, one of them a clock
// rewritten by a one-second timer.
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    auto layout = new QVBoxLayout(&window);
    auto clock = new QLabel(&window);
    layout->addWidget(clock);
    layout->addWidget(new QLabel(QStringLiteral("21°, RAIN"), &window));
    layout->addWidget(new QLabel(QStringLiteral("LONDON"), &window));
    window.resize(720, 160);

    QTimer timer;
    timer.setInterval(1000);
    QObject::connect(&timer, &QTimer::timeout, &window, [clock] {
        clock->setText(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")));
    });
    timer.start();
    clock->setText(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")));
    window.show();
    return app.exec();
}
