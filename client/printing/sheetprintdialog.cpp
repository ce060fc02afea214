#include "sheetprintdialog.h"

#include "printoutput.h"
#include "printsettings.h"
#include "ui_sheetprintdialog.h"

#include <QHeaderView>

SheetPrintDialog::SheetPrintDialog(QWidget* parent, const QList<LabelTemplate::Kind>& kinds,
                                   const QString& clientIniPath)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::SheetPrintDialog>())
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The number and the type fit their texts; the title or name takes the rest.
    QHeaderView* header = m_ui->itemList->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    const PrintSettings settings(clientIniPath);
    m_libraryName = settings.libraryName();
    QStringList templateProblems;
    for (const LabelTemplate& t : LabelTemplates::load(settings.labelsPath(), &templateProblems)) {
        if (kinds.contains(t.kind)) {
            m_templates << t;
            m_ui->templateBox->addItem(t.description, t.name);
        }
    }
    for (const QString& problem : templateProblems)
        m_iniProblems << QStringLiteral("labels.ini ") + problem;
    connect(m_ui->templateBox, &QComboBox::currentIndexChanged, this, &SheetPrintDialog::refresh);
    connect(m_ui->startSpin, &QSpinBox::valueChanged, this, &SheetPrintDialog::refresh);
    connect(m_ui->eanBox, &QCheckBox::toggled, this, &SheetPrintDialog::refresh);
    connect(m_ui->previewButton, &QPushButton::clicked, this, [this] { PrintOutput::preview(this, job()); });
    connect(m_ui->printButton, &QPushButton::clicked, this, [this] { PrintOutput::print(this, job()); });
    connect(m_ui->pdfButton, &QPushButton::clicked, this, [this] {
        PrintOutput::savePdf(this, job(), m_ui->templateBox->currentData().toString() + QStringLiteral(".pdf"));
    });
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QDialog::close);
    m_ui->eanBox->setVisible(!kinds.contains(LabelTemplate::Kind::Card));
    refresh();
}

SheetPrintDialog::~SheetPrintDialog() = default;

QVBoxLayout* SheetPrintDialog::sourceLayout() const
{
    return m_ui->sourceLayout;
}

void SheetPrintDialog::selectTemplate(const QString& name)
{
    const int index = m_ui->templateBox->findData(name);
    if (index >= 0)
        m_ui->templateBox->setCurrentIndex(index);
}

void SheetPrintDialog::setItems(const QList<LabelItem>& items)
{
    m_items = items;
    m_ui->itemList->clear();
    for (const LabelItem& item : items) {
        const bool book = item.kind == LabelItem::Kind::Book;
        new QTreeWidgetItem(m_ui->itemList,
                            {item.number, book ? item.title : item.name, book ? item.type : item.level});
    }
    refresh();
}

LabelSheet SheetPrintDialog::sheet() const
{
    LabelOptions options;
    options.libraryName = m_libraryName;
    options.isbnAsEan13 = m_ui->eanBox->isChecked();
    const int index = m_ui->templateBox->currentIndex();
    return LabelSheet(index >= 0 ? m_templates.at(index) : LabelTemplate(), options);
}

QStringList SheetPrintDialog::problems() const
{
    if (m_ui->templateBox->currentIndex() < 0)
        return {QStringLiteral("没有可用的模板")};
    if (m_items.isEmpty())
        return {QStringLiteral("没有要打印的标签")};
    return sheet().problems(m_items, m_ui->startSpin->value());
}

PrintJob SheetPrintDialog::job() const
{
    return sheet().job(m_items, m_ui->startSpin->value());
}

void SheetPrintDialog::refresh()
{
    const int index = m_ui->templateBox->currentIndex();
    if (index >= 0)
        m_ui->startSpin->setMaximum(m_templates.at(index).labelsPerPage());
    const QStringList found = problems();
    m_ui->problemLabel->setText((m_iniProblems + found).join(QLatin1Char('\n')));
    // Nothing goes out with a label that cannot be printed: the rest would shift on the sheet.
    for (QPushButton* button : {m_ui->previewButton, m_ui->printButton, m_ui->pdfButton})
        button->setEnabled(found.isEmpty());
    if (found.isEmpty() && index >= 0) {
        const LabelSheet s = sheet();
        const QList<LabelPlacement> places = s.place(m_items.size(), m_ui->startSpin->value());
        m_ui->summaryLabel->setText(QStringLiteral("%1 个标签，%2 张纸，最后一个在第 %3 张的第 %4 个位置")
                                        .arg(m_items.size())
                                        .arg(places.constLast().page + 1)
                                        .arg(places.constLast().page + 1)
                                        .arg(places.constLast().slot + 1));
    }
}
