#pragma once

#include "labelitem.h"

#include <QList>

// The copies this client added since it started, newest last: the labels that are most often
// printed next.
namespace AddedCopies {

void add(const LabelItem& copy);
QList<LabelItem> all();

} // namespace AddedCopies
