#include "labelsheet.h"

#include <QPagedPaintDevice>
#include <QPainter>

LabelSheet::LabelSheet(const LabelTemplate& sheet, const LabelOptions& options)
    : m_template(sheet)
    , m_painter(sheet.kind, options)
{
}

QList<LabelPlacement> LabelSheet::place(int count, int start) const
{
    QList<LabelPlacement> out;
    const int perPage = m_template.labelsPerPage();
    for (int i = 0; i < count; ++i) {
        const int position = start - 1 + i;
        LabelPlacement p;
        p.page = position / perPage;
        p.slot = position % perPage;
        p.rect = m_template.labelRect(p.slot);
        out << p;
    }
    return out;
}

QStringList LabelSheet::problems(const QList<LabelItem>& items, int start, const QList<int>& lines) const
{
    QStringList out;
    const QString sheetProblem = m_template.problem();
    if (!sheetProblem.isEmpty())
        out << QStringLiteral("模板 %1：%2").arg(m_template.name, sheetProblem);
    if (start < 1 || start > m_template.labelsPerPage())
        out << QStringLiteral("起始位置应在 1 到 %1 之间").arg(m_template.labelsPerPage());
    const QSizeF size(m_template.labelWidth, m_template.labelHeight);
    for (int i = 0; i < items.size(); ++i) {
        const QString problem = m_painter.problem(items.at(i), size);
        if (problem.isEmpty())
            continue;
        if (i < lines.size())
            out << QStringLiteral("第 %1 行：%2").arg(lines.at(i)).arg(problem);
        else
            out << QStringLiteral("第 %1 个：%2").arg(i + 1).arg(problem);
    }
    return out;
}

PrintJob LabelSheet::job(const QList<LabelItem>& items, int start) const
{
    PrintJob job;
    job.layout = QPageLayout(m_template.page, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    job.render = [sheet = *this, items, start](QPagedPaintDevice& device) {
        return sheet.render(device, items, start);
    };
    return job;
}

QString LabelSheet::render(QPagedPaintDevice& device, const QList<LabelItem>& items, int start) const
{
    QPainter painter;
    if (!painter.begin(&device))
        return QStringLiteral("无法开始打印（打印机或文件不可用）");
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const double pxPerMm = device.logicalDpiX() / 25.4;
    const QSizeF size(m_template.labelWidth, m_template.labelHeight);
    const QList<LabelPlacement> placements = place(items.size(), start);
    int page = 0;
    for (int i = 0; i < items.size(); ++i) {
        const LabelPlacement& p = placements.at(i);
        while (page < p.page) {
            device.newPage();
            ++page;
        }
        if (m_painter.problem(items.at(i), size).isEmpty())
            m_painter.paint(painter, pxPerMm, p.rect, items.at(i));
    }
    painter.end();
    return QString();
}
