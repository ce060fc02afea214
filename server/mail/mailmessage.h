#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One plain-text e-mail as it goes over SMTP (RFC 5322 with MIME): UTF-8 text in base64, the subject
// and the display names as RFC 2047 encoded words when they are not plain ASCII, lines ended by CRLF.
// Nothing a reader typed (a name) can add a header: line breaks are taken out of every header value.
struct MailMessage {
    QString fromAddress, fromName;
    QString toAddress, toName;
    QString subject;
    QString body;
    QString messageId; // without the angle brackets, e.g. "notice-12@library.example.org"
    QDateTime date;

    QByteArray toBytes() const;

    // A header value of any text: as it is when it is printable ASCII, else as RFC 2047 "B" encoded
    // words of at most 75 characters each, cut between whole characters.
    static QByteArray encodedWords(const QString& text);
    // "Name <address>", the name encoded as needed.
    static QByteArray mailbox(const QString& name, const QString& address);
    // Whether the text can stand as an address in a header and an SMTP command: one @, no spaces,
    // no angle brackets or control characters.
    static bool plausibleAddress(const QString& address);
};
