#include "labelpainter.h"

#include "callnumber.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

LabelPainter::LabelPainter(LabelTemplate::Kind kind, const LabelOptions& options)
    : m_kind(kind)
    , m_options(options)
{
}

QFont LabelPainter::font(double height, double pxPerMm, bool bold)
{
    QFont f;
    // DejaVu for Latin text, Noto CJK for Chinese: both in the setup, so every PC lays out alike.
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK SC")});
    f.setPixelSize(std::max(1, qRound(height * pxPerMm)));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

double LabelPainter::padding(const QSizeF& labelSize) const
{
    if (m_kind == LabelTemplate::Kind::Card)
        return std::min(4.0, labelSize.height() / 10);
    return std::min(1.5, labelSize.height() / 10);
}

Barcode LabelPainter::barcodeOf(const LabelItem& item) const
{
    if (m_options.isbnAsEan13 && item.kind == LabelItem::Kind::Book && Barcode::looksLikeIsbn(item.number))
        return Barcode::ean13(item.number);
    return Barcode::code128(item.number);
}

QString LabelPainter::problem(const LabelItem& item, const QSizeF& labelSize) const
{
    const bool card = m_kind == LabelTemplate::Kind::Card;
    if (card != (item.kind == LabelItem::Kind::Reader))
        return card ? QStringLiteral("“%1”是书号，读者证模板只印读者（reader:ID）").arg(item.number)
                    : QStringLiteral("读者“%1”的读者证要用读者证模板").arg(item.number);
    if (item.number.trimmed().isEmpty())
        return QStringLiteral("号码为空");
    if (m_kind == LabelTemplate::Kind::Spine)
        return QString();
    const Barcode barcode = barcodeOf(item);
    if (!barcode.isValid())
        return barcode.error();
    const double width = labelSize.width() - 2 * padding(labelSize);
    if (barcode.moduleFor(width) <= 0)
        return QStringLiteral("“%1”太长：在 %2 mm 宽的标签上条码无法印得可读（至少需要 %3 mm）")
            .arg(item.number)
            .arg(labelSize.width())
            .arg(barcode.totalModules() * Barcode::MinModule + 2 * padding(labelSize), 0, 'f', 1);
    return QString();
}

void LabelPainter::paint(QPainter& painter, double pxPerMm, const QRectF& label, const LabelItem& item) const
{
    const double pad = padding(label.size());
    const QRectF inner = label.adjusted(pad, pad, -pad, -pad);
    painter.save();
    // Nothing a label draws may land on its neighbour, whatever a font does.
    painter.setClipRect(QRectF(label.topLeft() * pxPerMm, label.size() * pxPerMm));
    painter.setPen(Qt::black);
    switch (m_kind) {
    case LabelTemplate::Kind::Book:
        paintBook(painter, pxPerMm, inner, item);
        break;
    case LabelTemplate::Kind::Spine:
        paintSpine(painter, pxPerMm, inner, item);
        break;
    case LabelTemplate::Kind::Card:
        paintCard(painter, pxPerMm, inner, item);
        break;
    }
    painter.restore();
}

void LabelPainter::paintLine(QPainter& painter, double pxPerMm, const QRectF& area, const QString& text,
                             const QFont& font, Qt::Alignment alignment)
{
    if (text.isEmpty())
        return;
    const QRectF px(area.topLeft() * pxPerMm, area.size() * pxPerMm);
    const QFontMetricsF metrics(font, painter.device());
    const QString shown = metrics.elidedText(text, Qt::ElideRight, px.width());
    painter.setFont(font);
    painter.drawText(px, int(alignment | Qt::AlignVCenter | Qt::TextSingleLine), shown);
}

void LabelPainter::paintBarcode(QPainter& painter, double pxPerMm, const QRectF& area, const Barcode& barcode,
                                double textHeight) const
{
    const double module = barcode.moduleFor(area.width());
    if (module <= 0)
        return;
    const double textLine = textHeight * 1.2;
    const double barHeight = std::min(area.height() - textLine, 15.0);
    const double symbolWidth = barcode.modules() * module;
    const double x = area.left() + (area.width() - symbolWidth) / 2;
    const double top = area.top() + (area.height() - barHeight - textLine) / 2;
    barcode.paintBars(painter, pxPerMm, x, top, module, barHeight);
    paintLine(painter, pxPerMm, QRectF(area.left(), top + barHeight, area.width(), textLine), barcode.text(),
              font(textHeight, pxPerMm), Qt::AlignHCenter);
}

void LabelPainter::paintBook(QPainter& painter, double pxPerMm, const QRectF& inner, const LabelItem& item) const
{
    const double textHeight = std::clamp(inner.height() * 0.14, 2.0, 3.5);
    const double line = textHeight * 1.25;
    paintLine(painter, pxPerMm, QRectF(inner.left(), inner.top(), inner.width(), line), item.title,
              font(textHeight, pxPerMm, true));
    QString shelf = CallNumber::of(item.number, item.type);
    if (!item.type.isEmpty() && shelf != item.type)
        shelf += QStringLiteral("  ") + item.type;
    paintLine(painter, pxPerMm, QRectF(inner.left(), inner.bottom() - line, inner.width(), line), shelf,
              font(textHeight, pxPerMm));
    const QRectF bars(inner.left(), inner.top() + line, inner.width(), inner.height() - 2 * line);
    paintBarcode(painter, pxPerMm, bars, barcodeOf(item), textHeight);
}

void LabelPainter::paintSpine(QPainter& painter, double pxPerMm, const QRectF& inner, const LabelItem& item) const
{
    const QString callNumber = CallNumber::of(item.number, item.type);
    const QStringList lines = CallNumber::lines(callNumber);
    const bool typeLine = !item.type.isEmpty() && item.type != callNumber;
    const double typeHeight = std::min(3.5, inner.height() / 8);
    const double room = inner.height() - (typeLine ? typeHeight * 1.4 : 0);
    // The largest type in which every line fits the width and all lines the height.
    double height = std::min(7.0, room / (lines.size() * 1.2));
    for (; height > 1.5; height -= 0.25) {
        const QFontMetricsF metrics(font(height, pxPerMm, true), painter.device());
        const bool fits = std::all_of(lines.begin(), lines.end(), [&](const QString& l) {
            return metrics.horizontalAdvance(l) <= inner.width() * pxPerMm;
        });
        if (fits)
            break;
    }
    const double step = height * 1.2;
    double y = inner.top() + (room - step * lines.size()) / 2;
    for (const QString& l : lines) {
        paintLine(painter, pxPerMm, QRectF(inner.left(), y, inner.width(), step), l, font(height, pxPerMm, true),
                  Qt::AlignHCenter);
        y += step;
    }
    if (typeLine)
        paintLine(painter, pxPerMm,
                  QRectF(inner.left(), inner.bottom() - typeHeight * 1.4, inner.width(), typeHeight * 1.4), item.type,
                  font(typeHeight, pxPerMm), Qt::AlignHCenter);
}

void LabelPainter::paintCard(QPainter& painter, double pxPerMm, const QRectF& inner, const LabelItem& item) const
{
    const double unit = inner.height() / 46; // the card's 54 mm less its padding is 46 mm
    double y = inner.top();
    auto line = [&](const QString& text, double height, bool bold) {
        paintLine(painter, pxPerMm, QRectF(inner.left(), y, inner.width(), height * 1.3), text,
                  font(height, pxPerMm, bold));
        y += height * 1.3;
    };
    line(m_options.libraryName, 4.5 * unit, true);
    y += 1.5 * unit;
    line(item.name, 5 * unit, true);
    line(QStringLiteral("读者号  ") + item.number, 3.2 * unit, false);
    if (!item.level.isEmpty())
        line(QStringLiteral("级别  ") + item.level, 3.2 * unit, false);
    const double barcodeTop = std::max(y + unit, inner.bottom() - 16 * unit);
    paintBarcode(painter, pxPerMm, QRectF(inner.left(), barcodeTop, inner.width(), inner.bottom() - barcodeTop),
                 barcodeOf(item), 3 * unit);
}
