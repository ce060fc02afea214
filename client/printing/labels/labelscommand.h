#pragma once

#include <QStringList>
#include <QTextStream>

// The `labels` command: sheets of labels or reader cards from a numbers file, as a PDF.
//   labels --template NAME --numbers FILE --out FILE.pdf [--start N] [--ean13] [--library NAME]
//          [--templates labels.ini] | --list
// Returns the exit status: 0 written, 1 nothing written (what was wrong is on `err`), 2 bad usage.
int runLabelsCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
