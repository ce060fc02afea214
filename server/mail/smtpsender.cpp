#include "smtpsender.h"

#include <QUrl>

#include <curl/curl.h>

#include <cstring>
#include <memory>

namespace {

struct Upload {
    QByteArray data;
    qsizetype position = 0;
};

size_t readChunk(char* buffer, size_t size, size_t count, void* user)
{
    auto* upload = static_cast<Upload*>(user);
    const qsizetype room = qsizetype(size * count);
    const qsizetype n = std::min(room, upload->data.size() - upload->position);
    std::memcpy(buffer, upload->data.constData() + upload->position, size_t(n));
    upload->position += n;
    return size_t(n);
}

enum class Tls { Implicit, Required, Opportunistic };

Tls tlsOf(const SmtpSettings& settings)
{
    const QUrl url(settings.url);
    if (url.scheme() == QLatin1String("smtps"))
        return Tls::Implicit;
    if (url.port(25) == 25)
        return Tls::Opportunistic;
    return settings.allowPlain ? Tls::Opportunistic : Tls::Required;
}

} // namespace

QString SmtpSettings::problem() const
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty()
        || (parsed.scheme() != QLatin1String("smtp") && parsed.scheme() != QLatin1String("smtps")))
        return QStringLiteral("smtpUrl \"%1\" is not smtp://host:port or smtps://host:port").arg(url);
    if (!parsed.userInfo().isEmpty())
        return QStringLiteral("smtpUrl must not hold a user or password (use smtpUser and smtpPassword)");
    return QString();
}

SmtpSender::SmtpSender(const SmtpSettings& settings)
    : m_settings(settings)
{
}

void SmtpSender::initialise()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

SmtpSender::Result SmtpSender::send(const MailMessage& message) const
{
    Result result;
    if (const QString problem = m_settings.problem(); !problem.isEmpty()) {
        result.error = problem;
        return result;
    }
    if (!MailMessage::plausibleAddress(message.toAddress) || !MailMessage::plausibleAddress(message.fromAddress)) {
        result.error = QStringLiteral("not an e-mail address: ") + message.toAddress;
        return result;
    }
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        result.error = QStringLiteral("cannot start libcurl");
        return result;
    }
    CURL* c = curl.get();
    const QByteArray url = m_settings.url.toUtf8();
    const QByteArray from = "<" + message.fromAddress.toUtf8() + ">";
    const QByteArray to = "<" + message.toAddress.toUtf8() + ">";
    const QByteArray user = m_settings.user.toUtf8();
    const QByteArray password = m_settings.password.toUtf8();
    Upload upload{message.toBytes()};
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> recipients(
        curl_slist_append(nullptr, to.constData()), &curl_slist_free_all);
    char errorBuffer[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, long(m_settings.connectTimeoutSeconds));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, long(m_settings.timeoutSeconds));
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    switch (tlsOf(m_settings)) {
    case Tls::Implicit:
    case Tls::Required:
        curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        break;
    case Tls::Opportunistic:
        curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
        break;
    }
    if (!user.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &readChunk);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);

    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK) {
        result.accepted = true;
        return result;
    }
    long smtpCode = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &smtpCode);
    QString detail = QString::fromUtf8(errorBuffer).trimmed();
    if (detail.isEmpty())
        detail = QString::fromUtf8(curl_easy_strerror(code));
    // libcurl's texts never hold the password; the user name is not secret.
    result.error = smtpCode > 0 ? QStringLiteral("SMTP %1: %2").arg(smtpCode).arg(detail) : detail;
    return result;
}
