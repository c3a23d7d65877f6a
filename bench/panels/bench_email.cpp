// How long the feedback form's address check takes: ordinary addresses, long ones, and hostile
// texts that only the match engine's time limit ends. The check runs after every keystroke, so the
// figure that matters for a user is the worst single check.
#include "WXFeedbackWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Sample
{
    const char *name;
    QString text;
    int repeats;
};

QString hostile(qsizetype size)
{
    QString text = QStringLiteral("jane@[1.2.3.tag:");
    while (text.size() < size)
        text += QStringLiteral("\\a");
    return text.left(size);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::vector<Sample> samples = {
        {"ordinary address", QStringLiteral("jane.doe+news@mail.example.com"), 20000},
        {"254-character address",
         QString(64, u'a') + QStringLiteral("@") + QString(185, u'b') + QStringLiteral(".com"), 5000},
        {"50,000-character plain address", QString(49988, u'a') + QStringLiteral("@example.com"), 50},
        {"50,000-character quoted address",
         QStringLiteral("\"") + QString(49986, u'a') + QStringLiteral("\"@example.com"), 10},
        {"hostile, 60 characters", hostile(60), 10},
        {"hostile, 50,000 characters", hostile(50000), 10},
    };

    WXFeedbackWindow::validateEmail(QStringLiteral("warm@up.example")); // compiles the pattern
    std::printf("%-34s %8s %12s %12s\n", "input", "answer", "median ms", "max ms");
    for (const Sample &sample : samples) {
        std::vector<double> times;
        bool answer = false;
        for (int i = 0; i < sample.repeats; ++i) {
            QElapsedTimer timer;
            timer.start();
            answer = WXFeedbackWindow::validateEmail(sample.text);
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::sort(times.begin(), times.end());
        std::printf("%-34s %8s %12.4f %12.4f\n", sample.name, answer ? "true" : "false",
                    times[times.size() / 2], times.back());
    }
    return 0;
}
