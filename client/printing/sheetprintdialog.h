#pragma once

#include "labelitem.h"
#include "labelsheet.h"
#include "labeltemplate.h"

#include <QDialog>

#include <memory>

class QVBoxLayout;

namespace Ui {
class SheetPrintDialog;
}

// Prints a list of labels or reader cards: choose the template (of the kinds given) and the start
// position on a partly used sheet, see what cannot be printed, then preview, print or save as PDF.
// The items come from the window that opens it (which may put its own choice of items above the
// list, in sourceLayout()).
class SheetPrintDialog : public QDialog
{
    Q_OBJECT

public:
    SheetPrintDialog(QWidget* parent, const QList<LabelTemplate::Kind>& kinds,
                     const QString& clientIniPath = QStringLiteral("client.ini"));
    ~SheetPrintDialog() override;

    void setItems(const QList<LabelItem>& items);
    const QList<LabelItem>& items() const { return m_items; }
    // The sheets as they would be printed now; valid only while problems() is empty.
    LabelSheet sheet() const;
    QStringList problems() const;
    // Selects a template by name, when it is offered.
    void selectTemplate(const QString& name);

protected:
    QVBoxLayout* sourceLayout() const;

private:
    void refresh();
    PrintJob job() const;

    std::unique_ptr<Ui::SheetPrintDialog> m_ui;
    QList<LabelTemplate> m_templates; // those offered, in the box's order
    QList<LabelItem> m_items;
    QString m_libraryName;
    QStringList m_iniProblems; // labels.ini sections left out, said above every other problem
};
