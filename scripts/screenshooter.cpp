// Opens the client's main windows against a running server (hostIP.txt in the working directory),
// fills them as a user would and saves a PNG of each into the directory given on the command line.
//   screenshooter OUTDIR ADMIN_ID ADMIN_PASSWORD
#include "levels.h"
#include "mainwindow.h"
#include "messageboxwatcher.h"
#include "noticesdialog.h"
#include "serveraddressfile.h"
#include "wireclient.h"

#include <algorithm>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QScreen>
#include <QTimer>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

bool waitUntil(const std::function<bool()>& done, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

void settle()
{
    waitUntil([] { return false; }, 300);
}

bool save(QWidget* widget, const QDir& out, const QString& name)
{
    settle();
    const bool ok = widget && widget->grab().save(out.filePath(name + QStringLiteral(".png")));
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(out.filePath(name + QStringLiteral(".png"))));
    return ok;
}

template <class T> T* newest(QWidget* parent, const char* className)
{
    T* found = nullptr;
    for (QDialog* dialog : parent->findChildren<QDialog*>()) {
        if (dialog->inherits(className) && dialog->isVisible())
            found = static_cast<T*>(dialog);
    }
    return found;
}

QDialog* openDialog(MainWindow& window, const char* action, const char* className)
{
    window.findChild<QAction*>(action)->trigger();
    QDialog* dialog = nullptr;
    waitUntil([&] { return (dialog = newest<QDialog>(&window, className)) != nullptr; });
    return dialog;
}

// Saves the next message box as it appears, then answers it with its default button (No for a
// question). The watcher that answers every other box is paused meanwhile.
bool saveNextBox(std::unique_ptr<MessageBoxWatcher>& watcher, const QDir& out, const QString& name,
                 const std::function<void()>& trigger)
{
    watcher.reset();
    bool ok = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        // The box together with the dialog it answers, as the screen shows them.
        settle();
        QRect area = box->frameGeometry();
        if (QWidget* over = box->parentWidget())
            area |= over->window()->frameGeometry();
        const QString file = out.filePath(name + QStringLiteral(".png"));
        ok = box->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(file);
        std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(file));
        if (QAbstractButton* button = box->defaultButton())
            button->click();
        else
            box->close();
    });
    poll.start(50);
    trigger();
    waitUntil([&] { return !poll.isActive(); }, 5000);
    watcher = std::make_unique<MessageBoxWatcher>();
    return ok;
}

void press(QWidget* root, const char* buttonName)
{
    if (auto* button = root->findChild<QPushButton*>(buttonName))
        emit button->pressed();
}

