#pragma once

#include "storage.h"

#include <QIODevice>

class PasswordHasher;

// `server --import-readers FILE.csv` and `server --export-readers FILE.csv`: the term's readers in
// and out as CSV with the header id,name,studentNumber,phone,email,level,notes.
class ReaderTransfer
{
public:
    struct Options {
        bool dryRun = false;
        bool update = false; // an existing ID takes the file's details (never its password or level)
    };
    struct Report {
        int read = 0, added = 0, skipped = 0, updated = 0;
        QStringList refused; // "line N: why"
        QString failure;
        // The initial password of each new account, for the library to hand out.
        QList<std::pair<QString, QString>> passwords;
        QString text() const;
    };

    // New accounts are confirmed at the file's level (default Undergraduate; a staff level is
    // refused), each with a random password that must be changed at the first login.
    static Report import(Storage& storage, PasswordHasher& hasher, const QByteArray& csv, const Options& options);
    // Every account without its password hash.
    static bool exportTo(Storage& storage, QIODevice& out, int* written, QString* error);
};
