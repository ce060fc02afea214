#pragma once

#include <QSemaphore>
#include <QString>

// Argon2id password hashes (libsodium's crypto_pwhash_str). A hash costs tens of milliseconds and
// 19 MiB, so at most two run at once; further callers wait their turn.
class PasswordHasher
{
public:
    PasswordHasher();

    // False when libsodium cannot be initialised; nothing else works then.
    static bool initialise();

    // The encoded hash (algorithm, parameters, salt and digest), or an empty string when out of memory.
    QString hash(const QString& password);
    bool verify(const QString& encodedHash, const QString& password);

    // A random password of 16 letters and digits, for the first administrator.
    static QString randomPassword();

private:
    QSemaphore m_slots{2};
};
