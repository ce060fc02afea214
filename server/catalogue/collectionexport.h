#pragma once

#include "storage.h"

#include <QIODevice>

// `server --export FILE`: the whole catalogue, every copy, as CSV (the import's columns), MARCXML or
// ISO 2709. A title's MARC record is the one kept from its import, with today's holdings, or one made
// from its fields; copies of one title (one kept record, or one ISBN) go in one record.
namespace CollectionExport {

enum class Format { Csv, MarcXml, Iso2709 };
// By the file name's ending: .csv, .xml, .mrc; nullopt for another.
std::optional<Format> formatFor(const QString& fileName);

// Writes to the device; false with why in `error`. `copies` and `titles` count what was written.
bool write(Storage& storage, Format format, QIODevice& out, int* copies, int* titles, QString* error);

// A CSV field, quoted when it holds a comma, a quote or a line break.
QString csvField(const QString& text);

} // namespace CollectionExport
