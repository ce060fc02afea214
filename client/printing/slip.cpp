#include "slip.h"

#include "labelpainter.h"

#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>

namespace {

// One block of text on the slip: its font size (mm), bold, and the text, wrapped to the width.
struct Block {
    QString text;
    double height;
    bool bold = false;
    double spaceAfter = 0;
};

QList<Block> blocksOf(const SlipContent& c)
{
    QList<Block> blocks;
    blocks << Block{c.libraryName, 5, true, 1} << Block{QStringLiteral("借书单"), 4, true, 2};
    QString reader = QStringLiteral("读者：") + c.readerId;
    if (!c.readerName.isEmpty())
        reader += QStringLiteral("  ") + c.readerName;
    blocks << Block{reader, 3.2, false, 2};
    for (const SlipContent::Loan& loan : c.loans) {
        blocks << Block{loan.title, 3.2, true, 0.3} << Block{QStringLiteral("书号：") + loan.number, 3, false, 0.3}
               << Block{QStringLiteral("应还日期：") + loan.dueDate, 3.2, true, 2};
    }
    blocks << Block{QStringLiteral("共 %1 册").arg(c.loans.size()), 3, false, 0.5}
           << Block{QStringLiteral("打印时间：") + c.printedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")), 3, false,
                    0};
    return blocks;
}

constexpr double ReceiptWidth = 80;
constexpr double Margin = 4;
// The layout is measured at the resolution it is drawn at, so that the lines break alike.
constexpr double MeasureDpi = 1200;

double heightOf(const Block& block, double width, double pxPerMm)
{
    const QFontMetricsF metrics(LabelPainter::font(block.height, pxPerMm, block.bold));
    const QRectF r = metrics.boundingRect(QRectF(0, 0, width * pxPerMm, 1e6), Qt::TextWordWrap, block.text);
    return r.height() / pxPerMm + block.spaceAfter;
}

} // namespace

PrintJob Slip::job(const SlipContent& content, PrintSettings::SlipPaper paper)
{
    const QList<Block> blocks = blocksOf(content);
    QSizeF pageSize = QPageSize(QPageSize::A6).size(QPageSize::Millimeter);
    if (paper == PrintSettings::SlipPaper::Receipt80) {
        double total = 2 * Margin;
        for (const Block& b : blocks)
            total += heightOf(b, ReceiptWidth - 2 * Margin, MeasureDpi / 25.4);
        pageSize = QSizeF(ReceiptWidth, std::max(60.0, total + 10)); // room to tear off
    }
    PrintJob job;
    job.layout = QPageLayout(QPageSize(pageSize, QPageSize::Millimeter, QString(), QPageSize::ExactMatch),
                             QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    job.render = [blocks, pageSize](QPagedPaintDevice& device) {
        QPainter painter;
        if (!painter.begin(&device))
            return QStringLiteral("无法开始打印（打印机或文件不可用）");
        const double pxPerMm = device.logicalDpiX() / 25.4;
        const double width = pageSize.width() - 2 * Margin;
        double y = Margin;
        for (const Block& b : blocks) {
            const double h = heightOf(b, width, pxPerMm);
            if (y + h > pageSize.height() - Margin && y > Margin) {
                device.newPage();
                y = Margin;
            }
            painter.setFont(LabelPainter::font(b.height, pxPerMm, b.bold));
            painter.drawText(QRectF(Margin * pxPerMm, y * pxPerMm, width * pxPerMm, (h - b.spaceAfter) * pxPerMm),
                             Qt::TextWordWrap, b.text);
            y += h;
        }
        painter.end();
        return QString();
    };
    return job;
}

void Slip::preview(QWidget* parent, SlipContent content, const QString& clientIniPath)
{
    const PrintSettings settings(clientIniPath);
    if (content.libraryName.isEmpty())
        content.libraryName = settings.libraryName();
    if (!content.printedAt.isValid())
        content.printedAt = QDateTime::currentDateTime();
    PrintOutput::preview(parent, job(content, settings.slip()));
}

QString Slip::dueDay(const QString& dueAt)
{
    return dueAt.left(10);
}
