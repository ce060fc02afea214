#pragma once

#include "serversettings.h"

#include <QString>

// Looks at the SQLite file before the server opens it, so that a damaged or missing database is never
// mistaken for a new library: an empty, unreadable or corrupt file stops the server; a missing one is
// created, and the server says so loudly. PostgreSQL databases are left to PostgreSQL.
namespace DatabaseGuard {

enum class State { Usable, New, Unusable };

struct Finding {
    State state = State::Usable;
    QString message; // for New and Unusable: one line naming the file and what to do
};

Finding inspect(const DatabaseSettings& settings);

// The quick integrity check of a SQLite file: "ok", or what it found.
QString quickCheck(const QString& path);

} // namespace DatabaseGuard
