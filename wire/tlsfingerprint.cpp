#include "tlsfingerprint.h"

#include <QCryptographicHash>

namespace TlsFingerprint {

QString of(const QSslCertificate& certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

bool matches(const QSslCertificate& certificate, const QString& fingerprint)
{
    QByteArray hex = fingerprint.toLatin1();
    hex.replace(':', "").replace(' ', "");
    const QByteArray digest = QByteArray::fromHex(hex);
    return !certificate.isNull() && digest.size() == 32 && digest == certificate.digest(QCryptographicHash::Sha256);
}

} // namespace TlsFingerprint
