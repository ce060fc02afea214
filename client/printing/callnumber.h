#pragma once

#include <QString>
#include <QStringList>

// The shelf mark printed on a spine: the book number without its copy suffix, so that every copy of
// a title gets the same spine label ("I242.4/0001-3" is shelved as I242.4/0001).
namespace CallNumber {

// The book number with a trailing "-digits" removed; the type when the number has no such suffix
// (it is then an accession number that says nothing about the shelf), the number itself when the
// type is empty too.
QString of(const QString& bookNumber, const QString& type);
// The call number broken where a shelf mark is read line by line: after "/" and before a ".".
QStringList lines(const QString& callNumber);

} // namespace CallNumber
