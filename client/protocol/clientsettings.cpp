#include "clientsettings.h"

#include <QSettings>

ClientSettings::ClientSettings(const QString& path)
{
    const QSettings settings(path, QSettings::IniFormat);
    bool ok = false;
    const int seconds = settings.value(QStringLiteral("network/timeoutSeconds")).toInt(&ok);
    if (ok && seconds > 0)
        m_timeoutSeconds = seconds;
}

QString ClientSettings::defaultPath()
{
    return QStringLiteral("client.ini");
}
