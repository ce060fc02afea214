#pragma once

#include <QPageLayout>
#include <QString>

#include <functional>

class QPagedPaintDevice;
class QWidget;

// Something to put on paper: its page layout (full page, no margins, so that positions on the page
// are the positions on the paper) and a function that draws every page on a device laid out so.
struct PrintJob {
    QPageLayout layout;
    // Draws the pages; an error text when the device could not be painted on.
    std::function<QString(QPagedPaintDevice& device)> render;

    // Writes the job to a PDF file at 1200 dpi; an error text, empty on success.
    QString writePdf(const QString& path) const;
};

// The three ways out of the client's printing windows. The printer is set to full page with zero
// margins and the job's own page size, so the print dialog cannot scale or shift the sheet.
namespace PrintOutput {

// Shows the pages as they will come out; the preview's own print button prints them.
void preview(QWidget* parent, const PrintJob& job);
// Asks for a printer, then prints.
void print(QWidget* parent, const PrintJob& job);
// Asks for a file name (starting from `suggestedName`), then writes the PDF.
void savePdf(QWidget* parent, const PrintJob& job, const QString& suggestedName);

} // namespace PrintOutput
