#include "userinfoupdatedialog.h"

#include "accountwindow.h"

#include "messages.h"

#include <QMessageBox>

UserInfoUpdateDialog::UserInfoUpdateDialog(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    AccountWindow::mark(this);
    setWindowTitle(tr("User Information"));
    setAttribute(Qt::WA_ShowModal);
    // A new password needs the current one: a login left open at a shared PC is not enough.
    currentPasswordEdit->setEchoMode(QLineEdit::Password);
    newPasswordEdit->setEchoMode(QLineEdit::Password);
    repeatPasswordEdit->setEchoMode(QLineEdit::Password);
    // Enter in a line submits; cancel never takes Enter.
    submitButton->setDefault(true);
    cancelButton->setAutoDefault(false);
    newPasswordEdit->setFocus();
    dueSoonBox->hide();
    m_readPreference.setQuietOnFailure();
    connect(&m_readPreference, &RequestExchange::finished, this, [this](const QList<QStringList>& frames) {
        const QStringList reply = frames.value(0);
        if (Reply::wordOf(reply) != Reply::NoticePreference)
            return;
        const QSignalBlocker quiet(dueSoonBox);
        dueSoonBox->setChecked(reply.value(1) == Notice::On);
        dueSoonBox->show();
    });
    connect(dueSoonBox, &QCheckBox::toggled, this, &UserInfoUpdateDialog::storeNoticePreference);
    connect(&m_storePreference, &RequestExchange::finished, this, [this](const QList<QStringList>& frames) {
        const QStringList reply = frames.value(0);
        if (Reply::wordOf(reply) == Reply::NoticePreferenceSuccessfully)
            return;
        if (!reply.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Error"), RequestExchange::refusalText(reply));
        const QSignalBlocker quiet(dueSoonBox);
        dueSoonBox->setChecked(!dueSoonBox->isChecked());
    });
    setVisible(true);
}

void UserInfoUpdateDialog::showNoticePreference(const QString& userId)
{
    m_userId = userId;
    m_readPreference.start(NoticePreferenceQuery{userId, QString()});
}

void UserInfoUpdateDialog::storeNoticePreference(bool wanted)
{
    if (!m_storePreference.start(NoticePreferenceQuery{m_userId, QString(wanted ? Notice::On : Notice::Off)})) {
        const QSignalBlocker quiet(dueSoonBox);
        dueSoonBox->setChecked(!wanted);
    }
}
