#include "mailmessage.h"

#include <QLocale>

namespace {

QString oneLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return line.simplified();
}

bool plainAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    // "=?" would be read as the start of an encoded word.
    return !text.contains(QLatin1String("=?"));
}

// Base64 broken into lines of 76 characters.
QByteArray base64Lines(const QByteArray& data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        out += encoded.mid(i, 76) + "\r\n";
    return out;
}

} // namespace

QByteArray MailMessage::encodedWords(const QString& text)
{
    const QString line = oneLine(text);
    if (plainAscii(line))
        return line.toUtf8();
    // 39 bytes make 52 base64 characters, 64 with "=?UTF-8?B?" and "?=": within a word's 75, and a
    // line stays within 78 with the header's name before the first word ("Subject: ").
    constexpr qsizetype MaxBytes = 39;
    QByteArray out;
    QByteArray chunk;
    for (qsizetype i = 0; i < line.size(); ++i) {
        // A surrogate pair is one character.
        const qsizetype width = line.at(i).isHighSurrogate() && i + 1 < line.size() ? 2 : 1;
        const QByteArray bytes = line.mid(i, width).toUtf8();
        i += width - 1;
        if (chunk.size() + bytes.size() > MaxBytes) {
            out += (out.isEmpty() ? "" : "\r\n ") + QByteArray("=?UTF-8?B?") + chunk.toBase64() + "?=";
            chunk.clear();
        }
        chunk += bytes;
    }
    if (!chunk.isEmpty())
        out += (out.isEmpty() ? "" : "\r\n ") + QByteArray("=?UTF-8?B?") + chunk.toBase64() + "?=";
    return out;
}

QByteArray MailMessage::mailbox(const QString& name, const QString& address)
{
    const QByteArray angle = "<" + oneLine(address).toUtf8() + ">";
    const QString shown = oneLine(name);
    if (shown.isEmpty())
        return angle;
    if (plainAscii(shown)) {
        QString quoted = shown;
        quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
        return "\"" + quoted.toUtf8() + "\" " + angle;
    }
    return encodedWords(shown) + " " + angle;
}

bool MailMessage::plausibleAddress(const QString& address)
{
    if (address.size() > 254 || address.count(QLatin1Char('@')) != 1)
        return false;
    for (const QChar c : address) {
        if (c.unicode() <= 0x20 || c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char(',')
            || c.unicode() == 0x7f)
            return false;
    }
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    return at > 0 && at < address.size() - 1;
}

QByteArray MailMessage::toBytes() const
{
    // The date as RFC 5322 writes it, in English whatever the server's locale.
    const QDateTime when = (date.isValid() ? date : QDateTime::currentDateTimeUtc()).toUTC();
    const QByteArray dateText =
        QLocale::c().toString(when, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")).toLatin1() + " +0000";
    QByteArray text = body.toUtf8();
    text.replace("\r\n", "\n");
    text.replace('\n', "\r\n");
    QByteArray out;
    out += "From: " + mailbox(fromName, fromAddress) + "\r\n";
    out += "To: " + mailbox(toName, toAddress) + "\r\n";
    out += "Subject: " + encodedWords(subject) + "\r\n";
    out += "Date: " + dateText + "\r\n";
    if (!messageId.isEmpty())
        out += "Message-ID: <" + oneLine(messageId).toUtf8() + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    out += "Content-Transfer-Encoding: base64\r\n";
    out += "\r\n";
    out += base64Lines(text);
    return out;
}
