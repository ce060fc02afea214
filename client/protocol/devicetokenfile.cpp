#include "devicetokenfile.h"

#include <QSettings>

namespace DeviceTokenFile {
namespace {

// IDs may hold any character; the key is their hex, so that INI escaping never changes one.
QString keyOf(const QString& host, quint16 port, const QString& account)
{
    const QString name =
        host.trimmed().toLower() + QLatin1Char(':') + QString::number(port) + QLatin1Char('/') + account;
    return QStringLiteral("devices/") + QString::fromLatin1(name.toUtf8().toHex());
}

} // namespace

QString load(const QString& iniPath, const QString& host, quint16 port, const QString& account)
{
    const QSettings ini(iniPath, QSettings::IniFormat);
    const QString token = ini.value(keyOf(host, port, account)).toString();
    // A token is 43 URL-safe characters; anything else in the file is not sent.
    return token.size() <= 128 ? token : QString();
}

void save(const QString& iniPath, const QString& host, quint16 port, const QString& account, const QString& token)
{
    if (token.isEmpty() || token.size() > 128)
        return;
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.setValue(keyOf(host, port, account), token);
}

} // namespace DeviceTokenFile
