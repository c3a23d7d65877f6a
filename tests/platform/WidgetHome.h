#pragma once

#include <QProcessEnvironment>
#include <QRect>
#include <QRectF>
#include <QSettings>
#include <QTemporaryDir>

// A temporary home for the real executable, holding a later run's settings: the given saved frame,
// white text with clock and place, a fixed position (no location service needed).
class WidgetHome
{
public:
    explicit WidgetHome(const QRect &frame)
    {
        QSettings saved = settings();
        saved.setValue(QStringLiteral("initialized"), true);
        saved.setValue(QStringLiteral("originX"), float(frame.x()));
        saved.setValue(QStringLiteral("originY"), float(frame.y()));
        saved.setValue(QStringLiteral("sizeWidth"), float(frame.width()));
        saved.setValue(QStringLiteral("sizeHeight"), float(frame.height()));
        for (const char *key : {"locationEnabled", "textAlign", "dateEnabled", "celsius", "whiteColor"})
            saved.setValue(QString::fromLatin1(key), true);
        saved.setValue(QStringLiteral("positionSource"), QStringLiteral("fixed:51.5074,-0.1278"));
        saved.sync();
        m_valid = m_dir.isValid() && saved.status() == QSettings::NoError;
    }

    bool isValid() const { return m_valid; }

    QSettings settings() const
    {
        return QSettings(m_dir.filePath(QStringLiteral("config/Nimbara/Nimbara.conf")), QSettings::IniFormat);
    }

    // The four frame keys as the settings hold them now.
    QRectF savedFrame() const
    {
        const QSettings saved = settings();
        return {saved.value(QStringLiteral("originX")).toFloat(),
                saved.value(QStringLiteral("originY")).toFloat(),
                saved.value(QStringLiteral("sizeWidth")).toFloat(),
                saved.value(QStringLiteral("sizeHeight")).toFloat()};
    }

    // Points the program's settings at this home.
    void addTo(QProcessEnvironment &env) const
    {
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    }

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};
