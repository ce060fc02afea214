#pragma once

#include <QList>
#include <QStringList>

class QTreeWidget;
class QTreeWidgetItem;

// The three lists (books found, books on loan, users) share how their columns fit the window: short
// columns (state, level, date, year, number) take the width their heading and texts need, the text
// columns share the rest by weight, so every column is on screen at the window's size and long
// texts are elided, with the full text in the row's tooltip. Clicking a heading sorts by it.
namespace ListColumns {

// Sets up `list`: one weight per column, 0 for a short column. Headings become sort buttons; rows
// stay in the order received until a heading is clicked.
void setUp(QTreeWidget* list, const QList<int>& weights);

// Keeps room in a short column for the widest of these texts, which a row may take later (a state
// that changes after a borrow, a level raised), so a changed cell is never cut to "…".
void reserve(QTreeWidget* list, int column, const QStringList& texts);
// The texts a state column may show, and a level column.
QStringList bookStates();
QStringList levelNames();

// Sizes the columns again for the rows the list now holds (after a listing has ended).
void fit(QTreeWidget* list);

// A new last row with these texts, each also its tooltip.
QTreeWidgetItem* addRow(QTreeWidget* list, const QStringList& texts);

} // namespace ListColumns
