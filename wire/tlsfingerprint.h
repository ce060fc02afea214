#pragma once

#include <QSslCertificate>
#include <QString>

// How both programs write a certificate's identity: its SHA-256 digest as colon-separated upper-case
// hex pairs ("AB:CD:..."), the form the server prints and the client shows and pins.
namespace TlsFingerprint {

QString of(const QSslCertificate& certificate);
// Whether the certificate has this fingerprint; case and separators in `fingerprint` do not matter.
bool matches(const QSslCertificate& certificate, const QString& fingerprint);

} // namespace TlsFingerprint
