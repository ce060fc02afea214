#include "printoutput.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace {

// A printer that draws exactly where the job says: no margins, the job's paper, no scaling.
void prepare(QPrinter& printer, const PrintJob& job)
{
    printer.setFullPage(true);
    printer.setPageLayout(job.layout);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

void paintOn(QWidget* parent, QPrinter& printer, const PrintJob& job)
{
    prepare(printer, job);
    const QString error = job.render(printer);
    if (!error.isEmpty())
        QMessageBox::warning(parent, QStringLiteral("打印"), error);
}

} // namespace

QString PrintJob::writePdf(const QString& path) const
{
    QPdfWriter writer(path);
    writer.setResolution(1200);
    writer.setCreator(QStringLiteral("Library lending client"));
    writer.setPageLayout(layout);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    return render(writer);
}

void PrintOutput::preview(QWidget* parent, const PrintJob& job)
{
    QPrinter printer(QPrinter::HighResolution);
    prepare(printer, job);
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("打印预览"));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [&](QPrinter* target) { paintOn(parent, *target, job); });
    dialog.exec();
}

void PrintOutput::print(QWidget* parent, const PrintJob& job)
{
    QPrinter printer(QPrinter::HighResolution);
    prepare(printer, job);
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    paintOn(parent, printer, job);
}

void PrintOutput::savePdf(QWidget* parent, const PrintJob& job, const QString& suggestedName)
{
    const QString path =
        QFileDialog::getSaveFileName(parent, QStringLiteral("保存为PDF"), suggestedName, QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    const QString error = job.writePdf(path);
    if (!error.isEmpty())
        QMessageBox::warning(parent, QStringLiteral("保存为PDF"), error);
}
