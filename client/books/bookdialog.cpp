#include "bookdialog.h"

#include "addbookdialog.h"
#include "levels.h"

#include "formchecks.h"
#include "messages.h"
#include "refusals.h"

#include <QDebug>
#include <QMessageBox>
#include <QTreeWidgetItem>

BookDialog::BookDialog(const UserInfo& user, const BookInfo& book, QTreeWidgetItem* item, QWidget* parent)
    : QDialog(parent)
    , user(user)
    , book(book)
    , row(item)
{
    setAttribute(Qt::WA_ShowModal);
    ui.setupUi(this);
    setWindowTitle(QStringLiteral("Book"));
    show();

    ui.nameEdit->setText(book.name);
    ui.authorEdit->setText(book.author);
    ui.typeEdit->setText(book.type);
    ui.pressEdit->setText(book.press);
    ui.yearEdit->setText(book.year);
    ui.numberEdit->setText(book.number);
    ui.stateEdit->setText(book.state);
    ui.limEdit->setText(user.permissionToChinese(book.permission));

    connect(ui.borrowButton, &QPushButton::pressed, this, &BookDialog::borrowBook);
    connect(ui.deleteButton, &QPushButton::pressed, this, &BookDialog::deleteBook);
    connect(ui.cancelButton, &QPushButton::pressed, this, &BookDialog::close);
    deleteChannel.wire(this, &BookDialog::sendDeleteRequest, &BookDialog::getDeleteInfo, &BookDialog::getDeleteError);
    borrowChannel.wire(this, &BookDialog::sendBorrowRequest, &BookDialog::getBorrowInfo, &BookDialog::getBorrowError);
    // Enter never deletes: no button takes it.
    for (QPushButton* button : {ui.borrowButton, ui.deleteButton, ui.cancelButton})
        button->setAutoDefault(false);

    ui.deleteButton->setEnabled(user.checkPermission(QStringLiteral("Administrator")));

    const bool out = book.state == BookState::lentOut() || book.state == BookState::onHold();
    ui.holdButton->setVisible(out && user.checkPermission(QStringLiteral("Undergraduate")));
    connect(ui.holdButton, &QPushButton::pressed, this, &BookDialog::placeHold);
    connect(&holdExchange, &RequestExchange::finished, this, &BookDialog::holdPlaced);

    ui.editButton->setAutoDefault(false);
    ui.editButton->setVisible(user.checkPermission(QStringLiteral("Administrator")));
    connect(ui.editButton, &QPushButton::pressed, this, &BookDialog::editOrSave);
    connect(&editExchange, &RequestExchange::finished, this, &BookDialog::edited);

    // The ISBN and the copies of the title, when the server keeps them.
    copiesExchange.setQuietOnFailure();
    connect(&copiesExchange, &RequestExchange::finished, this, &BookDialog::showCopies);
    copiesExchange.start(TitleCopiesQuery{book.number});
}

void BookDialog::showCopies(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (Reply::wordOf(frame) != Reply::TitleCopies || frame.size() < 4)
        return;
    if (!ui.isbnEdit->isEnabled())
        ui.isbnEdit->setText(frame.at(1));
    ui.copiesEdit->setText(QStringLiteral("共 %1 册，在架 %2 册").arg(frame.at(2), frame.at(3)));
}

// Correcting the record ------------------------------------------------------------------------------

void BookDialog::setEditing(bool editing)
{
    for (QLineEdit* edit : {ui.nameEdit, ui.authorEdit, ui.typeEdit, ui.pressEdit, ui.yearEdit, ui.isbnEdit})
        edit->setEnabled(editing);
    ui.limEdit->setVisible(!editing);
    ui.limitBox->setVisible(editing);
    ui.limitBox->setCurrentIndex(qMax(0, Levels::code(book.permission) - Levels::Undergraduate));
    ui.editButton->setText(editing ? QStringLiteral("保存") : QStringLiteral("编辑"));
    if (editing)
        ui.nameEdit->setFocus();
}

void BookDialog::editOrSave()
{
    if (!ui.nameEdit->isEnabled()) {
        setEditing(true);
        return;
    }
    if (editExchange.isBusy())
        return;
    if (ui.nameEdit->text().trimmed().isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Error!"),
                             Refusals::message(Wire::word(Refusal::MissingTitleOrNumber)));
        return;
    }
    if (!FormChecks::isYearOrEmpty(ui.yearEdit->text())) {
        QMessageBox::warning(this, QStringLiteral("Error!"), FormChecks::yearMessage());
        return;
    }
    sentEdit = EditBookQuery{book.number,
                             ui.nameEdit->text().trimmed(),
                             ui.authorEdit->text().trimmed(),
                             ui.typeEdit->text().trimmed(),
                             ui.pressEdit->text().trimmed(),
                             ui.yearEdit->text().trimmed(),
                             AddBookDialog::permissionForIndex(ui.limitBox->currentIndex()),
                             ui.isbnEdit->text().trimmed()};
    editExchange.start(sentEdit);
}

