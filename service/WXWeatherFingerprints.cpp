#include "WXWeather.h"

#include <QCryptographicHash>
#include <QSysInfo>

namespace {

QString hexDigest(const QString &text, QCryptographicHash::Algorithm algorithm)
{
    // toUtf8() of a null text is empty: a null text digests as no bytes.
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), algorithm).toHex());
}

} // namespace

QString WXWeather::serialNumber()
{
    // The machine id (/etc/machine-id): the hardware serial in the DMI tables is readable by root only.
    const QByteArray id = QSysInfo::machineUniqueId();
    return id.isEmpty() ? QString() : QString::fromLatin1(id);
}

QString WXWeather::encrypt(const QString &text)
{
    return md5(sha1(text));
}

QString WXWeather::sha1(const QString &text)
{
    return hexDigest(text, QCryptographicHash::Sha1);
}

QString WXWeather::md5(const QString &text)
{
    return hexDigest(text, QCryptographicHash::Md5);
}
