#include "addbookdialog.h"
#include "auditlogdialog.h"
#include "bookdialog.h"
#include "circulationdeskdialog.h"
#include "labelprintdialog.h"
#include "logindialog.h"
#include "overduedialog.h"
#include "loginsession.h"
#include "myholdsdialog.h"
#include "refusals.h"
#include "registerdialog.h"
#include "returnbookdialog.h"
#include "serverfixture.h"
#include "tempworkdir.h"
#include "tracecatcher.h"
#include "userinfoupdatedialog.h"
#include "usermanagedialog.h"
#include "windowtesting.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTextEdit>

#include <memory>

using namespace WindowTesting;

namespace {

// Long enough for a password hash on a busy machine; nothing here measures time.
constexpr int WaitMs = 30000;
const QString AdminId = QStringLiteral("admin");
const QString Free = QStringLiteral("空闲");
const QString LentOut = QStringLiteral("已借出");

// The catalogue the server starts with. Each test works on books of its own, so the tests do not depend
// on their order.
const QByteArray Catalogue = "title,author,type,publisher,year,number,permission\n"
                             "红楼梦,曹雪芹,小说,人民文学出版社,1791,J-001,Undergraduate\n"
                             "Journey to the West,Wu Cheng'en,Novel,Zhonghua Book Company,1592,J-002,本科生\n"
                             "The Art of Computer Programming,Donald Knuth,Computing,Addison-Wesley,1968,J-003,VIP\n"
                             "\"Structure and Interpretation, Second Edition\",Harold Abelson,Computing,MIT Press,1996,"
                             "J-004,Postgraduate\n"
                             "Calculus,Michael Spivak,Mathematics,Publish or Perish,1967,J-005,Undergraduate\n"
                             "Lifecycle Reader,Ann Author,Novel,Test Press,2001,J-010,Undergraduate\n"
                             "Limit One,Ann Author,Novel,Test Press,2002,J-020,Undergraduate\n"
                             "Limit Two,Ann Author,Novel,Test Press,2002,J-021,Undergraduate\n"
                             "Limit Three,Ann Author,Novel,Test Press,2002,J-022,Undergraduate\n"
                             "Taken Since Search,Ann Author,Novel,Test Press,2003,J-023,Undergraduate\n"
                             "Rare Manuscripts,Ann Author,History,Test Press,1900,J-030,VIP\n"
                             "On Loan Elsewhere,Ann Author,Novel,Test Press,2004,J-031,Undergraduate\n"
                             "Rare And On Loan,Ann Author,History,Test Press,1901,J-032,VIP\n"
                             "Shelf Copy,Ann Author,Novel,Test Press,2005,J-033,Undergraduate\n"
                             "Lent Before The Search,Ann Author,Novel,Test Press,2006,J-040,Undergraduate\n"
                             "Lent After The Search,Ann Author,Novel,Test Press,2006,J-041,Undergraduate\n"
                             "Desk Story,Ann Author,Novel,Test Press,2007,J-050,Undergraduate\n"
                             "Waited For,Ann Author,Novel,Test Press,2008,J-060,Undergraduate\n"
                             "Kept Aside,Ann Author,Novel,Test Press,2008,J-061,Undergraduate\n";

// A reader's loan limit small enough to reach in a test.
constexpr int UndergraduateLoanLimit = 2;

using SearchFields = QHash<QString, QString>;

} // namespace

// Journeys through the real client windows against the real server: the windows are driven by their
// Designer object names, message boxes are answered and recorded, and what the server stored is checked
// by searching again.
class TestJourneys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void guestSearchesAndOpensABook_data();
    void guestSearchesAndOpensABook();
    void readerRegistersIsConfirmedBorrowsAndReturns();
    void informationUpdate_data();
    void informationUpdate();
    void administratorAddsFindsAndDeletesABook();
    void labelsForSelectedCopiesAndARange();
    void lentBookIsNotDeleted_data();
    void lentBookIsNotDeleted();
    void userManagementListings();
    void userManagementLevelChange_data();
    void userManagementLevelChange();
    void userManagementDelete();
    void borrowRefusedInTheClient_data();
    void borrowRefusedInTheClient();
    void borrowRefusedByTheServer_data();
    void borrowRefusedByTheServer();
    void sessionTokenEndsAtLogout();
    void readerCancelsAHold_data();
    void readerCancelsAHold();
    // Last: it moves the server's clock.
    void circulationDesk();

private:
    // Waits for the message box after the first `mark` ones and gives it as "title|text".
    QString boxAfter(int mark);
    int boxMark() const { return int(boxes->boxes().size()); }
    // Waits until one more exchange than `mark` has traced its end of stream.
    bool exchangeEndedAfter(int mark);
    int traceMark() const { return traces->count(QStringLiteral("Receive End")); }

    QString logIn(const QString& id, const QString& password);
    void logOut();
    // Fills the search form (object name to text; the rest left empty), searches, and gives the rows.
    QList<QStringList> search(const QHash<QString, QString>& fields);
    QList<QStringList> searchNumber(const QString& number) { return search({{QStringLiteral("bookNumber"), number}}); }
    // Double-clicks the result row of a book number and gives the detail dialog it opened.
    BookDialog* openBook(const QString& number);
    QString pressAndWaitForBox(QWidget* dialog, const char* button);
    UserManageDialog* openUserManagement();
    // Lists users with the search text (or the unconfirmed ones) in the dialog and gives the rows.
    QList<QStringList> listUsers(UserManageDialog* dialog, const QString& text, bool unconfirmed = false);
    QTreeWidgetItem* userRow(UserManageDialog* dialog, const QString& id);
    ReturnBookDialog* openBorrowedBooks();
    // Opens 我的预约 and waits until it lists `rows` holds.
    MyHoldsDialog* openHolds(int rows);
    bool createUser(const QString& id, const QString& password, int level);

    static QList<QStringList> rowsOf(QTreeWidget* list, int columns);

    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<ServerFixture> fixture;
    // The administrator's own connection for preparing accounts, from a machine of its own so that the
    // window's logins do not replace it.
    std::unique_ptr<WireClient> adminWire;

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<TraceCatcher> traces;
    std::unique_ptr<MessageBoxWatcher> boxes;
    std::unique_ptr<MainWindow> window;
};

