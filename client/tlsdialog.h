#pragma once

#include "tlssettings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TlsDialog;
}

// 选项 → TLS设置: turns TLS on or off, sets the TLS port, shows the pinned certificate's fingerprint and
// forgets it (the next connection then asks again). Writes client.ini on Ok and says so with
// dialogFinished(true); the next operation uses the new settings.
class TlsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TlsDialog(const QString& iniPath, QWidget* parent = nullptr);
    ~TlsDialog() override;

signals:
    void dialogFinished(bool saved);

private:
    void showFingerprint();
    void save();

    std::unique_ptr<Ui::TlsDialog> m_ui;
    QString m_iniPath;
    TlsSettings m_settings;
};
