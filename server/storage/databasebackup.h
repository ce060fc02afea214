#pragma once

#include "serversettings.h"

#include <QString>

// Consistent copies of the SQLite database, taken while the server runs: a connection of its own
// reads one snapshot (writers go on meanwhile) and writes it into a new file, which must then pass the
// quick integrity check before it gets its name. Used by `server --backup FILE` and by the schedule.
namespace DatabaseBackup {

// The copy at `target`, which must not exist yet. False with the reason in `error`.
bool write(const DatabaseSettings& settings, const QString& target, QString* error);

// A copy named library-YYYYMMDD-HHMMSS.db (UTC) in `directory`, created when missing; then only the
// newest `keep` copies stay. The path written, or an empty string with the reason in `error`.
QString writeInto(const DatabaseSettings& settings, const QString& directory, int keep, QString* error);

} // namespace DatabaseBackup
