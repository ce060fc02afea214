#pragma once

#include <QString>

// The [printing] section of client.ini (beside hostIP.txt): the slip's paper and the library's
// name, printed on slips and reader cards.
class PrintSettings
{
public:
    enum class SlipPaper { Receipt80, A6 };

    explicit PrintSettings(const QString& clientIniPath = QStringLiteral("client.ini"));

    // [printing] slip: "receipt" (80 mm roll, the default) or "A6".
    SlipPaper slip() const { return m_slip; }
    // [printing] libraryName; "图书馆" when not set.
    QString libraryName() const { return m_libraryName; }
    // labels.ini in the same directory as client.ini.
    QString labelsPath() const { return m_labelsPath; }

private:
    SlipPaper m_slip = SlipPaper::Receipt80;
    QString m_libraryName;
    QString m_labelsPath;
};
