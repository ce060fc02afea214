#include "addbookdialog.h"

#include "accountwindow.h"

#include "addedcopies.h"
#include "formchecks.h"
#include "labelprintdialog.h"
#include "levels.h"
#include "refusals.h"

#include <QDebug>
#include <QKeyEvent>
#include <QMessageBox>
#include <QRegularExpression>

namespace {

// The numbers of copies added in one request, from the first to the last: the same text before a
// run of digits counted up at the same width (TB-0098 … TB-0102). Anything else: the two given.
QStringList copyNumbersBetween(const QString& first, const QString& last)
{
    static const QRegularExpression counted(QStringLiteral("^(.*?)(\\d+)$"));
    const QRegularExpressionMatch a = counted.match(first);
    const QRegularExpressionMatch b = counted.match(last);
    if (first == last || !a.hasMatch() || !b.hasMatch() || a.captured(1) != b.captured(1))
        return first == last ? QStringList{first} : QStringList{first, last};
    const qlonglong from = a.captured(2).toLongLong();
    const qlonglong to = b.captured(2).toLongLong();
    if (to < from || to - from >= 500)
        return {first, last};
    QStringList numbers;
    for (qlonglong n = from; n <= to; ++n)
        numbers << a.captured(1) + QStringLiteral("%1").arg(n, a.captured(2).size(), 10, QLatin1Char('0'));
    return numbers;
}

} // namespace

AddBookDialog::AddBookDialog(QWidget* parent)
    : QDialog(parent)
{
    ui.setupUi(this);
    AccountWindow::mark(this);
    connect(ui.cancelButton, &QPushButton::pressed, this, &AddBookDialog::close);
    connect(ui.submitButton, &QPushButton::pressed, this, &AddBookDialog::addBook);
    ui.submitButton->setDefault(true);
    ui.cancelButton->setAutoDefault(false);
    FormChecks::limitToYear(ui.yearEdit);
    ui.nameEdit->setFocus();
    connect(ui.lookupButton, &QPushButton::pressed, this, &AddBookDialog::lookUp);
    connect(ui.lookupList, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { takeRecord(ui.lookupList->indexOfTopLevelItem(item)); });
    // Enter in the ISBN field looks the book up (a scanner ends with Enter); elsewhere it submits.
    ui.isbnEdit->installEventFilter(this);
    setAttribute(Qt::WA_ShowModal);
    show();

    addChannel.wire(this, &AddBookDialog::sendAddBookRequest, &AddBookDialog::getAddBookInfo,
                    &AddBookDialog::getErrorAddBook);
    lookupChannel.wire(this, &AddBookDialog::sendLookupRequest, &AddBookDialog::getLookupInfo,
                       &AddBookDialog::getErrorLookup);
}

bool AddBookDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui.isbnEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            lookUp();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AddBookDialog::lookUp()
{
    if (ui.isbnEdit->text().trimmed().isEmpty() && ui.nameEdit->text().trimmed().isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Error!"), QStringLiteral("请先输入 ISBN 或书名。"));
        return;
    }
    records.clear();
    ui.lookupList->clear();
    ui.lookupList->hide();
    lookupChannel.start();
}

void AddBookDialog::sendLookupRequest()
{
    // The ISBN when there is one, else the title typed so far.
    const QString isbn = ui.isbnEdit->text().trimmed();
    lookupChannel.send(CatalogueLookupQuery{isbn.isEmpty() ? ui.nameEdit->text().trimmed() : isbn});
}

void AddBookDialog::getLookupInfo()
{
    QStringList frame;
    while (lookupChannel.nextFrame(frame)) {
        if (const std::optional<QStringList> row = Reply::rowOf(frame, Reply::CatalogueRowSize)) {
            records.append(CatalogueRecord::from(*row));
            auto* item = new QTreeWidgetItem(ui.lookupList,
                                             {records.last().title, records.last().author, records.last().press,
                                              records.last().year, records.last().target});
            item->setToolTip(0, records.last().title);
        } else {
            Refusals::report(this, frame);
        }
    }
    if (!lookupChannel.atEnd())
        return;
    qDebug() << "Receive End";
    if (records.isEmpty()) {
        if (frame.isEmpty())
            QMessageBox::information(this, QStringLiteral("PASS"),
                                     QStringLiteral("没有找到这本书的编目记录，请手工填写。"));
        return;
    }
    ui.lookupList->setVisible(records.size() > 1);
    ui.lookupList->setCurrentItem(ui.lookupList->topLevelItem(0));
    takeRecord(0);
}

