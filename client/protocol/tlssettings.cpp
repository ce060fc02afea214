#include "tlssettings.h"

#include "clientsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

QString TlsSettings::pathBeside(const QString& addressFile)
{
    return QFileInfo(addressFile).dir().filePath(ClientSettings::defaultPath());
}

TlsSettings TlsSettings::load(const QString& iniPath)
{
    TlsSettings settings;
    const QSettings ini(iniPath, QSettings::IniFormat);
    settings.enabled = ini.value(QStringLiteral("tls/enabled"), true).toBool();
    settings.plainServers = ini.value(QStringLiteral("tls/plainServers")).toStringList();
    bool ok = false;
    const uint port = ini.value(QStringLiteral("tls/port")).toString().trimmed().toUInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        settings.port = quint16(port);
    settings.fingerprint = ini.value(QStringLiteral("tls/fingerprint")).toString().trimmed();
    return settings;
}

void TlsSettings::save(const QString& iniPath) const
{
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.setValue(QStringLiteral("tls/enabled"), enabled);
    ini.setValue(QStringLiteral("tls/port"), port);
    ini.setValue(QStringLiteral("tls/fingerprint"), fingerprint);
    ini.setValue(QStringLiteral("tls/plainServers"), plainServers);
}

QString TlsSettings::serverName(const QString& host, quint16 port)
{
    return host.trimmed().toLower() + QLatin1Char(':') + QString::number(port);
}
