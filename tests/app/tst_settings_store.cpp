#include "SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <limits>

using namespace nimbara;

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void absentKeys_readFalseAndZero();
    void floats_readBackBitExact_data();
    void floats_readBackBitExact();
    void booleans_surviveReload();
    void toggleBool_flips();
    void corruptFile_readsWhatItCan();
    void handWrittenText_readsAsWritten_data();
    void handWrittenText_readsAsWritten();

private:
    void reload();
    QString configFile() const { return m_dir->path() + QStringLiteral("/Nimbara/Nimbara.conf"); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir->path());
}

// Drops Qt's in-process cache so that the next read comes from the file.
void TestSettingsStore::reload()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir->path() + QStringLiteral("/x"));
    QSettings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara")).sync();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir->path());
}

void TestSettingsStore::absentKeys_readFalseAndZero()
{
    QCOMPARE(SettingsStore::boolForKey(key::initialized), false);
    QCOMPARE(SettingsStore::floatForKey(key::sizeWidth), 0.0f);
    QVERIFY(SettingsStore::stringForKey(key::positionSource).isEmpty());
}

void TestSettingsStore::floats_readBackBitExact_data()
{
    QTest::addColumn<float>("value");
    QTest::newRow("first-run") << 680.0f;
    QTest::newRow("tenth") << 0.1f;
    QTest::newRow("negative") << -1234.567f;
    QTest::newRow("not exact in float") << static_cast<float>(100.33333333333);
    QTest::newRow("smallest") << std::numeric_limits<float>::denorm_min();
    QTest::newRow("largest") << std::numeric_limits<float>::max();
}

void TestSettingsStore::floats_readBackBitExact()
{
    QFETCH(float, value);
    SettingsStore::setFloat(key::originX, value);
    SettingsStore::synchronize();
    reload();
    const float back = SettingsStore::floatForKey(key::originX);
    QVERIFY(std::memcmp(&back, &value, sizeof value) == 0);
}

void TestSettingsStore::booleans_surviveReload()
{
    SettingsStore::setBool(key::whiteColor, true);
    SettingsStore::setBool(key::celsius, false);
    SettingsStore::synchronize();
    reload();
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), true);
    QCOMPARE(SettingsStore::boolForKey(key::celsius), false);
}

void TestSettingsStore::toggleBool_flips()
{
    SettingsStore::toggleBool(key::dateEnabled);
    QCOMPARE(SettingsStore::boolForKey(key::dateEnabled), true);
    SettingsStore::toggleBool(key::dateEnabled);
    QCOMPARE(SettingsStore::boolForKey(key::dateEnabled), false);
}

void TestSettingsStore::corruptFile_readsWhatItCan()
{
    QDir().mkpath(m_dir->path() + QStringLiteral("/Nimbara"));
    QFile file(configFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nwhiteColor=true\noriginX=nonsense\nsizeWidth=nan\n\x01\x02\xff garbage [[[\n"
               "dateEnabled=\ncelsius=true\n");
    file.close();
    reload();
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), true);
    QCOMPARE(SettingsStore::floatForKey(key::originX), 0.0f);
    QCOMPARE(SettingsStore::floatForKey(key::sizeWidth), 0.0f);
    QCOMPARE(SettingsStore::boolForKey(key::dateEnabled), false);
    // The next write leaves a file that reads back.
    SettingsStore::setFloat(key::originX, 42.5f);
    SettingsStore::synchronize();
    reload();
    QCOMPARE(SettingsStore::floatForKey(key::originX), 42.5f);
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), true);
}

void TestSettingsStore::handWrittenText_readsAsWritten_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("text");
    QTest::newRow("commas") << QByteArray("positionSource=fixed:51.5074,-0.1278")
                            << QStringLiteral("fixed:51.5074,-0.1278");
    QTest::newRow("quoted") << QByteArray("positionSource=\"fixed:51.5074,-0.1278\"")
                            << QStringLiteral("fixed:51.5074,-0.1278");
    QTest::newRow("path") << QByteArray("positionSource=nmea:/var/log/gps.nmea")
                          << QStringLiteral("nmea:/var/log/gps.nmea");
    QTest::newRow("empty") << QByteArray("positionSource=") << QString();
}

void TestSettingsStore::handWrittenText_readsAsWritten()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, text);
    QDir().mkpath(m_dir->path() + QStringLiteral("/Nimbara"));
    QFile file(configFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\n" + line + "\n");
    file.close();
    reload();
    QCOMPARE(SettingsStore::stringForKey(key::positionSource), text);
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