void AddBookDialog::takeRecord(int index)
{
    if (index < 0 || index >= records.size())
        return;
    // Everything stays editable: the record only fills the fields in.
    const CatalogueRecord& r = records.at(index);
    ui.nameEdit->setText(r.title);
    ui.authorEdit->setText(r.author);
    ui.typeEdit->setText(r.type);
    ui.yearEdit->setText(r.year);
    ui.pressEdit->setText(r.press);
    if (!r.isbn.isEmpty())
        ui.isbnEdit->setText(r.isbn);
}

void AddBookDialog::getErrorLookup()
{
    lookupChannel.reportError(this);
}

QString AddBookDialog::permissionForIndex(int index)
{
    // limitBox lists the levels from Undergraduate up; guests cannot be chosen.
    if (index < 0 || index > Levels::SuperAdmin - Levels::Undergraduate)
        return QString();
    return Levels::englishName(Levels::Undergraduate + index);
}

void AddBookDialog::addBook()
{
    if (!FormChecks::isYearOrEmpty(ui.yearEdit->text())) {
        QMessageBox::warning(this, QStringLiteral("Error!"), FormChecks::yearMessage());
        return;
    }
    addChannel.start();
}

void AddBookDialog::sendAddBookRequest()
{
    // One copy without an ISBN is the documented request, which keeps the form's row order (the book
    // number before the year and publisher); copies of a title go in one request of our own.
    const QString isbn = ui.isbnEdit->text().trimmed();
    const int copies = ui.copiesBox->value();
    sentCopy =
        LabelItem::book(ui.numberEdit->text().trimmed(), ui.nameEdit->text().trimmed(), ui.typeEdit->text().trimmed());
    const bool sent = isbn.isEmpty() && copies == 1
        ? addChannel.send(AddBookQuery{ui.nameEdit->text(), ui.authorEdit->text(), ui.typeEdit->text(),
                                       ui.numberEdit->text(), ui.yearEdit->text(), ui.pressEdit->text(),
                                       permissionForIndex(ui.limitBox->currentIndex())})
        : addChannel.send(AddCopiesQuery{
            ui.nameEdit->text(), ui.authorEdit->text(), ui.typeEdit->text(), ui.pressEdit->text(), ui.yearEdit->text(),
            permissionForIndex(ui.limitBox->currentIndex()), isbn, ui.numberEdit->text(), QString::number(copies)});
    if (!sent)
        QMessageBox::warning(this, QStringLiteral("Error!"), QStringLiteral("Request too large to send!"));
}

void AddBookDialog::getAddBookInfo()
{
    QStringList frame;
    while (addChannel.nextFrame(frame)) {
        if (Reply::wordOf(frame) == Reply::AddBookSuccessfully) {
            // Several copies: which numbers they got. Each copy's label can be printed next.
            const QString first = frame.size() == 3 ? frame.at(1) : sentCopy.number;
            const QString last = frame.size() == 3 ? frame.at(2) : sentCopy.number;
            for (const QString& number : copyNumbersBetween(first, last)) {
                LabelItem copy = sentCopy;
                copy.number = number;
                AddedCopies::add(copy);
            }
            const QString numbers = first != last ? QStringLiteral("\n%1 … %2").arg(first, last) : QString();
            QMessageBox::information(this, QStringLiteral("PASS"), QStringLiteral("Add books sucessfully!") + numbers);
            if (ui.printLabelBox->isChecked() && parentWidget())
                new LabelPrintDialog(parentWidget(), {}, LabelPrintDialog::Source::Added);
            close();
        } else {
            Refusals::report(this, frame);
        }
    }
    if (addChannel.atEnd())
        qDebug() << "Receive End";
}

void AddBookDialog::getErrorAddBook()
{
    addChannel.reportError(this);
}