void TestJourneys::initTestCase()
{
    server = std::make_unique<ServerProcess>(QStringLiteral(TEST_SERVER_BINARY));
    server->setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    QVERIFY(server->writeFile(QStringLiteral("catalogue.csv"), Catalogue));
    server->setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("catalogue.csv"));
    server->setSetting(QStringLiteral("loanLimits/Undergraduate"), UndergraduateLoanLimit);
    // The desk story renews a loan the day it is made.
    server->setSetting(QStringLiteral("circulation/renewWithinDays"), 30);
    // Wrong passwords are part of the journeys; they must not lock the test machine out.
    server->setSetting(QStringLiteral("security/loginFailuresAllowed"), 1000);
    QVERIFY2(server->start(), qPrintable(server->errorText()));
    fixture = std::make_unique<ServerFixture>(*server);
    adminWire = std::make_unique<WireClient>(fixture->client(2));
    // With a token of its own: the windows log the same administrator in with theirs meanwhile.
    QCOMPARE(fixture->loginWithToken(*adminWire, AdminId, QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
}

void TestJourneys::cleanupTestCase()
{
    adminWire.reset();
    fixture.reset();
    if (server)
        QVERIFY(server->stop());
    server.reset();
}

void TestJourneys::init()
{
    dir = std::make_unique<TempWorkDir>();
    writeFile(QStringLiteral("hostIP.txt"), "127.0.0.1\n" + QByteArray::number(server->port()));
    writePlainClientSettings();
    traces = std::make_unique<TraceCatcher>();
    boxes = std::make_unique<MessageBoxWatcher>();
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestJourneys::cleanup()
{
    window.reset();
    boxes.reset();
    traces.reset();
    dir.reset();
}

// Helpers ---------------------------------------------------------------------------------------------

QString TestJourneys::boxAfter(int mark)
{
    if (!QTest::qWaitFor([&] { return boxes->boxes().size() > mark; }, WaitMs))
        return QStringLiteral("<no message box>");
    return boxes->seen().at(mark);
}

bool TestJourneys::exchangeEndedAfter(int mark)
{
    return QTest::qWaitFor([&] { return traceMark() > mark; }, WaitMs);
}

QString TestJourneys::logIn(const QString& id, const QString& password)
{
    const int mark = boxMark();
    widget<QAction>(window.get(), "actionLogin")->trigger();
    LoginDialog* dialog = newest<LoginDialog>(window.get());
    if (!dialog)
        return QStringLiteral("<no login dialog>");
    widget<QLineEdit>(dialog, "userNameEdit")->setText(id);
    widget<QLineEdit>(dialog, "passwordEdit")->setText(password);
    QTest::mouseClick(widget<QPushButton>(dialog, "loginButton"), Qt::LeftButton);
    const QString box = boxAfter(mark);
    // A refused login leaves its dialog open; close it so that it does not hold the window modal.
    if (dialog->isVisible())
        QTest::mouseClick(widget<QPushButton>(dialog, "cancelButton"), Qt::LeftButton);
    return box;
}

void TestJourneys::logOut()
{
    widget<QAction>(window.get(), "actionLogout")->trigger();
}

QList<QStringList> TestJourneys::rowsOf(QTreeWidget* list, int columns)
{
    QList<QStringList> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QStringList texts;
        for (int c = 0; c < columns; ++c)
            texts << list->topLevelItem(i)->text(c);
        rows << texts;
    }
    return rows;
}

QList<QStringList> TestJourneys::search(const QHash<QString, QString>& fields)
{
    for (const char* name : {"bookEdit", "authorEdit", "bookNumber", "bookYearF", "bookYearT", "typeEdit", "pressEdit"})
        widget<QLineEdit>(window.get(), name)->setText(fields.value(QLatin1String(name)));
    auto* list = widget<QTreeWidget>(window.get(), "bookList");
    const int mark = boxMark();
    QTest::mouseClick(widget<QPushButton>(window.get(), "searchButton"), Qt::LeftButton);
    const QString box = boxAfter(mark);
    const QList<QStringList> rows = rowsOf(list, 8);
    const QString expected = QStringLiteral("Searching completed|Find %1 result").arg(rows.size());
    if (box != expected)
        qWarning() << "search ended with" << box << "instead of" << expected;
    return rows;
}

BookDialog* TestJourneys::openBook(const QString& number)
{
    auto* list = widget<QTreeWidget>(window.get(), "bookList");
    const QList<QTreeWidgetItem*> found = list->findItems(number, Qt::MatchExactly, 5);
    if (found.isEmpty())
        return nullptr;
    list->scrollToItem(found.first());
    const QPoint centre = list->visualItemRect(found.first()).center();
    const int before = int(window->findChildren<BookDialog*>(QString(), Qt::FindDirectChildrenOnly).size());
    // A double-click is a click followed by a second press that the view reads as the double-click.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
    const QList<BookDialog*> dialogs = window->findChildren<BookDialog*>(QString(), Qt::FindDirectChildrenOnly);
    return dialogs.size() > before ? dialogs.last() : nullptr;
}

QString TestJourneys::pressAndWaitForBox(QWidget* dialog, const char* button)
{
    const int mark = boxMark();
    QTest::mouseClick(widget<QPushButton>(dialog, button), Qt::LeftButton);
    return boxAfter(mark);
}

UserManageDialog* TestJourneys::openUserManagement()
{
    widget<QAction>(window.get(), "actionUserManage")->trigger();
    return newest<UserManageDialog>(window.get());
}

QList<QStringList> TestJourneys::listUsers(UserManageDialog* dialog, const QString& text, bool unconfirmed)
{
    widget<QLineEdit>(dialog, "userEdit")->setText(text);
    const QString box = pressAndWaitForBox(dialog, unconfirmed ? "unconfirmButton" : "searchButton");
    const QList<QStringList> rows = rowsOf(widget<QTreeWidget>(dialog, "userList"), 6);
    const QString expected = QStringLiteral("Searching completes|Find %1 results").arg(rows.size());
    if (box != expected)
        qWarning() << "user listing ended with" << box << "instead of" << expected;
    return rows;
}

QTreeWidgetItem* TestJourneys::userRow(UserManageDialog* dialog, const QString& id)
{
    const QList<QTreeWidgetItem*> found = widget<QTreeWidget>(dialog, "userList")->findItems(id, Qt::MatchExactly, 0);
    return found.isEmpty() ? nullptr : found.first();
}

ReturnBookDialog* TestJourneys::openBorrowedBooks()
{
    const int mark = traceMark();
    widget<QAction>(window.get(), "actionBorrowBook")->trigger();
    ReturnBookDialog* dialog = newest<ReturnBookDialog>(window.get());
    if (!exchangeEndedAfter(mark))
        qWarning() << "the borrowed-books listing did not end";
    return dialog;
}

MyHoldsDialog* TestJourneys::openHolds(int rows)
{
    widget<QAction>(window.get(), "actionHolds")->trigger();
    MyHoldsDialog* dialog = newest<MyHoldsDialog>(window.get());
    auto* list = widget<QTreeWidget>(dialog, "holdList");
    if (!QTest::qWaitFor([&] { return list->topLevelItemCount() == rows; }, WaitMs))
        qWarning() << "the holds list shows" << list->topLevelItemCount() << "rows instead of" << rows;
    return dialog;
}

bool TestJourneys::createUser(const QString& id, const QString& password, int level)
{
    return fixture->createUser(*adminWire, id, password, level);
}

// Journeys --------------------------------------------------------------------------------------------

void TestJourneys::guestSearchesAndOpensABook_data()
{
    QTest::addColumn<SearchFields>("fields");
    QTest::addColumn<QStringList>("numbers");

    using Fields = SearchFields;
    QTest::newRow("chinese title") << Fields{{"bookEdit", "红楼梦"}} << QStringList{"J-001"};
    QTest::newRow("two-character chinese title") << Fields{{"bookEdit", "红楼"}} << QStringList{"J-001"};
    QTest::newRow("title in other case") << Fields{{"bookEdit", "journey TO"}} << QStringList{"J-002"};
    QTest::newRow("title with a comma") << Fields{{"bookEdit", "Interpretation, Second"}} << QStringList{"J-004"};
    QTest::newRow("author") << Fields{{"authorEdit", "Knuth"}} << QStringList{"J-003"};
    QTest::newRow("book number") << Fields{{"bookNumber", "J-005"}} << QStringList{"J-005"};
    QTest::newRow("year range") << Fields{{"bookYearF", "1960"}, {"bookYearT", "1970"}}
                                << QStringList{"J-003", "J-005"};
    QTest::newRow("type and publisher") << Fields{{"typeEdit", "Computing"}, {"pressEdit", "MIT"}}
                                        << QStringList{"J-004"};
    QTest::newRow("no match") << Fields{{"bookEdit", "No Such Title Anywhere"}} << QStringList{};
}

void TestJourneys::guestSearchesAndOpensABook()
{
    QFETCH(SearchFields, fields);
    QFETCH(QStringList, numbers);

    const QList<QStringList> rows = search(fields);
    QStringList found;
    for (const QStringList& row : rows)
        found << row.value(5);
    found.sort();
    QCOMPARE(found, numbers);
    QCOMPARE(boxes->seen().last(), QStringLiteral("Searching completed|Find %1 result").arg(numbers.size()));
    if (rows.isEmpty())
        return;

    // The first book opens with every field as the server sent it and the level in Chinese.
    const QStringList row = rows.first();
    QCOMPARE(row.value(6), Free);
    BookDialog* dialog = openBook(row.value(5));
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Book"));
    const char* edits[] = {"nameEdit", "authorEdit", "typeEdit",  "pressEdit",
                           "yearEdit", "numberEdit", "stateEdit", "limEdit"};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(widget<QLineEdit>(dialog, edits[i])->text(), row.value(i));
    // A guest may look but neither delete nor borrow: borrowing asks for a login first.
    QVERIFY(!widget<QPushButton>(dialog, "deleteButton")->isEnabled());
    QCOMPARE(pressAndWaitForBox(dialog, "borrowButton"), QStringLiteral("Error|请先登录，再借阅书籍。"));
    if (LoginDialog* login = newest<LoginDialog>(window.get()))
        login->close();
    QCOMPARE(searchNumber(row.value(5)).value(0).value(6), Free);
}

void TestJourneys::readerRegistersIsConfirmedBorrowsAndReturns()
{
    const QString id = QStringLiteral("reader1");
    const QString password = QStringLiteral("Reader-Pass-1");
    const QString name = QStringLiteral("李小红");

    // Registration as a guest.
    const auto registerAs = [&](const QString& studentNumber, const QString& accountId) {
        widget<QAction>(window.get(), "actionRegister")->trigger();
        RegisterDialog* form = newest<RegisterDialog>(window.get());
        widget<QLineEdit>(form, "idEdit")->setText(accountId);
        widget<QLineEdit>(form, "passwordEdit")->setText(password);
        widget<QLineEdit>(form, "repeatPasswordEdit")->setText(password);
        widget<QLineEdit>(form, "nameEdit")->setText(name);
        widget<QLineEdit>(form, "studentNumberEdit")->setText(studentNumber);
        widget<QLineEdit>(form, "phoneNumberEdit")->setText(QStringLiteral("555-0101"));
        widget<QLineEdit>(form, "emailEdit")->setText(QStringLiteral("reader1@example.org"));
        widget<QTextEdit>(form, "userInfoEdit")->setPlainText(QStringLiteral("Likes novels.\nSecond line."));
        const QString box = pressAndWaitForBox(form, "submitButton");
        if (form->isVisible())
            QTest::mouseClick(widget<QPushButton>(form, "cancelButton"), Qt::LeftButton);
        return box;
    };
    QCOMPARE(registerAs(QStringLiteral("S-1001"), id),
             QStringLiteral("PASS|Register sucessfully!\n账号需经图书馆确认后才能借书。"));
    // Neither the user ID nor the student number may be taken twice.
    QCOMPARE(registerAs(QStringLiteral("S-1002"), id), QStringLiteral("Error|ID or student number existed."));
    QCOMPARE(registerAs(QStringLiteral("S-1001"), QStringLiteral("reader1-twin")),
             QStringLiteral("Error|ID or student number existed."));

    // Confirmation: the administrator finds the account among the unconfirmed ones and raises it.
    QCOMPARE(logIn(AdminId, QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS!|Login successfully!"));
    QVERIFY(widget<QMenu>(window.get(), "menuAdmin")->isEnabled());
    UserManageDialog* manage = openUserManagement();
    QVERIFY(manage);
    const QList<QStringList> unconfirmed = listUsers(manage, QString(), true);
    QVERIFY(unconfirmed.contains(QStringList{id, name, "S-1001", "555-0101", "reader1@example.org", "Guest"}));
    auto* users = widget<QTreeWidget>(manage, "userList");
    users->setCurrentItem(userRow(manage, id));
    QCOMPARE(pressAndWaitForBox(manage, "escalateButton"), QStringLiteral("PASS|Escalate the user successfully!"));
    QCOMPARE(userRow(manage, id)->text(5), QStringLiteral("本科生"));
    listUsers(manage, QString(), true);
    QVERIFY(!userRow(manage, id));
    manage->close();
    logOut();
    QCOMPARE(window->windowTitle(), QStringLiteral("Welcome!"));

    // The reader logs in and borrows.
    QCOMPARE(logIn(id, password), QStringLiteral("PASS!|Login successfully!"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Welcome ") + name + QStringLiteral("!"));
    QCOMPARE(window->currentUser().permission, QStringLiteral("Undergraduate"));
    QVERIFY(!widget<QMenu>(window.get(), "menuAdmin")->isEnabled());
    QVERIFY(widget<QAction>(window.get(), "actionBorrowBook")->isEnabled());

    QList<QStringList> rows = searchNumber(QStringLiteral("J-010"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().value(6), Free);
    BookDialog* book = openBook(QStringLiteral("J-010"));
    QVERIFY(book);
    QCOMPARE(pressAndWaitForBox(book, "borrowButton"), QStringLiteral("PASS|Borrow the book successfully!"));
    QTRY_VERIFY(!book->isVisible());
    QStringList lent = rows.first();
    lent[6] = LentOut;
    QCOMPARE(rowsOf(widget<QTreeWidget>(window.get(), "bookList"), 8), QList<QStringList>{lent});

    // The borrowed-books list shows the loan with its date.
    ReturnBookDialog* loans = openBorrowedBooks();
    QVERIFY(loans);
    QCOMPARE(loans->windowTitle(), QStringLiteral("Book List"));
    auto* loanList = widget<QTreeWidget>(loans, "bookList");
    QCOMPARE(loanList->topLevelItemCount(), 1);
    const QStringList loan = rowsOf(loanList, 7).first();
    QCOMPARE(loan.mid(0, 6), rows.first().mid(0, 6));
    QVERIFY2(!loan.value(6).trimmed().isEmpty(), "the loan has no date");

    // Return: the row leaves the dialog and the main window's results are emptied.
    loanList->setCurrentItem(loanList->topLevelItem(0));
    QCOMPARE(pressAndWaitForBox(loans, "returnButton"), QStringLiteral("PASS|Return the book successfully!!!"));
    QTRY_COMPARE(loanList->topLevelItemCount(), 0);
    QCOMPARE(widget<QTreeWidget>(window.get(), "bookList")->topLevelItemCount(), 0);
    QTest::mouseClick(widget<QPushButton>(loans, "cancelButton"), Qt::LeftButton);
    QVERIFY(!loans->isVisible());

    QCOMPARE(searchNumber(QStringLiteral("J-010")).value(0).value(6), Free);
    ReturnBookDialog* again = openBorrowedBooks();
    QCOMPARE(widget<QTreeWidget>(again, "bookList")->topLevelItemCount(), 0);
    again->close();

    // Logout puts the window back into the guest state.
    logOut();
    QCOMPARE(window->windowTitle(), QStringLiteral("Welcome!"));
    QVERIFY(widget<QAction>(window.get(), "actionLogin")->isEnabled());
    QVERIFY(!widget<QAction>(window.get(), "actionInfo")->isEnabled());
    QVERIFY(!widget<QAction>(window.get(), "actionBorrowBook")->isEnabled());
    QCOMPARE(window->currentUser().id, UserInfo::guest().id);
}

void TestJourneys::informationUpdate_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("newPassword");

    QTest::newRow("with a new password") << "update1"
                                         << "Brand-New-Pass";
    QTest::newRow("keeping the password") << "update2"
                                          << "";
}

void TestJourneys::informationUpdate()
{
    QFETCH(QString, id);
    QFETCH(QString, newPassword);
    const QString oldPassword = QStringLiteral("Old-Pass-1");
    QVERIFY(createUser(id, oldPassword, Levels::Undergraduate));

    QCOMPARE(logIn(id, oldPassword), QStringLiteral("PASS!|Login successfully!"));
    widget<QAction>(window.get(), "actionInfo")->trigger();
    UserInfoUpdateDialog* form = newest<UserInfoUpdateDialog>(window.get());
    QVERIFY(form);
    // The form starts from the account as the server sent it at login.
    QCOMPARE(widget<QLineEdit>(form, "nameEdit")->text(), id + QStringLiteral(" name"));
    QCOMPARE(widget<QLineEdit>(form, "emailEdit")->text(), id + QStringLiteral("@example.org"));
    widget<QLineEdit>(form, "nameEdit")->setText(QStringLiteral("王 大明"));
    widget<QLineEdit>(form, "phoneNumberEdit")->setText(QStringLiteral("555-0199"));
    widget<QLineEdit>(form, "emailEdit")->setText(QStringLiteral("new@example.org"));
    widget<QTextEdit>(form, "userInfoEdit")->setPlainText(QStringLiteral("Moved.\nNew address."));
    widget<QLineEdit>(form, "newPasswordEdit")->setText(newPassword);
    widget<QLineEdit>(form, "repeatPasswordEdit")->setText(newPassword);
    widget<QLineEdit>(form, "currentPasswordEdit")->setText(newPassword.isEmpty() ? QString() : oldPassword);
    QCOMPARE(pressAndWaitForBox(form, "submitButton"), QStringLiteral("PASS|Update successfully!"));
    QTRY_VERIFY(!form->isVisible());
    QCOMPARE(window->currentUser().name, QStringLiteral("王 大明"));
    // No password is kept in the client, not even the one typed at login.
    QVERIFY(window->currentUser().password.isEmpty());
    logOut();

    // Which password opens the account now.
    const QString current = newPassword.isEmpty() ? oldPassword : newPassword;
    const QString other = newPassword.isEmpty() ? QStringLiteral("Brand-New-Pass") : oldPassword;
    QCOMPARE(logIn(id, other), QStringLiteral("Error!|Wrong password!"));
    QCOMPARE(window->currentUser().id, UserInfo::guest().id);
    QCOMPARE(logIn(id, current), QStringLiteral("PASS!|Login successfully!"));

    // The server kept the new details: the next login brings them back.
    const UserInfo& user = window->currentUser();
    QCOMPARE(user.name, QStringLiteral("王 大明"));
    QCOMPARE(user.phoneNumber, QStringLiteral("555-0199"));
    QCOMPARE(user.email, QStringLiteral("new@example.org"));
    QCOMPARE(user.userInfo, QStringLiteral("Moved.\nNew address."));
    QCOMPARE(user.permission, QStringLiteral("Undergraduate"));
}

void TestJourneys::administratorAddsFindsAndDeletesABook()
{
    QCOMPARE(logIn(AdminId, QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS!|Login successfully!"));
    QVERIFY(widget<QAction>(window.get(), "actionAddBook")->isEnabled());

    const auto addBook = [&](const QString& title) {
        widget<QAction>(window.get(), "actionAddBook")->trigger();
        AddBookDialog* form = newest<AddBookDialog>(window.get());
        widget<QLineEdit>(form, "nameEdit")->setText(title);
        widget<QLineEdit>(form, "authorEdit")->setText(QStringLiteral("New Author"));
        widget<QLineEdit>(form, "typeEdit")->setText(QStringLiteral("Poetry"));
        widget<QLineEdit>(form, "numberEdit")->setText(QStringLiteral("J-100"));
        widget<QLineEdit>(form, "yearEdit")->setText(QStringLiteral("2020"));
        widget<QLineEdit>(form, "pressEdit")->setText(QStringLiteral("Fresh Press"));
        widget<QComboBox>(form, "limitBox")->setCurrentIndex(2); // VIP
        return form;
    };
    AddBookDialog* form = addBook(QStringLiteral("A Brand New Book"));
    widget<QCheckBox>(form, "printLabelBox")->setChecked(true);
    QCOMPARE(pressAndWaitForBox(form, "submitButton"), QStringLiteral("PASS|Add books sucessfully!"));
    QTRY_VERIFY(!form->isVisible());
    // Asked for, the labels of the copies just added are offered at once, this copy the last of them.
    LabelPrintDialog* labels = nullptr;
    QTRY_VERIFY(labels = newest<LabelPrintDialog>(window.get()));
    QVERIFY(widget<QRadioButton>(labels, "addedRadio")->isChecked());
    const LabelItem copy = labels->items().value(labels->items().size() - 1);
    QCOMPARE((QStringList{copy.number, copy.title, copy.type}), (QStringList{"J-100", "A Brand New Book", "Poetry"}));
    QVERIFY2(labels->problems().isEmpty(), qPrintable(labels->problems().join('\n')));
    labels->close();

    // A second book with the same number is refused, and the client says why; the form stays open.
    AddBookDialog* duplicate = addBook(QStringLiteral("Another Title"));
    const int traced = traceMark();
    QCOMPARE(pressAndWaitForBox(duplicate, "submitButton"), "Error!|" + Refusals::message("BOOK_NUMBER_EXISTS"));
    QVERIFY(exchangeEndedAfter(traced));
    QVERIFY(duplicate->isVisible());
    QTest::mouseClick(widget<QPushButton>(duplicate, "cancelButton"), Qt::LeftButton);

    const QList<QStringList> rows = search({{QStringLiteral("bookEdit"), QStringLiteral("Brand New")}});
    const QStringList added{"A Brand New Book", "New Author", "Poetry", "Fresh Press", "2020", "J-100", Free, "VIP"};
    QCOMPARE(rows, QList<QStringList>{added});

    BookDialog* book = openBook(QStringLiteral("J-100"));
    QVERIFY(book);
    QVERIFY(widget<QPushButton>(book, "deleteButton")->isEnabled());
    QCOMPARE(pressAndWaitForBox(book, "deleteButton"), QStringLiteral("PASS|Delete the book successfully!"));
    QTRY_VERIFY(!book->isVisible());
    QCOMPARE(widget<QTreeWidget>(window.get(), "bookList")->topLevelItemCount(), 0);
    QVERIFY(searchNumber(QStringLiteral("J-100")).isEmpty());
}

void TestJourneys::labelsForSelectedCopiesAndARange()
{
    // 标签打印 takes the copies selected in the search results, or looks a range of book numbers up
    // in the catalogue one by one; a number the catalogue does not hold is named and left out.
    QCOMPARE(logIn(AdminId, QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS!|Login successfully!"));
    QCOMPARE(search({{QStringLiteral("bookEdit"), QStringLiteral("Limit")}}).size(), 3);
    auto* results = widget<QTreeWidget>(window.get(), "bookList");
    results->topLevelItem(0)->setSelected(true);
    results->topLevelItem(2)->setSelected(true);
    const QStringList selected{results->topLevelItem(0)->text(5), results->topLevelItem(2)->text(5)};
    widget<QAction>(window.get(), "actionLabels")->trigger();
    LabelPrintDialog* labels = newest<LabelPrintDialog>(window.get());
    QVERIFY(labels);
    const auto numbers = [&] {
        QStringList out;
        for (const LabelItem& item : labels->items())
            out << item.number + QLatin1Char('|') + item.title;
        return out;
    };
    QCOMPARE(numbers().size(), 2);
    QCOMPARE(numbers().value(0).section('|', 0, 0), selected.value(0));
    QCOMPARE(numbers().value(1).section('|', 0, 0), selected.value(1));

    widget<QRadioButton>(labels, "rangeRadio")->setChecked(true);
    widget<QLineEdit>(labels, "fromEdit")->setText(QStringLiteral("J-020"));
    widget<QLineEdit>(labels, "toEdit")->setText(QStringLiteral("J-024"));
    QTest::mouseClick(widget<QPushButton>(labels, "lookUpButton"), Qt::LeftButton);
    auto* status = widget<QLabel>(labels, "rangeLabel");
    QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("找到")), WaitMs);
    QCOMPARE(numbers(),
             (QStringList{"J-020|Limit One", "J-021|Limit Two", "J-022|Limit Three", "J-023|Taken Since Search"}));
    QCOMPARE(status->text(), QStringLiteral("找到 4 本；目录中没有：J-024"));
    QVERIFY2(labels->problems().isEmpty(), qPrintable(labels->problems().join('\n')));
    labels->close();
}

void TestJourneys::lentBookIsNotDeleted_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("lentBeforeSearch");

    // Refused by the client, which sees the state in the row.
    QTest::newRow("lent when searched") << "J-040" << true;
    // Refused by the server: the row still says free.
    QTest::newRow("lent since the search") << "J-041" << false;
}

void TestJourneys::lentBookIsNotDeleted()
{
    QFETCH(QString, number);
    QFETCH(bool, lentBeforeSearch);

    const QString holderId = QStringLiteral("holder-") + number;
    QVERIFY(createUser(holderId, QStringLiteral("pw-holder"), Levels::Undergraduate));
    const WireClient holder = fixture->client(6);
    QCOMPARE(fixture->login(holder, holderId, QStringLiteral("pw-holder")), QStringLiteral("PASS"));
    const auto lend = [&] {
        return holder.send(BorrowBookQuery{BookRecord::from(fixture->bookRow(number)), holderId}).word();
    };

    QCOMPARE(logIn(AdminId, QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS!|Login successfully!"));
    if (lentBeforeSearch)
        QCOMPARE(lend(), QString(Reply::BorrowBookSuccessfully));
    QCOMPARE(searchNumber(number).value(0).value(6), lentBeforeSearch ? LentOut : Free);
    BookDialog* book = openBook(number);
    QVERIFY(book);
    if (!lentBeforeSearch)
        QCOMPARE(lend(), QString(Reply::BorrowBookSuccessfully));

    const int ended = traceMark();
    const int boxed = boxMark();
    QTest::mouseClick(widget<QPushButton>(book, "deleteButton"), Qt::LeftButton);
    if (lentBeforeSearch) {
        QCOMPARE(boxAfter(boxed), QStringLiteral("Error|该书处于在借状态，不能删除!!"));
        QCOMPARE(traceMark(), ended);
    } else {
        // Lent since the search: the server refuses and the client says why.
        QCOMPARE(boxAfter(boxed), "Error!|" + Refusals::message("BOOK_ON_LOAN"));
        QVERIFY(exchangeEndedAfter(ended));
    }
    QVERIFY(book->isVisible());
    QCOMPARE(widget<QTreeWidget>(window.get(), "bookList")->topLevelItemCount(), 1);
    QTest::mouseClick(widget<QPushButton>(book, "cancelButton"), Qt::LeftButton);
    QCOMPARE(searchNumber(number).value(0).value(6), LentOut);
}

void TestJourneys::userManagementListings()
{
    QVERIFY(createUser(QStringLiteral("listed-a"), QStringLiteral("pw-aaaa"), Levels::Guest));
    QVERIFY(createUser(QStringLiteral("listed-b"), QStringLiteral("pw-bbbb"), Levels::Postgraduate));
    QVERIFY(createUser(QStringLiteral("other-c"), QStringLiteral("pw-cccc"), Levels::Guest));

    QCOMPARE(logIn(AdminId, QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS!|Login successfully!"));
    UserManageDialog* manage = openUserManagement();
    QVERIFY(manage);
    QCOMPARE(manage->windowTitle(), QStringLiteral("User Manage"));

    QList<QStringList> rows = listUsers(manage, QStringLiteral("listed-"));
    std::sort(rows.begin(), rows.end());
    QCOMPARE(rows,
             (QList<QStringList>{
                 {"listed-a", "listed-a name", "", "123", "listed-a@example.org", "Guest"},
                 {"listed-b", "listed-b name", "", "123", "listed-b@example.org", "研究生"},
             }));
    QCOMPARE(boxes->seen().last(), QStringLiteral("Searching completes|Find 2 results"));

    // The unconfirmed list holds the guests only, whatever the search text says.
    QStringList ids;
    for (const QStringList& row : listUsers(manage, QStringLiteral("listed-b"), true)) {
        QCOMPARE(row.value(5), QStringLiteral("Guest"));
        ids << row.value(0);
    }
    QVERIFY(ids.contains(QStringLiteral("listed-a")));
    QVERIFY(ids.contains(QStringLiteral("other-c")));
    QVERIFY(!ids.contains(QStringLiteral("listed-b")));
    QVERIFY(!ids.contains(AdminId));

    // Reader cards for the selected accounts, with their level as shown; the card window lists
    // readers' names, so it goes with the login like the window it came from.
    listUsers(manage, QStringLiteral("listed-"));
    userRow(manage, QStringLiteral("listed-a"))->setSelected(true);
    userRow(manage, QStringLiteral("listed-b"))->setSelected(true);
    QTest::mouseClick(widget<QPushButton>(manage, "printCardsButton"), Qt::LeftButton);
    QPointer<SheetPrintDialog> cards = newest<SheetPrintDialog>(manage);
    QVERIFY(cards);
    QStringList printed;
    for (const LabelItem& reader : cards->items())
        printed << reader.number + QLatin1Char('|') + reader.name + QLatin1Char('|') + reader.level;
    printed.sort();
    QCOMPARE(printed, (QStringList{"listed-a|listed-a name|Guest", "listed-b|listed-b name|研究生"}));
    QVERIFY2(cards->problems().isEmpty(), qPrintable(cards->problems().join('\n')));
    logOut();
    QTRY_VERIFY(!cards || !cards->isVisible());
}

void TestJourneys::userManagementLevelChange_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("raise");
    QTest::addColumn<int>("presses");
    QTest::addColumn<QString>("shown");

    QTest::newRow("raise a guest") << int(Levels::Guest) << true << 1 << "本科生";
    QTest::newRow("raise a guest twice") << int(Levels::Guest) << true << 2 << "研究生";
    QTest::newRow("raise a postgraduate") << int(Levels::Postgraduate) << true << 1 << "VIP";
    QTest::newRow("raise a VIP") << int(Levels::Vip) << true << 1 << "管理员";
    QTest::newRow("raise an administrator") << int(Levels::Administrator) << true << 1 << "管理员";
    QTest::newRow("lower an undergraduate") << int(Levels::Undergraduate) << false << 1 << "Guest";
    QTest::newRow("lower an administrator twice") << int(Levels::Administrator) << false << 2 << "研究生";
    QTest::newRow("lower a guest") << int(Levels::Guest) << false << 1 << "Guest";
}

void TestJourneys::userManagementLevelChange()
{
    QFETCH(int, start);
    QFETCH(bool, raise);
    QFETCH(int, presses);
    QFETCH(QString, shown);
    const QString id = QStringLiteral("level-%1-%2-%3")
                           .arg(start)
                           .arg(raise ? QLatin1String("up") : QLatin1String("down"))
                           .arg(presses);
    QVERIFY(createUser(id, QStringLiteral("pw-123456"), start));

    QCOMPARE(logIn(AdminId, QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS!|Login successfully!"));
    UserManageDialog* manage = openUserManagement();
    QCOMPARE(listUsers(manage, id).size(), 1);
    widget<QTreeWidget>(manage, "userList")->setCurrentItem(userRow(manage, id));
    const QString word = raise ? QStringLiteral("Escalate") : QStringLiteral("Degrade");
    // Each press sends the level the row shows after the one before.
    for (int i = 0; i < presses; ++i)
        QCOMPARE(pressAndWaitForBox(manage, raise ? "escalateButton" : "degradeButton"),
                 QStringLiteral("PASS|%1 the user successfully!").arg(word));
    QCOMPARE(userRow(manage, id)->text(5), shown);

    // The row shows what the server stored: a fresh listing agrees with it.
    QCOMPARE(listUsers(manage, id).value(0).value(5), shown);
}

void TestJourneys::userManagementDelete()
{
    QVERIFY(createUser(QStringLiteral("leaving"), QStringLiteral("pw-leave"), Levels::Undergraduate));
    QCOMPARE(logIn(AdminId, QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS!|Login successfully!"));
    UserManageDialog* manage = openUserManagement();
    auto* users = widget<QTreeWidget>(manage, "userList");

    // The Super Admin row is never deleted: the press sends nothing.
    listUsers(manage, AdminId);
    users->setCurrentItem(userRow(manage, AdminId));
    const int traced = traceMark();
    const int shown = boxMark();
    QTest::mouseClick(widget<QPushButton>(manage, "deleteButton"), Qt::LeftButton);
    QCOMPARE(traceMark(), traced);
    QCOMPARE(boxMark(), shown);
    QVERIFY(userRow(manage, AdminId));

    // An account with a book on loan is kept: the server refuses, the row stays.
    QVERIFY(createUser(QStringLiteral("borrower"), QStringLiteral("pw-bbbb"), Levels::Undergraduate));
    const WireClient borrower = fixture->client(5);
    QCOMPARE(fixture->login(borrower, QStringLiteral("borrower"), QStringLiteral("pw-bbbb")), QStringLiteral("PASS"));
    QCOMPARE(borrower
                 .send(BorrowBookQuery{BookRecord::from(fixture->bookRow(QStringLiteral("J-033"))),
                                       QStringLiteral("borrower")})
                 .word(),
             QString(Reply::BorrowBookSuccessfully));
    QCOMPARE(listUsers(manage, QStringLiteral("borrower")).size(), 1);
    users->setCurrentItem(userRow(manage, QStringLiteral("borrower")));
    const int ended = traceMark();
    const int boxed = boxMark();
    QTest::mouseClick(widget<QPushButton>(manage, "deleteButton"), Qt::LeftButton);
    QCOMPARE(boxAfter(boxed), "Error!|" + Refusals::message("USER_HAS_LOANS"));
    QVERIFY(exchangeEndedAfter(ended));
    QVERIFY(userRow(manage, QStringLiteral("borrower")));
    QCOMPARE(listUsers(manage, QStringLiteral("borrower")).size(), 1);

    QCOMPARE(listUsers(manage, QStringLiteral("leaving")).size(), 1);
    users->setCurrentItem(userRow(manage, QStringLiteral("leaving")));
    QCOMPARE(pressAndWaitForBox(manage, "deleteButton"), QStringLiteral("PASS|Delete the user successfully!"));
    QVERIFY(!userRow(manage, QStringLiteral("leaving")));
    QVERIFY(listUsers(manage, QStringLiteral("leaving")).isEmpty());
    manage->close();
    logOut();

    QCOMPARE(logIn(QStringLiteral("leaving"), QStringLiteral("pw-leave")), QStringLiteral("Error!|Wrong user name!"));
}

void TestJourneys::borrowRefusedInTheClient_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("shownState");
    QTest::addColumn<QString>("message");

    const QString noLevel = QStringLiteral("Error|您无权限借阅该书籍!!!");
    const QString onLoan = QStringLiteral("Error|该书处于在借状态，不能借阅!!!");
    QTest::newRow("level too low") << "undergrad"
                                   << "J-030" << Free << noLevel;
    QTest::newRow("account not confirmed") << "unconfirmed"
                                           << "J-002" << Free << noLevel;
    QTest::newRow("on loan") << "undergrad"
                             << "J-031" << LentOut << onLoan;
    QTest::newRow("on loan and level too low") << "undergrad"
                                               << "J-032" << LentOut << noLevel;
}

void TestJourneys::borrowRefusedInTheClient()
{
    QFETCH(QString, reader);
    QFETCH(QString, number);
    QFETCH(QString, shownState);
    QFETCH(QString, message);

    // Another machine's VIP has borrowed the books that show as lent.
    static bool lent = false;
    if (!lent) {
        QVERIFY(createUser(QStringLiteral("vip-holder"), QStringLiteral("pw-vip"), Levels::Vip));
        const WireClient holder = fixture->client(3);
        QCOMPARE(fixture->login(holder, QStringLiteral("vip-holder"), QStringLiteral("pw-vip")),
                 QStringLiteral("PASS"));
        for (const QString& n : {QStringLiteral("J-031"), QStringLiteral("J-032")}) {
            BorrowBookQuery q{BookRecord::from(fixture->bookRow(n)), QStringLiteral("vip-holder")};
            QCOMPARE(holder.send(q).word(), QString(Reply::BorrowBookSuccessfully));
        }
        QVERIFY(createUser(QStringLiteral("undergrad"), QStringLiteral("pw-ugug"), Levels::Undergraduate));
        QVERIFY(createUser(QStringLiteral("unconfirmed"), QStringLiteral("pw-ugug"), Levels::Guest));
        lent = true;
    }

    QCOMPARE(logIn(reader, QStringLiteral("pw-ugug")), QStringLiteral("PASS!|Login successfully!"));
    QCOMPARE(searchNumber(number).value(0).value(6), shownState);
    BookDialog* book = openBook(number);
    QVERIFY(book);
    const int traced = traceMark();
    QCOMPARE(pressAndWaitForBox(book, "borrowButton"), message);
    // Refused before any request: no exchange ran, the dialog and the row are unchanged.
    QCOMPARE(traceMark(), traced);
    QVERIFY(book->isVisible());
    QCOMPARE(widget<QLineEdit>(book, "stateEdit")->text(), shownState);
    QTest::mouseClick(widget<QPushButton>(book, "cancelButton"), Qt::LeftButton);
    QCOMPARE(searchNumber(number).value(0).value(6), shownState);
}

void TestJourneys::borrowRefusedByTheServer_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QStringList>("borrowedFirst");
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("takenMeanwhile");

    QTest::newRow("loan limit reached") << "limited" << QStringList{"J-020", "J-021"} << "J-022" << false;
    QTest::newRow("lent since the search") << "too-late" << QStringList{} << "J-023" << true;
}

void TestJourneys::borrowRefusedByTheServer()
{
    QFETCH(QString, reader);
    QFETCH(QStringList, borrowedFirst);
    QFETCH(QString, number);
    QFETCH(bool, takenMeanwhile);
    QCOMPARE(borrowedFirst.size() == UndergraduateLoanLimit, !takenMeanwhile);

    QVERIFY(createUser(reader, QStringLiteral("pw-rrrr"), Levels::Undergraduate));
    QCOMPARE(logIn(reader, QStringLiteral("pw-rrrr")), QStringLiteral("PASS!|Login successfully!"));
    for (const QString& n : borrowedFirst) {
        searchNumber(n);
        BookDialog* book = openBook(n);
        QVERIFY(book);
        QCOMPARE(pressAndWaitForBox(book, "borrowButton"), QStringLiteral("PASS|Borrow the book successfully!"));
    }

    QCOMPARE(searchNumber(number).value(0).value(6), Free);
    BookDialog* book = openBook(number);
    QVERIFY(book);
    if (takenMeanwhile) {
        const QString other = reader + QStringLiteral("-rival");
        QVERIFY(createUser(other, QStringLiteral("pw-oooo"), Levels::Undergraduate));
        const WireClient rival = fixture->client(4);
        QCOMPARE(fixture->login(rival, other, QStringLiteral("pw-oooo")), QStringLiteral("PASS"));
        QCOMPARE(rival.send(BorrowBookQuery{BookRecord::from(fixture->bookRow(number)), other}).word(),
                 QString(Reply::BorrowBookSuccessfully));
    }

    // The server refuses and the client says why, keeping the dialog open; a copy lent meanwhile now
    // shows as lent, in the dialog and in the row.
    const int traced = traceMark();
    const QString word = takenMeanwhile ? QStringLiteral("BOOK_ALREADY_LENT") : QStringLiteral("BORROW_LIMIT_REACHED");
    QCOMPARE(pressAndWaitForBox(book, "borrowButton"), "Error!|" + Refusals::message(word));
    QVERIFY(exchangeEndedAfter(traced));
    QVERIFY(book->isVisible());
    QCOMPARE(widget<QLineEdit>(book, "stateEdit")->text(), takenMeanwhile ? LentOut : Free);
    QCOMPARE(widget<QTreeWidget>(window.get(), "bookList")->topLevelItem(0)->text(6), takenMeanwhile ? LentOut : Free);
    QTest::mouseClick(widget<QPushButton>(book, "cancelButton"), Qt::LeftButton);

    // The reader's loans are the ones made before, and nothing else.
    ReturnBookDialog* loans = openBorrowedBooks();
    QStringList numbers;
    for (const QStringList& row : rowsOf(widget<QTreeWidget>(loans, "bookList"), 7))
        numbers << row.value(5);
    numbers.sort();
    QCOMPARE(numbers, borrowedFirst);
    loans->close();
    QCOMPARE(searchNumber(number).value(0).value(6), takenMeanwhile ? LentOut : Free);
}

// The client logs in with a session token, uses it, and the logout ends it on the server.
void TestJourneys::sessionTokenEndsAtLogout()
{
    QVERIFY(createUser(QStringLiteral("tokened"), QStringLiteral("Token-Pass-1"), Levels::Undergraduate));
    QCOMPARE(logIn(QStringLiteral("tokened"), QStringLiteral("Token-Pass-1")),
             QStringLiteral("PASS!|Login successfully!"));
    const QString token = LoginSession::instance().token();
    if (token.isEmpty())
        QSKIP("this server gives no session tokens");
    const int shown = boxMark();
    ReturnBookDialog* loans = openBorrowedBooks();
    QVERIFY(loans);
    QCOMPARE(boxMark(), shown); // no refusal: the token was accepted
    loans->close();

    logOut();
    const WireClient other = fixture->client(6);
    QTRY_COMPARE(other.sendBytes(Wire::encodeRequest(UserBorrowBookQuery{QStringLiteral("tokened")}, token)).word(),
                 QStringLiteral("SESSION_EXPIRED"));
}

void TestJourneys::readerCancelsAHold_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("kept");
    QTest::newRow("waiting while the copy is out") << "J-060" << false;
    QTest::newRow("kept for the reader after check-in") << "J-061" << true;
}

// A reader reserves a lent copy, sees the hold in 我的预约 (a copy kept for the reader stands out with
// its pick-up deadline) and gives it up there.
void TestJourneys::readerCancelsAHold()
{
    QFETCH(QString, number);
    QFETCH(bool, kept);
    const QString reader = QStringLiteral("reserver-") + number;
    const QString lender = QStringLiteral("lender-") + number;
    QVERIFY(createUser(reader, QStringLiteral("pw-reserver"), Levels::Undergraduate));
    QVERIFY(createUser(lender, QStringLiteral("pw-lender"), Levels::Undergraduate));
    const WireClient lenderWire = fixture->client(6);
    QCOMPARE(fixture->login(lenderWire, lender, QStringLiteral("pw-lender")), QStringLiteral("PASS"));
    QCOMPARE(lenderWire.send(BorrowBookQuery{BookRecord::from(fixture->bookRow(number)), lender}).word(),
             QString(Reply::BorrowBookSuccessfully));

    QCOMPARE(logIn(reader, QStringLiteral("pw-reserver")), QStringLiteral("PASS!|Login successfully!"));
    searchNumber(number);
    BookDialog* book = openBook(number);
    QVERIFY(book);
    QCOMPARE(pressAndWaitForBox(book, "holdButton"), QStringLiteral("PASS|预约成功：书还回后将为您保留。"));
    book->close();
    if (kept)
        QCOMPARE(adminWire->send(CheckinBookQuery{number}).word(), QString(Reply::ReturnBookSuccessfully));

    MyHoldsDialog* holds = openHolds(1);
    auto* list = widget<QTreeWidget>(holds, "holdList");
    auto* note = widget<QLabel>(holds, "noteLabel");
    QTreeWidgetItem* row = list->topLevelItem(0);
    QVERIFY(row);
    QCOMPARE(row->text(3), kept ? QStringLiteral("预约保留") : QStringLiteral("排队中"));
    QCOMPARE(row->font(0).bold(), kept);
    QCOMPARE(row->text(4).isEmpty(), !kept);
    QCOMPARE(!note->isHidden() && note->text().contains(row->text(4)), kept);

    list->setCurrentItem(row);
    const int asked = int(boxes->questions().size());
    QTest::mouseClick(widget<QPushButton>(holds, "cancelHoldButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItemCount(), 0, WaitMs);
    QCOMPARE(boxes->questions().size(), asked + 1);
    QVERIFY(!note->isHidden() && note->text().contains(QStringLiteral("没有预约")));
    const WireClient::Reply stored = adminWire->send(UserHoldsQuery{reader});
    QVERIFY(stored.endOfStream && stored.frames.isEmpty());
    holds->close();
    // A copy kept for nobody goes back on the shelf.
    QCOMPARE(searchNumber(number).value(0).value(6), kept ? Free : LentOut);
}

void TestJourneys::circulationDesk()
{
    // A student renews; a second student places a hold; the desk checks the copy in, sees that it is to
    // be put aside, and checks it out to the second student; a month later the overdue list shows it.
    const QString number = QStringLiteral("J-050");
    QVERIFY(createUser(QStringLiteral("deskann"), QStringLiteral("Ann-Pass-1"), Levels::Undergraduate));
    QVERIFY(createUser(QStringLiteral("deskbob"), QStringLiteral("Bob-Pass-1"), Levels::Undergraduate));
    const auto logInAs = [&](const QString& id, const QString& password) {
        logOut();
        QCOMPARE(logIn(id, password), QStringLiteral("PASS!|Login successfully!"));
    };

    logInAs(QStringLiteral("deskann"), QStringLiteral("Ann-Pass-1"));
    searchNumber(number);
    BookDialog* book = openBook(number);
    QVERIFY(book);
    QVERIFY(!widget<QPushButton>(book, "holdButton")->isVisible());
    QCOMPARE(pressAndWaitForBox(book, "borrowButton"), QStringLiteral("PASS|Borrow the book successfully!"));
    book->close();
    ReturnBookDialog* loans = openBorrowedBooks();
    auto* loanList = widget<QTreeWidget>(loans, "bookList");
    QTRY_VERIFY_WITH_TIMEOUT(loanList->topLevelItemCount() == 1 && !loanList->topLevelItem(0)->text(7).isEmpty(),
                             WaitMs);
    const QString due = loanList->topLevelItem(0)->text(7);
    loanList->setCurrentItem(loanList->topLevelItem(0));
    QVERIFY(pressAndWaitForBox(loans, "renewButton").startsWith(QStringLiteral("PASS|续借成功")));
    QVERIFY(loanList->topLevelItem(0)->text(7) >= due);
    loans->close();

    logInAs(QStringLiteral("deskbob"), QStringLiteral("Bob-Pass-1"));
    QCOMPARE(searchNumber(number).value(0).value(6), LentOut);
    book = openBook(number);
    QVERIFY(book && widget<QPushButton>(book, "holdButton")->isVisible());
    QCOMPARE(pressAndWaitForBox(book, "holdButton"), QStringLiteral("PASS|预约成功：书还回后将为您保留。"));
    book->close();
    MyHoldsDialog* myHolds = openHolds(1);
    QCOMPARE(rowsOf(widget<QTreeWidget>(myHolds, "holdList"), 5),
             (QList<QStringList>{{"Desk Story", number, "1", "排队中", ""}}));
    myHolds->close();

    logInAs(AdminId, QString::fromLatin1(ServerFixture::AdminPassword));
    widget<QAction>(window.get(), "actionDesk")->trigger();
    auto* desk = newest<CirculationDeskDialog>(window.get());
    QVERIFY(desk);
    auto* deskLog = widget<QListWidget>(desk, "deskLog");
    const auto scan = [&](const char* field, const QString& text) {
        auto* edit = widget<QLineEdit>(desk, field);
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
    };
    const auto logged = [&](const QString& line, Qt::MatchFlags match = Qt::MatchExactly) {
        return QTest::qWaitFor([&] { return !deskLog->findItems(line, match).isEmpty(); }, WaitMs);
    };
    scan("checkinEdit", number);
    QVERIFY(logged(QStringLiteral("J-050 已还：deskann（deskann name）")));
    // The copy to put aside stands out, with the reader's name.
    const QString putAside = QStringLiteral("请将 J-050 放到预约架，留给 deskbob name（deskbob）");
    QVERIFY(logged(putAside));
    QVERIFY(deskLog->findItems(putAside, Qt::MatchExactly).first()->font().bold());
    QCOMPARE(searchNumber(number).value(0).value(6), QStringLiteral("预约保留"));

    scan("readerEdit", QStringLiteral("deskbob"));
    auto* holds = widget<QTreeWidget>(desk, "holdList");
    QTRY_COMPARE_WITH_TIMEOUT(holds->topLevelItemCount(), 1, WaitMs);
    QCOMPARE(holds->topLevelItem(0)->text(3), QStringLiteral("预约保留"));
    QVERIFY(widget<QLabel>(desk, "readerLabel")->text().startsWith(QStringLiteral("deskbob  deskbob name  本科生")));
    scan("checkoutEdit", number);
    QVERIFY(logged(QStringLiteral("J-050《Desk Story》借给 deskbob name（deskbob），到期 20"), Qt::MatchStartsWith));
    auto* deskLoans = widget<QTreeWidget>(desk, "loanList");
    QTRY_COMPARE_WITH_TIMEOUT(deskLoans->topLevelItemCount(), 1, WaitMs);
    QCOMPARE(deskLoans->topLevelItem(0)->text(2), number);
    QTRY_COMPARE_WITH_TIMEOUT(holds->topLevelItemCount(), 0, WaitMs);
    desk->close();

    // The audit trail in the staff's words: local time, the action in Chinese (its code in the
    // tooltip), the note in Chinese.
    widget<QAction>(window.get(), "actionAudit")->trigger();
    auto* audit = newest<AuditLogDialog>(window.get());
    QVERIFY(audit);
    auto* events = widget<QTreeWidget>(audit, "eventList");
    QTreeWidgetItem* checkin = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (int i = 0; i < events->topLevelItemCount() && !checkin; ++i) {
                if (events->topLevelItem(i)->toolTip(3) == QLatin1String("CHECKIN_BOOK"))
                    checkin = events->topLevelItem(i);
            }
            return checkin != nullptr;
        }(),
        WaitMs);
    QCOMPARE(checkin->text(3), QStringLiteral("柜台归还"));
    QCOMPARE(checkin->text(6), QStringLiteral("按时归还，留给 deskbob"));
    const QDateTime at = QDateTime::fromString(checkin->text(0), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY2(at.isValid(), qPrintable(checkin->text(0)));
    audit->close();

    // A day past due less an hour, so the started day counts once however long the steps above took.
    QVERIFY(server->advanceClock(31 * 24 * 3600 - 3600));
    // The month ended every session too: the desk logs in again.
    logInAs(AdminId, QString::fromLatin1(ServerFixture::AdminPassword));
    widget<QAction>(window.get(), "actionOverdue")->trigger();
    auto* overdue = newest<OverdueDialog>(window.get());
    QVERIFY(overdue);
    auto* overdueList = widget<QTreeWidget>(overdue, "overdueList");
    // The journeys before this one left loans of their own, now overdue as well.
    QTRY_VERIFY_WITH_TIMEOUT(overdueList->topLevelItemCount() > 0, WaitMs);
    QStringList row;
    for (const QStringList& shown : rowsOf(overdueList, Reply::OverdueLoanRowSize)) {
        if (shown.value(0) == number)
            row = shown;
    }
    QCOMPARE(
        row.mid(0, 4),
        (QStringList{number, QStringLiteral("Desk Story"), QStringLiteral("deskbob"), QStringLiteral("deskbob name")}));
    QCOMPARE(row.value(7), QStringLiteral("1"));
    QVERIFY(overdue->exportTo(QStringLiteral("overdue.csv")));
    const QByteArray csv = readFile(QStringLiteral("overdue.csv"));
    QVERIFY(csv.startsWith("\xEF\xBB\xBF书号,书名,读者ID,姓名,电话,邮箱,到期日期,逾期天数\r\n"));
    QVERIFY(
        csv.contains(QStringLiteral("\r\nJ-050,Desk Story,deskbob,deskbob name,123,deskbob@example.org,").toUtf8()));
    overdue->close();
}

QTEST_MAIN(TestJourneys)
#include "tst_journeys.moc"
