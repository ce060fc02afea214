#include "addbookdialog.h"
#include "bookdialog.h"
#include "loginsession.h"
#include "myholdsdialog.h"
#include "refusals.h"
#include "registerdialog.h"
#include "returnbookdialog.h"
#include "uitranslations.h"
#include "userinfoupdatedialog.h"
#include "usermanagedialog.h"
#include "windowtesting.h"

#include <QStyle>

#include <QHeaderView>
#include <QTextEdit>

using namespace WindowTesting;

// What the user is told when the server refuses, ends the login, falls silent or hangs up, and what
// the client sends for the session token: every window against a scripted server.
class TestFeedback : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(UiTranslations::install(*qApp)); }
    void init() { setUp(ServerAndBoxes | ShownWindow); }
    void cleanup() { tearDown(); }
    void refusalWordShowsItsMessage_data();
    void refusalWordShowsItsMessage();
    void everyRefusalIsToldInWords_data();
    void everyRefusalIsToldInWords();
    void loginEnds_data();
    void loginEnds();
    void silentServerMeetsTheDeadline();
    void replyCutMidFrameIsTold();
    void deleteAsksFirst_data();
    void deleteAsksFirst();
    void enterLogsInAndSearches();
    void tokenGoesWithEveryRequest();
    void stateAndLevelColumnsAreOnScreenAndHeadingsSort();

private:
    // Runs one operation as a logged-in Super Admin (the login as a guest), its reply being `reply`.
    void run(const QString& operation, const QStringList& reply);
    QTreeWidget* bookList() { return widget<QTreeWidget>(window.get(), "bookList"); }
    UserManageDialog* openUserManage(const QList<QStringList>& rows);
};

void TestFeedback::refusalWordShowsItsMessage_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("reply");
    const QList<QPair<const char*, QStringList>> cases{
        {"login", {"TOO_MANY_ATTEMPTS", "30"}},
        {"login", {"TOO_MANY_ATTEMPTS"}},
        {"login", {"TOO_MANY_ATTEMPTS_FROM_ADDRESS", "600"}},
        {"login", {"TOO_MANY_ATTEMPTS_FOR_ACCOUNT", "3600"}},
        {"login", {"SERVER_ERROR"}},
        {"search", {"SERVER_ERROR"}},
        {"register", {"RECORD_TOO_LONG"}},
        {"register", {"SERVER_ERROR"}},
        {"update", {"RECORD_TOO_LONG"}},
        {"update", {"NO_SUCH_USER"}},
        {"borrow", {"ACCOUNT_UNCONFIRMED"}},
        {"borrow", {"PERMISSION_TOO_LOW"}},
        {"borrow", {"BOOK_ALREADY_LENT"}},
        {"borrow", {"BORROW_LIMIT_REACHED"}},
        {"borrow", {"NO_SUCH_BOOK"}},
        {"borrow", {"LOAN_OVERDUE"}},
        {"borrow", {"BOOK_ON_HOLD"}},
        {"borrow", {"A_WORD_NOBODY_KNOWS"}},
        {"delete book", {"BOOK_ON_LOAN"}},
        {"delete book", {"NO_SUCH_BOOK"}},
        {"delete book", {"ADMIN_REQUIRED"}},
        {"add book", {"MISSING_TITLE_OR_NUMBER"}},
        {"add book", {"BOOK_NUMBER_EXISTS"}},
        {"add book", {"UNKNOWN_PERMISSION"}},
        {"add book", {"ADMIN_REQUIRED"}},
        {"loans", {"SERVER_ERROR"}},
        {"return", {"NOT_BORROWED_BY_USER"}},
        {"return", {"NO_SUCH_BOOK"}},
        {"holds", {"SERVER_ERROR"}},
        {"cancel hold", {"NO_SUCH_HOLD"}},
        {"user search", {"ADMIN_REQUIRED"}},
        {"unconfirmed", {"ADMIN_REQUIRED"}},
        {"delete user", {"USER_HAS_LOANS"}},
        {"delete user", {"SUPER_ADMIN_PROTECTED"}},
        {"delete user", {"SUPER_ADMIN_REQUIRED"}},
        {"escalate", {"SUPER_ADMIN_REQUIRED"}},
        {"escalate", {"STALE_LEVEL"}},
        {"degrade", {"SUPER_ADMIN_PROTECTED"}},
        {"degrade", {"NO_SUCH_USER"}},
    };
    for (const auto& [operation, reply] : cases)
        QTest::addRow("%s %s", operation, qPrintable(reply.join(' '))) << QString(operation) << reply;
}

