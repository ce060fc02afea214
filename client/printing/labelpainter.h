#pragma once

#include "barcode.h"
#include "labelitem.h"
#include "labeltemplate.h"

#include <QFont>
#include <QRectF>

class QPainter;

// What a print run needs beyond the items: the library's name on reader cards, and whether book
// numbers written as ISBNs get an EAN-13 instead of a Code 128.
struct LabelOptions {
    QString libraryName;
    bool isbnAsEan13 = false;
};

// Lays out and draws one label of a kind inside its rectangle: a book label (barcode, number, title,
// call number or type), a spine label (the call number in large type, and the type) or a reader card
// (library, name, ID, level, barcode). Texts are elided or shrunk so that nothing leaves the label.
class LabelPainter
{
public:
    LabelPainter(LabelTemplate::Kind kind, const LabelOptions& options);

    // Why `item` cannot be printed on a label of `labelSize` mm (a number its symbology cannot
    // hold, or too long for a readable barcode that wide, or a reader on a book sheet); empty when
    // it can.
    QString problem(const LabelItem& item, const QSizeF& labelSize) const;
    // Draws `item` in `label` (mm on the page); the painter works in device pixels.
    void paint(QPainter& painter, double pxPerMm, const QRectF& label, const LabelItem& item) const;

    // The barcode an item gets.
    Barcode barcodeOf(const LabelItem& item) const;
    // The font of the labels, `height` mm from ascent to descent on a device of pxPerMm.
    static QFont font(double height, double pxPerMm, bool bold = false);

private:
    double padding(const QSizeF& labelSize) const;
    void paintBook(QPainter& painter, double pxPerMm, const QRectF& inner, const LabelItem& item) const;
    void paintSpine(QPainter& painter, double pxPerMm, const QRectF& inner, const LabelItem& item) const;
    void paintCard(QPainter& painter, double pxPerMm, const QRectF& inner, const LabelItem& item) const;
    // A barcode with its text centred under the bars, inside `area` (mm).
    void paintBarcode(QPainter& painter, double pxPerMm, const QRectF& area, const Barcode& barcode,
                      double textHeight) const;
    // One line of text elided to `area`'s width.
    static void paintLine(QPainter& painter, double pxPerMm, const QRectF& area, const QString& text, const QFont& font,
                          Qt::Alignment alignment = Qt::AlignLeft);

    LabelTemplate::Kind m_kind;
    LabelOptions m_options;
};
