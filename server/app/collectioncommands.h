#pragma once

#include <QStringList>

#include <optional>

// The command-line tools that bring a collection in and out, run beside a running server on the
// database of server.ini in the working directory:
//   server --import FILE [--dry-run] [--numbers PREFIX] [--update]
//   server --export FILE                      (.csv, .xml MARCXML, .mrc ISO 2709)
//   server --import-readers FILE.csv [--dry-run] [--update]
//   server --export-readers FILE.csv
namespace CollectionCommands {

// The exit status of the command the arguments name, or nullopt when they name none.
std::optional<int> run(const QStringList& arguments);

} // namespace CollectionCommands