void TestFeedback::refusalWordShowsItsMessage()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, reply);
    run(operation, reply);
    // Listings report their count after the refusal.
    QTRY_VERIFY(!boxes->seen().isEmpty());
    const QString box = boxes->seen().first();
    QVERIFY2(box.startsWith(QLatin1String("Error!|")), qPrintable(box));
    // A word of the vocabulary is told in words; only a word nobody knows is shown by name.
    const bool known = reply.first() != QLatin1String("A_WORD_NOBODY_KNOWS");
    QVERIFY2(box.contains(reply.first()) != known, qPrintable(box));
    if (reply.size() > 1)
        QVERIFY(box.contains(reply.at(1)));
    // Still logged in: a refusal is no logout.
    QCOMPARE(window->currentUser().id, operation == "login" ? QStringLiteral("Guest") : QStringLiteral("root"));
}

// Every refusal the server may send has its own words for the user: Chinese, not the word itself and
// not the text for words nobody knows.
void TestFeedback::everyRefusalIsToldInWords_data()
{
    QTest::addColumn<int>("refusal");
    for (const Refusal refusal : Wire::allRefusals)
        QTest::newRow(Wire::spelling(refusal).data()) << int(refusal);
}

void TestFeedback::everyRefusalIsToldInWords()
{
    QFETCH(int, refusal);
    const QString word = Wire::word(Refusal(refusal));
    const QString told = Refusals::message(word, QStringLiteral("30"));
    QVERIFY2(!told.contains(word) && !told.contains(QLatin1String("服务器拒绝了请求")), qPrintable(told));
    QVERIFY2(
        std::any_of(told.cbegin(), told.cend(), [](QChar c) { return c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff; }),
        qPrintable(told));
}

// The server ends the login: told once, guest state, the login dialog open. A password change the
// server wants first opens the personal information form instead.
void TestFeedback::loginEnds_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("loggedOut");
    QTest::newRow("loans, token expired") << "loans"
                                          << "SESSION_EXPIRED" << true;
    QTest::newRow("loans, server restarted") << "loans"
                                             << "NOT_LOGGED_IN" << true;
    QTest::newRow("search, token expired") << "search"
                                           << "SESSION_EXPIRED" << true;
    QTest::newRow("borrow, token expired") << "borrow"
                                           << "SESSION_EXPIRED" << true;
    QTest::newRow("holds, token expired") << "holds"
                                          << "SESSION_EXPIRED" << true;
    QTest::newRow("password change after a long login") << "update"
                                                        << "LOGIN_AGAIN" << true;
    QTest::newRow("password change required") << "loans"
                                              << "PASSWORD_CHANGE_REQUIRED" << false;
}

void TestFeedback::loginEnds()
{
    QFETCH(QString, operation);
    QFETCH(QString, word);
    QFETCH(bool, loggedOut);
    run(operation, {word});
    QTRY_VERIFY(!boxes->seen().isEmpty());
    const QString told = word == "LOGIN_AGAIN" || word == "PASSWORD_CHANGE_REQUIRED" ? Refusals::message(word)
                                                                                     : Refusals::loginEndedMessage();
    QCOMPARE(boxes->seen().first(), "Error!|" + told);
    QCOMPARE(boxes->seen().count("Error!|" + told), 1);
    QCOMPARE(window->currentUser().id, loggedOut ? QStringLiteral("Guest") : QStringLiteral("root"));
    QCOMPARE(widget<QAction>(window.get(), "actionLogin")->isEnabled(), loggedOut);
    LoginDialog* login = newest<LoginDialog>(window.get());
    QCOMPARE(login && login->isVisible(), loggedOut);
    if (loggedOut) {
        QCOMPARE(login->userNameEdit->text(), QStringLiteral("root"));
        // Nothing that acts for the account stays open.
        QVERIFY(!newest<ReturnBookDialog>(window.get()) || !newest<ReturnBookDialog>(window.get())->isVisible());
        QVERIFY(!newest<MyHoldsDialog>(window.get()) || !newest<MyHoldsDialog>(window.get())->isVisible());
    } else {
        QTRY_VERIFY(newest<UserInfoUpdateDialog>(window.get())
                    && newest<UserInfoUpdateDialog>(window.get())->isVisible());
    }
    // A login ended by LOGIN_AGAIN is also ended on the server.
    if (word == "LOGIN_AGAIN")
        QTRY_COMPARE(server->requests().last().value(0), QStringLiteral("QUERY_USER_LOGOUT"));
}

