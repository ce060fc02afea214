#pragma once

#include <QStringList>

// The book numbers of several copies of one title, from the number of the first.
namespace CopyNumbers {

// `count` numbers: `first` as given, then its trailing digits counted up keeping their width
// ("TB-0098", "TB-0099", "TB-0100"); a number without trailing digits gets "-1", "-2", ...
QStringList from(const QString& first, int count);

} // namespace CopyNumbers
