#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The lines that a tool (xdotool, xwininfo, i3-msg, …) prints; none when it does not finish in 10 s.
inline QStringList programOutput(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