void BookDialog::edited(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (frame.value(0) != Reply::EditBookSuccessfully) {
        if (!frame.isEmpty())
            Refusals::report(this, frame);
        return;
    }
    // What was stored is shown, here and in the result row.
    book.name = sentEdit.title;
    book.author = sentEdit.author;
    book.type = sentEdit.type;
    book.press = sentEdit.press;
    book.year = sentEdit.year;
    book.permission = sentEdit.permission;
    for (auto [edit, text] : {std::pair{ui.nameEdit, book.name},
                              {ui.authorEdit, book.author},
                              {ui.typeEdit, book.type},
                              {ui.pressEdit, book.press},
                              {ui.yearEdit, book.year}})
        edit->setText(text);
    ui.limEdit->setText(user.permissionToChinese(book.permission));
    if (QTreeWidgetItem* item = row.item()) {
        const QStringList columns{book.name, book.author, book.type, book.press, book.year};
        for (int column = 0; column < columns.size(); ++column)
            item->setText(column, columns.at(column));
        item->setText(7, ui.limEdit->text());
    }
    setEditing(false);
    QMessageBox::information(this, QStringLiteral("PASS"), QStringLiteral("Edit the book successfully!"));
    copiesExchange.start(TitleCopiesQuery{book.number});
}

// Placing a hold -------------------------------------------------------------------------------------

void BookDialog::placeHold()
{
    holdExchange.start(PlaceHoldQuery{{book.number, user.id}});
}

void BookDialog::holdPlaced(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (frame.value(0) == Reply::PlaceHoldSuccessfully)
        QMessageBox::information(this, QStringLiteral("PASS"), QStringLiteral("预约成功：书还回后将为您保留。"));
    else if (!frame.isEmpty())
        Refusals::report(this, frame);
}

// Borrowing ------------------------------------------------------------------------------------------

void BookDialog::borrowBook()
{
    // A second press while the request is out would borrow twice: it is ignored.
    if (borrowChannel.isBusy())
        return;
    // Nobody logged in: the reader is asked to log in, not told they lack the level.
    if (user.permission == QStringLiteral("public")) {
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("请先登录，再借阅书籍。"));
        close();
        emit loginWanted();
        return;
    }
    // The level is tested before the state, so a reader without the level never learns the state.
    if (!user.checkPermission(book.permission)) {
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("您无权限借阅该书籍!!!"));
        return;
    }
    if (book.state != BookState::free()) {
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("该书处于在借状态，不能借阅!!!"));
        return;
    }
    borrowDone = false;
    borrowChannel.start();
}

void BookDialog::sendBorrowRequest()
{
    borrowChannel.send(BorrowBookQuery{book, user.id});
}

void BookDialog::getBorrowInfo()
{
    QStringList frame;
    while (borrowChannel.nextFrame(frame)) {
        if (borrowDone)
            continue;
        const QString word = Reply::wordOf(frame);
        if (word != Reply::BorrowBookSuccessfully) {
            // Someone borrowed the copy since the search: the dialog and the row say so from now on.
            if (word == Wire::spelling(Refusal::BookAlreadyLent))
                showLent();
            Refusals::report(this, frame);
            continue;
        }
        borrowDone = true;
        QMessageBox::information(this, QStringLiteral("PASS"), QStringLiteral("Borrow the book successfully!"));
        emit borrowSuccessfully(this);
    }
    if (borrowChannel.atEnd())
        qDebug() << "Receive End";
}

void BookDialog::showLent()
{
    book.state = BookState::lentOut();
    ui.stateEdit->setText(book.state);
    if (QTreeWidgetItem* item = row.item())
        item->setText(6, book.state);
}

void BookDialog::getBorrowError()
{
    borrowChannel.reportError(this);
}

// Deleting -------------------------------------------------------------------------------------------

void BookDialog::deleteBook()
{
    if (deleteChannel.isBusy())
        return;
    // No level test: only an administrator gets the button enabled.
    if (book.state != BookState::free()) {
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("该书处于在借状态，不能删除!!"));
        return;
    }
    if (!FormChecks::confirm(
            this, QStringLiteral("确定要删除《%1》（书号 %2）吗？删除后无法恢复。").arg(book.name, book.number)))
        return;
    deleteDone = false;
    deleteChannel.start();
}

void BookDialog::sendDeleteRequest()
{
    deleteChannel.send(DeleteBookQuery{book});
}

void BookDialog::getDeleteInfo()
{
    QStringList frame;
    while (deleteChannel.nextFrame(frame)) {
        if (deleteDone)
            continue;
        if (Reply::wordOf(frame) != Reply::DeleteBookSuccessfully) {
            Refusals::report(this, frame);
            continue;
        }
        deleteDone = true;
        QMessageBox::information(this, QStringLiteral("PASS"), QStringLiteral("Delete the book successfully!"));
        emit deleteSuccessfully(this);
    }
    if (deleteChannel.atEnd())
        qDebug() << "Receive End";
}

void BookDialog::getDeleteError()
{
    deleteChannel.reportError(this);
}
