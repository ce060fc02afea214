#pragma once

#include "labelitem.h"
#include "labelpainter.h"
#include "labeltemplate.h"
#include "printoutput.h"

#include <QList>
#include <QStringList>

// Where one item lands: page (0-based), slot on that page (0-based, row by row) and its rectangle
// in mm on the paper.
struct LabelPlacement {
    int page = 0;
    int slot = 0;
    QRectF rect;
};

// A run of labels on sheets of one template: the first on label `start` (1-based) of the first
// sheet, which may be partly used, then one label each, sheet after sheet.
class LabelSheet
{
public:
    LabelSheet(const LabelTemplate& sheet, const LabelOptions& options);

    const LabelTemplate& sheet() const { return m_template; }
    // Each item's label, in order.
    QList<LabelPlacement> place(int count, int start) const;
    // One line for every item that cannot be printed, naming it by `lines` (the numbers file's line
    // numbers) when given, else by its position; empty when all can. A start outside the sheet is a
    // problem too.
    QStringList problems(const QList<LabelItem>& items, int start, const QList<int>& lines = {}) const;
    // The sheets, ready to print or save. Callers check problems() first: an item that cannot be
    // printed is left blank, never printed wrong.
    PrintJob job(const QList<LabelItem>& items, int start) const;

private:
    QString render(QPagedPaintDevice& device, const QList<LabelItem>& items, int start) const;

    LabelTemplate m_template;
    LabelPainter m_painter;
};
