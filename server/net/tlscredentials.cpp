#include "tlscredentials.h"

#include "tlsfingerprint.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <memory>

namespace {

QByteArray readFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    return file.readAll();
}

// Written whole or not at all, readable by the server's user only.
bool writePrivateFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray bioBytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, int(size));
}

} // namespace

bool TlsCredentials::generateSelfSigned(const QString& commonName, QByteArray* certificatePem, QByteArray* keyPem)
{
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    const std::unique_ptr<X509, decltype(&X509_free)> x509(X509_new(), X509_free);
    if (!key || !x509)
        return false;
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        return false;
    serial[0] &= 0x7f; // a positive number
    const std::unique_ptr<BIGNUM, decltype(&BN_free)> number(BN_bin2bn(serial, sizeof serial, nullptr), BN_free);
    const QByteArray cn = commonName.toUtf8();
    X509_NAME* name = X509_get_subject_name(x509.get());
    if (!number || !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(x509.get()))
        || X509_set_version(x509.get(), 2) != 1 || !X509_gmtime_adj(X509_getm_notBefore(x509.get()), -3600)
        || !X509_gmtime_adj(X509_getm_notAfter(x509.get()), 10L * 365 * 24 * 3600)
        || X509_set_pubkey(x509.get(), key.get()) != 1
        || X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.constData()),
                                      int(cn.size()), -1, 0)
            != 1
        || X509_set_issuer_name(x509.get(), name) != 1 || X509_sign(x509.get(), key.get(), EVP_sha256()) == 0)
        return false;
    const std::unique_ptr<BIO, decltype(&BIO_free)> certBio(BIO_new(BIO_s_mem()), BIO_free);
    const std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(BIO_new(BIO_s_mem()), BIO_free);
    if (!certBio || !keyBio || PEM_write_bio_X509(certBio.get(), x509.get()) != 1
        || PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return false;
    *certificatePem = bioBytes(certBio.get());
    *keyPem = bioBytes(keyBio.get());
    return true;
}

bool TlsCredentials::load(const QString& certificateFile, const QString& keyFile, const QString& directory,
                          QString* error)
{
    QString certificatePath = certificateFile;
    QString keyPath = keyFile;
    m_created = false;
    if (certificateFile.isEmpty() != keyFile.isEmpty()) {
        *error = QStringLiteral("[tls] certificate and key go together: set both, or neither for a self-signed pair");
        return false;
    }
    if (certificateFile.isEmpty()) {
        const QDir dir(directory);
        certificatePath = dir.filePath(QStringLiteral("tls-certificate.pem"));
        keyPath = dir.filePath(QStringLiteral("tls-key.pem"));
        if (!QFile::exists(certificatePath) && !QFile::exists(keyPath)) {
            QByteArray certificatePem, keyPem;
            if (!generateSelfSigned(QStringLiteral("library-server"), &certificatePem, &keyPem)) {
                *error = QStringLiteral("cannot create a self-signed certificate");
                return false;
            }
            if (!writePrivateFile(keyPath, keyPem, error) || !writePrivateFile(certificatePath, certificatePem, error))
                return false;
            m_created = true;
        }
    }
    const QByteArray certificatePem = readFile(certificatePath, error);
    if (certificatePem.isEmpty()) {
        if (error->isEmpty())
            *error = certificatePath + QStringLiteral(" is empty");
        return false;
    }
    const QByteArray keyPem = readFile(keyPath, error);
    if (keyPem.isEmpty()) {
        if (error->isEmpty())
            *error = keyPath + QStringLiteral(" is empty");
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        *error = certificatePath + QStringLiteral(" holds no PEM certificate");
        return false;
    }
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa}) {
        m_key = QSslKey(keyPem, algorithm, QSsl::Pem);
        if (!m_key.isNull())
            break;
    }
    if (m_key.isNull()) {
        *error = keyPath + QStringLiteral(" holds no unencrypted PEM key (EC or RSA)");
        return false;
    }
    m_certificate = chain.first();
    m_certificatePath = certificatePath;
    return true;
}

QString TlsCredentials::fingerprint() const
{
    return TlsFingerprint::of(m_certificate);
}

QSslConfiguration TlsCredentials::serverConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setLocalCertificate(m_certificate);
    configuration.setPrivateKey(m_key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}
