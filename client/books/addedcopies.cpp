#include "addedcopies.h"

namespace {

QList<LabelItem>& copies()
{
    static QList<LabelItem> list;
    return list;
}

} // namespace

void AddedCopies::add(const LabelItem& copy)
{
    copies().append(copy);
}

QList<LabelItem> AddedCopies::all()
{
    return copies();
}
