#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

// A real SMTP server on a free loopback port (Python's aiosmtpd, run by tests/support/smtp_recorder.py)
// that keeps every message it accepts; the messages come back parsed by Python's email module. It
// can be stopped and started again on the same port, as a mail server that goes away for a while.
class SmtpRecorder
{
public:
    SmtpRecorder();
    ~SmtpRecorder();

    // Why the tests cannot run one (no aiosmtpd), or an empty string.
    static QString unavailableReason();

    bool start();
    void stop();
    quint16 port() const { return m_port; }
    QString url() const { return QStringLiteral("smtp://127.0.0.1:%1").arg(m_port); }

    // Every message accepted so far, oldest first: envelopeTo, to, from, subject, messageId,
    // contentType, charset, body (decoded), defects (how many the parser found).
    QJsonArray messages() const;
    // Those whose envelope recipient is the address.
    QJsonArray messagesTo(const QString& address) const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
