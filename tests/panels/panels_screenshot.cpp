// Shows each panel on the X display in the given language and saves a PNG of it as it appears on
// screen, window frame included. scripts/screenshot-panels.sh runs it under Xvfb.
//   panels_screenshot <language> <output folder>
#include "BundleInfo.h"
#include "Localized.h"
#include "WXAboutWindow.h"
#include "WXFeedbackWindow.h"
#include "WXTourWindow.h"
#include "WXWeather.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTcpServer>
#include <QTimer>

#include <cstdio>

namespace {

void settle(int milliseconds = 400)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget *window, const QString &path)
{
    window->show();
    window->raise();
    window->activateWindow();
    settle();
    const QPixmap shot =
        window->screen()->grabWindow(0, window->frameGeometry().x(), window->frameGeometry().y(),
                                     window->frameGeometry().width(), window->frameGeometry().height());
    const bool saved = shot.save(path);
    std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: panels_screenshot <language> <output folder>\n");
        return 2;
    }
    const QString language = QString::fromLocal8Bit(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[2]));
    nimbara::initBundleInfo();
    nimbara::installTranslations(QLocale(language));
    const auto path = [&](const char *name) {
        return out.filePath(QStringLiteral("%1-%2.png").arg(QString::fromLatin1(name), language));
    };

    bool ok = true;
    WXTourWindow tour;
    tour.move(60, 60);
    ok &= save(&tour, path("tour-step1"));
    tour.nextButtonStep1->click();
    ok &= save(&tour, path("tour-step2"));
    tour.close();

    WXAboutWindow about;
    about.move(60, 60);
    ok &= save(&about, path("about"));
    about.close();

    WXFeedbackWindow feedback;
    feedback.move(60, 60);
    ok &= save(&feedback, path("feedback-empty"));

    // A filled-in form sent while the service is down comes back with its notice.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString down = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    WXWeather::setHostsForTesting(down, down);
    feedback.findChild<QButtonGroup *>(QStringLiteral("selectedType"))->button(1)->setChecked(true);
    feedback.findChild<QLineEdit *>(QStringLiteral("nameField"))->setText(QStringLiteral("Jane Doe"));
    feedback.findChild<QLineEdit *>(QStringLiteral("emailField"))
        ->setText(QStringLiteral("jane@example.com"));
    // A message of blanks keeps Send off and says why.
    feedback.findChild<QPlainTextEdit *>(QStringLiteral("messageField"))->setPlainText(QStringLiteral("   "));
    ok &= save(&feedback, path("feedback-blank"));
    feedback.findChild<QPlainTextEdit *>(QStringLiteral("messageField"))
        ->setPlainText(QStringLiteral("The widget could show tomorrow's weather too."));
    feedback.findChild<QPushButton *>(QStringLiteral("sendButton"))->click();
    ok &= save(&feedback, path("feedback-not-sent"));
    return ok ? 0 : 1;
}
