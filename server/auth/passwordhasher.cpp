#include "passwordhasher.h"

#include <sodium.h>

namespace {
// OWASP's minimum for Argon2id: 19 MiB and two passes.
constexpr unsigned long long OpsLimit = 2;
constexpr size_t MemLimit = 19u * 1024u * 1024u;
} // namespace

PasswordHasher::PasswordHasher()
{
    initialise();
}

bool PasswordHasher::initialise()
{
    return sodium_init() >= 0;
}

QString PasswordHasher::hash(const QString& password)
{
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    m_slots.acquire();
    QSemaphoreReleaser release(m_slots);
    if (crypto_pwhash_str_alg(out, utf8.constData(), quint64(utf8.size()), OpsLimit, MemLimit,
                              crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        return {};
    return QString::fromLatin1(out);
}

bool PasswordHasher::verify(const QString& encodedHash, const QString& password)
{
    const QByteArray stored = encodedHash.toLatin1();
    if (stored.isEmpty() || stored.size() >= crypto_pwhash_STRBYTES)
        return false;
    const QByteArray utf8 = password.toUtf8();
    m_slots.acquire();
    QSemaphoreReleaser release(m_slots);
    return crypto_pwhash_str_verify(stored.constData(), utf8.constData(), quint64(utf8.size())) == 0;
}

QString PasswordHasher::randomPassword()
{
    static const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    const quint32 size = sizeof(alphabet) - 1;
    QString password;
    for (int i = 0; i < 16; ++i)
        password += QLatin1Char(alphabet[randombytes_uniform(size)]);
    return password;
}