// 我的预约 with two holds of the administrator: another reader borrows two free copies of the list,
// the administrator reserves both, and the first comes back, so that it is kept (预约保留) while the
// other still waits (排队中). The reader and the requests go over the wire from machines of their own,
// so the window's login stays.
bool saveHolds(MainWindow& window, const QTreeWidget* list, const QDir& out, const QString& adminId,
               const QString& adminPassword)
{
    const ServerAddress address = ServerAddressFile::load();
    WireClient admin(address.port, address.host);
    admin.setSourceAddress(QStringLiteral("127.0.0.2"));
    const WireClient::Reply login = admin.sendBytes(
        Wire::encodeFrame({QString(Query::UserLogin), adminId, adminPassword, QString(Reply::Session)}));
    admin.setToken(login.frames.value(1).value(1));
    WireClient reader(address.port, address.host);
    reader.setSourceAddress(QStringLiteral("127.0.0.3"));
    const QString readerId = QStringLiteral("zhangsan");
    const QString readerPassword = QStringLiteral("reader-pass");
    reader.send(UserRegisterQuery{readerId, readerPassword, QStringLiteral("张三"), QStringLiteral("2024001"),
                                  QStringLiteral("555-0100"), QStringLiteral("zhangsan@example.org"), QString()});
    QString shown = QStringLiteral("Guest");
    for (int level = Levels::Guest; level < Levels::Vip; ++level) {
        admin.send(EscalateUserQuery{{readerId, shown}});
        shown = Levels::toChinese(Levels::englishName(level + 1));
    }
    reader.send(LoginQuery{readerId, readerPassword});

    QStringList numbers;
    for (int i = 0; i < list->topLevelItemCount() && numbers.size() < 2; ++i) {
        const QString number = list->topLevelItem(i)->text(5);
        const QStringList row = reader.send(BookQuery{{}, {}, number, {}, {}, {}, {}}).frames.value(0);
        if (row.value(6) == BookState::free()
            && reader.send(BorrowBookQuery{BookRecord::from(row), readerId}).word() == Reply::BorrowBookSuccessfully)
            numbers << number;
    }
    for (const QString& number : numbers)
        admin.send(PlaceHoldQuery{{number, adminId}});
    if (!numbers.isEmpty())
        admin.send(CheckinBookQuery{numbers.first()});

    QDialog* holds = openDialog(window, "actionHolds", "MyHoldsDialog");
    waitUntil([&] { return holds->findChild<QTreeWidget*>("holdList")->topLevelItemCount() == numbers.size(); }, 5000);
    const bool ok = save(holds, out, QStringLiteral("my-holds"));
    holds->close();
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: screenshooter OUTDIR ADMIN_ID ADMIN_PASSWORD\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));
    auto boxes = std::make_unique<MessageBoxWatcher>(); // answers every message box with Ok

    MainWindow window;
    window.show();
    bool ok = true;

    // A search for every book, as a guest.
    emit window.findChild<QPushButton*>("searchButton")->pressed();
    auto* list = window.findChild<QTreeWidget*>("bookList");
    waitUntil([&] { return window.findChild<QPushButton*>("searchButton")->isEnabled() && list->topLevelItemCount(); });
    ok &= save(&window, out, QStringLiteral("main-window"));

    QDialog* login = openDialog(window, "actionLogin", "LoginDialog");
    login->findChild<QLineEdit*>("userNameEdit")->setText(QString::fromLocal8Bit(argv[2]));
    login->findChild<QLineEdit*>("passwordEdit")->setText(QString::fromLocal8Bit(argv[3]));
    ok &= save(login, out, QStringLiteral("login"));
    press(login, "loginButton");
    waitUntil([&] { return !window.findChild<QAction*>("actionLogin")->isEnabled(); });

    // A copy lent since the search: one dialog borrows the second row, another opened before it still
    // says 空闲 and is told when it tries. Then deleting a book asks first (the answer is No).
    if (list->topLevelItemCount() > 1) {
        emit list->itemDoubleClicked(list->topLevelItem(1), 0);
        QDialog* stale = nullptr;
        waitUntil([&] { return (stale = newest<QDialog>(&window, "BookDialog")) != nullptr; });
        stale->hide();
        emit list->itemDoubleClicked(list->topLevelItem(1), 0);
        QDialog* first = nullptr;
        waitUntil([&] { return (first = newest<QDialog>(&window, "BookDialog")) != nullptr; });
        press(first, "borrowButton");
        waitUntil([&] { return !first->isVisible(); }, 5000);
        stale->show();
        ok &= saveNextBox(boxes, out, QStringLiteral("book-already-lent"), [&] { press(stale, "borrowButton"); });
        ok &= saveNextBox(boxes, out, QStringLiteral("delete-confirm"), [&] {
            emit list->itemDoubleClicked(list->topLevelItem(2), 0);
            QDialog* book = nullptr;
            waitUntil([&] { return (book = newest<QDialog>(&window, "BookDialog")) != nullptr && book != stale; });
            press(book, "deleteButton");
        });
        for (QDialog* dialog : window.findChildren<QDialog*>())
            dialog->close();
    }

    // Book detail of the first row, then borrow it so the borrowed-books list has a row.
    if (list->topLevelItemCount()) {
        emit list->itemDoubleClicked(list->topLevelItem(0), 0);
        QDialog* book = nullptr;
        waitUntil([&] { return (book = newest<QDialog>(&window, "BookDialog")) != nullptr; });
        // With the copies of the title, which the dialog asks for as it opens.
        waitUntil([&] { return !book->findChild<QLineEdit*>("copiesEdit")->text().isEmpty(); }, 3000);
        ok &= save(book, out, QStringLiteral("book-detail"));
        press(book, "borrowButton");
        waitUntil([&] { return !book->isVisible(); }, 5000);
    }
    QDialog* borrowed = openDialog(window, "actionBorrowBook", "ReturnBookDialog");
    waitUntil([&] { return borrowed->findChild<QTreeWidget*>()->topLevelItemCount() > 0; }, 5000);
    waitUntil([&] { return !borrowed->findChild<QTreeWidget*>()->topLevelItem(0)->text(7).isEmpty(); }, 5000);
    // The due date is the last column, past the right edge of the fixed-size dialog.
    QScrollBar* across = borrowed->findChild<QTreeWidget*>()->horizontalScrollBar();
    across->setValue(across->maximum());
    ok &= save(borrowed, out, QStringLiteral("borrowed-books"));
    borrowed->close();

    // The same copy, now on loan, offers a hold.
    emit window.findChild<QPushButton*>("searchButton")->pressed();
    waitUntil([&] { return window.findChild<QPushButton*>("searchButton")->isEnabled() && list->topLevelItemCount(); });
    if (list->topLevelItemCount()) {
        const QString number = list->topLevelItem(0)->text(5);
        emit list->itemDoubleClicked(list->topLevelItem(0), 0);
        QDialog* book = nullptr;
        waitUntil([&] { return (book = newest<QDialog>(&window, "BookDialog")) != nullptr; });
        ok &= save(book, out, QStringLiteral("book-hold"));
        book->close();

        // At the desk: the copy comes back, the reader is looked up, the copy goes out to the reader again.
        QDialog* desk = openDialog(window, "actionDesk", "CirculationDeskDialog");
        const auto scan = [&](const char* field, const QString& text) {
            auto* edit = desk->findChild<QLineEdit*>(field);
            edit->setText(text);
            emit edit->returnPressed();
        };
        auto* deskLog = desk->findChild<QListWidget*>("deskLog");
        scan("checkinEdit", number);
        waitUntil([&] { return deskLog->count() > 0; }, 5000);
        scan("readerEdit", QString::fromLocal8Bit(argv[2]));
        waitUntil(
            [&] { return desk->findChild<QLabel*>("readerLabel")->text().startsWith(QString::fromLocal8Bit(argv[2])); },
            5000);
        scan("checkoutEdit", number);
        waitUntil([&] { return desk->findChild<QTreeWidget*>("loanList")->topLevelItemCount() > 0; }, 5000);
        ok &= save(desk, out, QStringLiteral("circulation-desk"));
        desk->close();
    }

    // 标签打印 for the first copies of the search results.
    list->clearSelection();
    for (int i = 0; i < std::min(6, list->topLevelItemCount()); ++i)
        list->topLevelItem(i)->setSelected(true);
    QDialog* labels = openDialog(window, "actionLabels", "LabelPrintDialog");
    ok &= save(labels, out, QStringLiteral("label-printing"));
    labels->close();

    QDialog* audit = openDialog(window, "actionAudit", "AuditLogDialog");
    waitUntil([&] { return audit->findChild<QTreeWidget*>("eventList")->topLevelItemCount() > 0; }, 5000);
    ok &= save(audit, out, QStringLiteral("audit-log"));
    audit->close();

    ok &= saveHolds(window, list, out, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    // The notices the server queued (when the script set notices up): the copy kept for the
    // administrator, who has no e-mail address, makes a letter, printed to a PDF file and drawn as it
    // stands on its page.
    auto* notices = static_cast<NoticesDialog*>(openDialog(window, "actionNotices", "NoticesDialog"));
    if (notices) {
        // The scan runs each second: ask again until the kept copy's notice is there.
        for (int i = 0; i < 20 && notices->findChild<QTreeWidget*>("noticeList")->topLevelItemCount() == 0; ++i) {
            press(notices, "searchButton");
            waitUntil([] { return false; }, 1000);
        }
        ok &= save(notices, out, QStringLiteral("notices"));
        QTemporaryDir scratch;
        QPdfWriter pdf(scratch.filePath(QStringLiteral("letters.pdf")));
        bool printed = false;
        QObject::connect(notices, &NoticesDialog::lettersPrinted, notices, [&] { printed = true; });
        notices->printLetters(&pdf);
        waitUntil([&] { return printed; }, 20000);
        if (!notices->letters().isEmpty()) {
            // A4 at 100 dots per inch, with the margins of the printed page.
            QImage page(827, 1169, QImage::Format_RGB32);
            page.setDotsPerMeterX(3937);
            page.setDotsPerMeterY(3937);
            page.fill(Qt::white);
            QPainter painter(&page);
            NoticeLetters::render(notices->letters().first(), painter, QRectF(79, 79, 827 - 158, 1169 - 158));
            painter.end();
            const QString path = out.filePath(QStringLiteral("notice-letter.png"));
            const bool saved = page.save(path);
            std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
            ok &= saved;
        }
        notices->close();
    }
    // Statistics of the loans above: each month of the last year, its loans and returns.
    QDialog* statistics = openDialog(window, "actionStatistics", "StatisticsDialog");
    press(statistics, "queryButton");
    waitUntil([&] { return statistics->findChild<QTreeWidget*>("reportList")->topLevelItemCount() > 0; }, 5000);
    ok &= save(statistics, out, QStringLiteral("statistics"));
    statistics->close();

    // A stocktake of the classical novels' shelf: a few copies scanned, one of them twice, one
    // number unknown, then the report.
    QDialog* stocktake = openDialog(window, "actionInventory", "InventoryDialog");
    stocktake->findChild<QLineEdit*>("nameEdit")->setText(QStringLiteral("古典小说架"));
    stocktake->findChild<QLineEdit*>("prefixEdit")->setText(QStringLiteral("I242"));
    press(stocktake, "startButton");
    auto* inventories = stocktake->findChild<QComboBox*>("inventoryBox");
    waitUntil([&] { return inventories->count() > 0; }, 5000);
    auto* scanList = stocktake->findChild<QTreeWidget*>("scanList");
    const QStringList scans{"I242.4/0001-1", "I242.4/0001-2",  "I242.4/0002-1", "I242.4/0002-1",
                            "I242.4/0003-1", "I561.44/0141-1", "I242.4/9999-1"};
    for (const QString& number : scans) {
        auto* edit = stocktake->findChild<QLineEdit*>("scanEdit");
        edit->setText(number);
        emit edit->returnPressed();
    }
    waitUntil([&] { return scanList->topLevelItemCount() >= scans.size(); }, 10000);
    press(stocktake, "reportButton");
    waitUntil([&] { return stocktake->findChild<QTreeWidget*>("reportList")->topLevelItemCount() > 0; }, 5000);
    ok &= save(stocktake, out, QStringLiteral("stocktake"));
    stocktake->close();

    QDialog* manage = openDialog(window, "actionUserManage", "UserManageDialog");
    press(manage, "searchButton");
    waitUntil([&] { return manage->findChild<QTreeWidget*>("userList")->topLevelItemCount() > 0; }, 5000);
    ok &= save(manage, out, QStringLiteral("user-management"));
    manage->close();

    for (const auto& [action, className, name] :
         {std::tuple{"actionAddBook", "AddBookDialog", "add-book"},
          std::tuple{"actionRegister", "RegisterDialog", "register"},
          std::tuple{"actionInfo", "UserInfoUpdateDialog", "personal-information"},
          std::tuple{"actionChangeIP", "DialogChIP", "server-address"}}) {
        QDialog* dialog = openDialog(window, action, className);
        ok &= save(dialog, out, QLatin1String(name));
        if (dialog)
            dialog->close();
    }
    // Last, as it moves the server's clock on: four months later (the test server's clock, when the
    // script runs one) the loan is overdue.
    if (const QString clock = qEnvironmentVariable("LIBRARY_TEST_CLOCK_FILE"); !clock.isEmpty()) {
        QFile file(clock);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(QByteArray::number(120 * 24 * 3600));
    }
    // A window that did not open is reported by save() (a null dialog), not crashed on.
    if (QDialog* overdue = openDialog(window, "actionOverdue", "OverdueDialog")) {
        waitUntil([&] { return overdue->findChild<QTreeWidget*>("overdueList")->topLevelItemCount() > 0; }, 5000);
        ok &= save(overdue, out, QStringLiteral("overdue-list"));
        overdue->close();
    } else {
        ok = false;
        std::printf("FAILED overdue-list: the window did not open\n");
    }

    return ok ? 0 : 1;
}
