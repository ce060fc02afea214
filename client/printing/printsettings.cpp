#include "printsettings.h"

#include "labeltemplate.h"

#include <QFileInfo>
#include <QSettings>

PrintSettings::PrintSettings(const QString& clientIniPath)
{
    const QSettings settings(clientIniPath, QSettings::IniFormat);
    const QString slip = settings.value(QStringLiteral("printing/slip")).toString().trimmed();
    if (slip.compare(QLatin1String("A6"), Qt::CaseInsensitive) == 0)
        m_slip = SlipPaper::A6;
    m_libraryName = settings.value(QStringLiteral("printing/libraryName")).toString().trimmed();
    if (m_libraryName.isEmpty())
        m_libraryName = QStringLiteral("图书馆");
    const QString dir = QFileInfo(clientIniPath).path();
    m_labelsPath = dir == QLatin1String(".") ? LabelTemplates::defaultPath()
                                             : dir + QLatin1Char('/') + LabelTemplates::defaultPath();
}