// A server that accepts and never answers: after the deadline the user is told, the connection is
// dropped, and the next operation goes through.
void TestFeedback::silentServerMeetsTheDeadline()
{
    writeFile(QStringLiteral("client.ini"), "[network]\ntimeoutSeconds=1\n");
    QVERIFY(logIn(*window, *server, *boxes, "root", "Super Admin"));
    boxes->clear();
    server->addSilence();
    run("loans", {});
    QTRY_COMPARE_WITH_TIMEOUT(boxes->seen(), QStringList{"Error!|服务器在 1 秒内没有应答，请稍后再试。"}, 5000);
    QTRY_COMPARE(server->closedCount(), 2); // the login's connection and the silent one
    QVERIFY(!QGuiApplication::overrideCursor());

    boxes->clear();
    server->addFrames({{"RETURN_FAIL"}});
    ReturnBookDialog* dialog = newest<ReturnBookDialog>(window.get());
    auto* list = widget<QTreeWidget>(dialog, "bookList");
    list->addTopLevelItem(new QTreeWidgetItem(QStringList{"t", "a", "y", "p", "1999", "B-1", "2026-12-08"}));
    list->setCurrentItem(list->topLevelItem(0));
    press(dialog, "returnButton");
    QTRY_COMPARE(boxes->seen(), QStringList{"Error!|" + QStringLiteral("服务器拒绝了请求（RETURN_FAIL）。")});
}

// A reply that stops in the middle of a frame and a closed connection: told, not swallowed.
void TestFeedback::replyCutMidFrameIsTold()
{
    QVERIFY(logIn(*window, *server, *boxes, "root", "Super Admin"));
    boxes->clear();
    const QByteArray frame = frameOf({"BORROW_BOOK_SUCCESSFULLY"});
    server->addReply({frame.left(frame.size() / 2)});
    run("borrow", {});
    QTRY_COMPARE(boxes->seen(), QStringList{"Error!|与服务器的连接中断，没有收到完整的回复，请重试。"});
    QCOMPARE(bookList()->topLevelItem(0)->text(6), QStringLiteral("空闲"));
}

void TestFeedback::deleteAsksFirst_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("yes");
    QTest::newRow("book, no") << "delete book" << false;
    QTest::newRow("book, yes") << "delete book" << true;
    QTest::newRow("user, no") << "delete user" << false;
    QTest::newRow("user, yes") << "delete user" << true;
}

void TestFeedback::deleteAsksFirst()
{
    QFETCH(QString, operation);
    QFETCH(bool, yes);
    boxes->answerYes = yes;
    const int before = operation == "delete user" ? 2 : 1; // the login, and the user listing
    run(operation, {operation == "delete user" ? "DELETE_USER_SUCCESSFULLY" : "DELETE_BOOK_SUCCESSFULLY"});
    QTRY_COMPARE(boxes->questions().size(), 1);
    QVERIFY(boxes->questions().first().startsWith(QStringLiteral("确认|确定要删除")));
    // Qt's own button texts in Chinese, as the client's program installs them.
    QCOMPARE(boxes->questionButtons().first(), QStringLiteral("是(&Y)|否(&N)"));
    if (yes) {
        QTRY_COMPARE(server->requests().size(), before + 1);
        return;
    }
    QTest::qWait(100);
    QCOMPARE(server->connectionCount(), before);
}

