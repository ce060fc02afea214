#pragma once

#include "mailmessage.h"

#include <QString>

// Where and how the server hands its e-mail to the library's mail server.
struct SmtpSettings {
    QString url; // smtp://host:587 (STARTTLS) or smtps://host:465 (TLS from the start)
    QString user, password; // empty user: no login
    bool allowPlain = false; // smtp:// on a port other than 25 without STARTTLS
    int connectTimeoutSeconds = 10;
    int timeoutSeconds = 60; // the whole exchange of one message

    // Why the settings cannot be used, or an empty string.
    QString problem() const;
};

// Hands messages to an SMTP server through libcurl, one connection per message. A message counts as
// delivered only when the server accepted it after the end of its data. The password never appears
// in what this class reports.
class SmtpSender
{
public:
    explicit SmtpSender(const SmtpSettings& settings);

    struct Result {
        bool accepted = false;
        QString error; // what failed, with the SMTP server's answer when there was one
    };
    Result send(const MailMessage& message) const;

    // Once per process, before any thread sends.
    static void initialise();

private:
    SmtpSettings m_settings;
};
