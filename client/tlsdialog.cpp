#include "tlsdialog.h"

#include "ui_tlsdialog.h"

TlsDialog::TlsDialog(const QString& iniPath, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TlsDialog>())
    , m_iniPath(iniPath)
    , m_settings(TlsSettings::load(iniPath))
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    m_ui->enabledCheck->setChecked(m_settings.enabled);
    m_ui->portSpin->setValue(m_settings.port);
    showFingerprint();
    connect(m_ui->forgetButton, &QPushButton::clicked, this, [this] {
        m_settings.fingerprint.clear();
        showFingerprint();
    });
    connect(this, &QDialog::accepted, this, &TlsDialog::save);
    connect(this, &QDialog::finished, this, [this](int result) { emit dialogFinished(result == QDialog::Accepted); });
}

TlsDialog::~TlsDialog() = default;

void TlsDialog::showFingerprint()
{
    m_ui->fingerprintLabel->setText(m_settings.fingerprint.isEmpty() ? QStringLiteral("(尚未信任任何证书)")
                                                                     : m_settings.fingerprint);
    m_ui->forgetButton->setEnabled(!m_settings.fingerprint.isEmpty());
}

void TlsDialog::save()
{
    m_settings.enabled = m_ui->enabledCheck->isChecked();
    m_settings.port = quint16(m_ui->portSpin->value());
    m_settings.save(m_iniPath);
}