void TestFeedback::enterLogsInAndSearches()
{
    widget<QAction>(window.get(), "actionLogin")->trigger();
    LoginDialog* login = newest<LoginDialog>(window.get());
    QCOMPARE(login->focusWidget(), login->userNameEdit);
    QTest::keyClicks(login->userNameEdit, "root");
    QTest::keyClick(login->userNameEdit, Qt::Key_Tab);
    QCOMPARE(login->focusWidget(), login->passwordEdit);
    QTest::keyClicks(login->passwordEdit, "secret");
    server->addFrames({QStringList{"PASS"} + account("root", "Root", "VIP")});
    QTest::keyClick(login->passwordEdit, Qt::Key_Return);
    QTRY_COMPARE(window->currentUser().id, QStringLiteral("root"));

    for (const char* field : {"bookEdit", "bookNumber", "pressEdit"}) {
        const int before = server->requests().size();
        QTest::keyClick(widget<QLineEdit>(window.get(), field), Qt::Key_Return);
        QTRY_COMPARE(server->requests().size(), before + 1);
        QCOMPARE(server->requests().last().value(0), QStringLiteral("QUERY_BOOK_SEARCHING"));
        QTRY_VERIFY(widget<QPushButton>(window.get(), "searchButton")->isEnabled());
    }
}

void TestFeedback::tokenGoesWithEveryRequest()
{
    server->addFrames({QStringList{"PASS"} + account("root", "Root", "Super Admin"), {"SESSION", "tok-123"}});
    pressLogin(*window, "root", "pw");
    QTRY_COMPARE(window->currentUser().id, QStringLiteral("root"));
    for (const char* operation : {"search", "loans", "update", "add book", "user search"})
        run(operation, {"SERVER_ERROR"});
    QTRY_COMPARE(server->requests().size(), 6);
    for (const QStringList& request : server->requests().mid(1))
        QCOMPARE(request.last(), QStringLiteral("tok-123"));
    // The search carries its documented seven fields, then the token.
    QCOMPARE(server->requests().at(1).size(), 1 + 7 + 1);

    widget<QAction>(window.get(), "actionLogout")->trigger();
    QTRY_COMPARE(server->requests().size(), 7);
    QCOMPARE(server->requests().last(), (QStringList{"QUERY_USER_LOGOUT", "root", "tok-123"}));
    QCOMPARE(LoginSession::instance().token(), QString());
    press(window.get(), "searchButton");
    QTRY_COMPARE(server->requests().size(), 8);
    QCOMPARE(server->requests().last().size(), 1 + 7);

    // Quitting while logged in ends the login on the server too.
    QVERIFY(logIn(*window, *server, *boxes, "root", "VIP"));
    window->close();
    QTRY_COMPARE(server->requests().last().value(0), QStringLiteral("QUERY_USER_LOGOUT"));
}

void TestFeedback::stateAndLevelColumnsAreOnScreenAndHeadingsSort()
{
    QStringList longTitle = bookRow(1);
    longTitle[0] = QString(200, QChar(0x4E66));
    server->addFrames({bookRow(2), longTitle, bookRow(3)});
    press(window.get(), "searchButton");
    QTRY_COMPARE(bookList()->topLevelItemCount(), 3);
    QTRY_VERIFY(widget<QPushButton>(window.get(), "searchButton")->isEnabled());
    QHeaderView* header = bookList()->header();
    for (int column : {6, 7})
        QVERIFY(header->sectionViewportPosition(column) + header->sectionSize(column)
                <= bookList()->viewport()->width());
    QCOMPARE(bookList()->topLevelItem(1)->toolTip(0), longTitle.first());
    // A state or level that changes after the listing (a borrow, a hold kept) still shows whole.
    const auto shownWhole = [&](int column, const QString& text) {
        const int margin = bookList()->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, bookList()) + 1;
        const int room = header->sectionSize(column) - 2 * margin;
        return bookList()->fontMetrics().elidedText(text, Qt::ElideRight, room) == text;
    };
    for (const QString& state : {QStringLiteral("已借出"), QStringLiteral("预约保留")})
        QVERIFY2(shownWhole(6, state), qPrintable(state));
    QVERIFY(shownWhole(7, QStringLiteral("超级管理员")));

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(5) + 5, header->height() / 2));
    QCOMPARE(columnTexts(bookList(), 5), (QStringList{"B-1", "B-2", "B-3"}));
}

// Operations ------------------------------------------------------------------------------------------

UserManageDialog* TestFeedback::openUserManage(const QList<QStringList>& rows)
{
    server->addFrames(rows);
    widget<QAction>(window.get(), "actionUserManage")->trigger();
    auto* dialog = newest<UserManageDialog>(window.get());
    press(dialog, "searchButton");
    // The search answers with a message box; without one the caller's own checks fail.
    if (!QTest::qWaitFor([&] { return !boxes->seen().isEmpty(); }))
        qWarning("the user list was not answered");
    boxes->clear();
    return dialog;
}

