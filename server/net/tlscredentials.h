#pragma once

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>

// The server's certificate and key for its TLS port: the PEM files named in server.ini, or else a
// self-signed pair it creates once in `directory` (beside the database), readable by its user only.
class TlsCredentials
{
public:
    // Empty `certificateFile` and `keyFile`: the self-signed pair in `directory`. False with the
    // reason in `error` when files are unreadable or cannot be created.
    bool load(const QString& certificateFile, const QString& keyFile, const QString& directory, QString* error);

    bool created() const { return m_created; } // a new self-signed pair was made by load()
    QString certificatePath() const { return m_certificatePath; }
    // TLS 1.2 or later with this certificate; clients are not asked for one.
    QSslConfiguration serverConfiguration() const;
    // "AB:CD:...", the form the client shows and pins.
    QString fingerprint() const;

    // A new EC P-256 key and a self-signed certificate for it, valid for ten years, as PEM.
    static bool generateSelfSigned(const QString& commonName, QByteArray* certificatePem, QByteArray* keyPem);

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_certificatePath;
    bool m_created = false;
};
