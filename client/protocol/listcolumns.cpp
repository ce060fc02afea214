#include "listcolumns.h"

#include "levels.h"
#include "messages.h"

#include <QHeaderView>
#include <algorithm>
#include <QStyle>
#include <QTreeWidget>

namespace ListColumns {
namespace {

const char* const WeightsProperty = "columnWeights";
const char* const ReservedProperty = "columnReservedTexts";

// The width a cell needs for `text`: the text and the item view's margins on both sides.
int cellWidth(const QTreeWidget* list, const QString& text)
{
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    return list->fontMetrics().horizontalAdvance(text) + 2 * margin + 2;
}

int reservedWidth(const QTreeWidget* list, int column)
{
    int width = 0;
    const QVariantMap reserved = list->property(ReservedProperty).toMap();
    for (const QString& text : reserved.value(QString::number(column)).toStringList())
        width = qMax(width, cellWidth(list, text));
    return width;
}

QList<int> weightsOf(const QTreeWidget* list)
{
    QList<int> weights;
    for (const QVariant& weight : list->property(WeightsProperty).toList())
        weights << weight.toInt();
    return weights;
}

} // namespace

void setUp(QTreeWidget* list, const QList<int>& weights)
{
    QVariantList stored;
    for (int weight : weights)
        stored << weight;
    list->setProperty(WeightsProperty, stored);
    list->setTextElideMode(Qt::ElideRight);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    QHeaderView* header = list->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    QObject::connect(header, &QHeaderView::sectionClicked, list, [list, header](int column) {
        // The first click on a column sorts ascending, each further click turns the order round.
        const bool again = header->isSortIndicatorShown() && header->sortIndicatorSection() == column;
        const Qt::SortOrder order =
            again && header->sortIndicatorOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
        header->setSortIndicatorShown(true);
        header->setSortIndicator(column, order);
        list->sortItems(column, order);
    });
    fit(list);
}

void reserve(QTreeWidget* list, int column, const QStringList& texts)
{
    QVariantMap reserved = list->property(ReservedProperty).toMap();
    reserved.insert(QString::number(column), texts);
    list->setProperty(ReservedProperty, reserved);
    fit(list);
}

QStringList bookStates()
{
    return {BookState::free(), BookState::lentOut(), BookState::onHold(), BookState::queued()};
}

QStringList levelNames()
{
    QStringList names;
    for (int code = Levels::Guest; code <= Levels::SuperAdmin; ++code)
        names << Levels::toChinese(Levels::englishName(code));
    return names;
}

void fit(QTreeWidget* list)
{
    const QList<int> weights = weightsOf(list);
    QHeaderView* header = list->header();
    // Room is kept for a vertical scroll bar, so a long list does not push the last column under it.
    // The list's own width is known before it is shown; its viewport's is not.
    int available =
        list->width() - 2 * list->frameWidth() - list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    int totalWeight = 0;
    for (int column = 0; column < weights.size(); ++column) {
        if (weights[column] > 0) {
            totalWeight += weights[column];
            continue;
        }
        const int width =
            std::max({header->sectionSizeHint(column), static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column),
                      reservedWidth(list, column)});
        header->resizeSection(column, width);
        available -= width;
    }
    if (totalWeight == 0)
        return;
    const int minimum = header->minimumSectionSize();
    for (int column = 0; column < weights.size(); ++column) {
        if (weights[column] > 0)
            header->resizeSection(column, qMax(minimum, available * weights[column] / totalWeight));
    }
}

QTreeWidgetItem* addRow(QTreeWidget* list, const QStringList& texts)
{
    auto* item = new QTreeWidgetItem(texts);
    for (int column = 0; column < texts.size(); ++column)
        item->setToolTip(column, texts[column]);
    list->addTopLevelItem(item);
    return item;
}

} // namespace ListColumns