void TestFeedback::run(const QString& operation, const QStringList& reply)
{
    if (operation == "login") {
        server->addFrames({reply});
        pressLogin(*window, "root", "pw");
        return;
    }
    if (!LoginSession::instance().isActive()) {
        QVERIFY(logIn(*window, *server, *boxes, "root", "Super Admin"));
        boxes->clear();
    }
    const auto queue = [&] {
        if (!reply.isEmpty())
            server->addFrames({reply});
    };
    if (operation == "search") {
        queue();
        press(window.get(), "searchButton");
    } else if (operation == "register") {
        queue();
        widget<QAction>(window.get(), "actionRegister")->trigger();
        auto* form = newest<RegisterDialog>(window.get());
        form->idEdit->setText("newbie");
        form->passwordEdit->setText("secret1");
        form->repeatPasswordEdit->setText("secret1");
        press(form, "submitButton");
    } else if (operation == "update") {
        queue();
        widget<QAction>(window.get(), "actionInfo")->trigger();
        auto* form = newest<UserInfoUpdateDialog>(window.get());
        form->currentPasswordEdit->setText("secret1");
        form->newPasswordEdit->setText("secret2");
        form->repeatPasswordEdit->setText("secret2");
        press(form, "submitButton");
    } else if (operation == "borrow" || operation == "delete book") {
        queue();
        bookList()->addTopLevelItem(new QTreeWidgetItem(bookRow(0, "空闲", "VIP")));
        emit bookList()->itemDoubleClicked(bookList()->topLevelItem(0), 0);
        press(newest<BookDialog>(window.get()), operation == "borrow" ? "borrowButton" : "deleteButton");
    } else if (operation == "add book") {
        queue();
        widget<QAction>(window.get(), "actionAddBook")->trigger();
        auto* dialog = newest<AddBookDialog>(window.get());
        widget<QLineEdit>(dialog, "nameEdit")->setText("t");
        widget<QLineEdit>(dialog, "yearEdit")->setText("2024");
        press(dialog, "submitButton");
    } else if (operation == "loans" || operation == "return") {
        if (operation == "loans")
            queue();
        else
            server->addFrames({{"t", "a", "y", "p", "1999", "B-1", "2026-12-08"}});
        widget<QAction>(window.get(), "actionBorrowBook")->trigger();
        if (operation == "return") {
            auto* dialog = newest<ReturnBookDialog>(window.get());
            auto* list = widget<QTreeWidget>(dialog, "bookList");
            QTRY_COMPARE(list->topLevelItemCount(), 1);
            list->setCurrentItem(list->topLevelItem(0));
            queue();
            press(dialog, "returnButton");
        }
    } else if (operation == "holds" || operation == "cancel hold") {
        if (operation == "holds")
            queue();
        else
            server->addFrames({{"B-1", "t", "1", "排队中", ""}});
        widget<QAction>(window.get(), "actionHolds")->trigger();
        if (operation == "cancel hold") {
            auto* list = widget<QTreeWidget>(newest<MyHoldsDialog>(window.get()), "holdList");
            QTRY_COMPARE(list->topLevelItemCount(), 1);
            list->setCurrentItem(list->topLevelItem(0));
            queue();
            press(newest<MyHoldsDialog>(window.get()), "cancelHoldButton");
        }
    } else if (operation == "user search" || operation == "unconfirmed") {
        queue();
        widget<QAction>(window.get(), "actionUserManage")->trigger();
        press(newest<UserManageDialog>(window.get()), operation == "user search" ? "searchButton" : "unconfirmButton");
    } else {
        const QStringList row{"bob", "Bob", "2020001", "555", "b@x", "VIP"};
        UserManageDialog* dialog = openUserManage({row});
        auto* list = widget<QTreeWidget>(dialog, "userList");
        list->setCurrentItem(list->topLevelItem(0));
        queue();
        const char* button = operation == "delete user" ? "deleteButton"
            : operation == "escalate"                   ? "escalateButton"
                                                        : "degradeButton";
        press(dialog, button);
    }
}

QTEST_MAIN(TestFeedback)
#include "tst_feedback.moc"
