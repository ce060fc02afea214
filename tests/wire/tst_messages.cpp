#include "messages.h"

#include <QtTest>

// Every request survives the trip through a frame and back into its struct, with its fields in order.
class TestMessages : public QObject
{
    Q_OBJECT

private slots:
    void everyRequestRoundTrips_data();
    void everyRequestRoundTrips();
    void requestFieldOrder_data();
    void requestFieldOrder();
    void decodeRequestRefuses_data();
    void decodeRequestRefuses();
    void replyShapes();
};

// Every request of the list: a frame of its code and fields decodes back into the same request, with
// and without the token as one more, last field.
void TestMessages::everyRequestRoundTrips_data()
{
    QTest::addColumn<QStringList>("values");
    Wire::forEachRequestType([](auto request) {
        using Request = decltype(request);
        QStringList fields;
        for (int i = 0; i < Request::FieldCount; ++i)
            fields.append(QStringLiteral("f%1").arg(i));
        const QStringList encoded = Request::from(fields).fields();
        QTest::newRow(Request::code.data()) << QStringList{QString(Request::code)} + encoded;
    });
}

void TestMessages::everyRequestRoundTrips()
{
    QFETCH(QStringList, values);
    QCOMPARE(values.size(), 1 + Query::fieldCount(values.first()));
    for (const std::optional<QString>& token :
         {std::optional<QString>(), std::optional<QString>(QStringLiteral("t0k3n"))}) {
        QStringList frame = values;
        if (token)
            frame.append(*token);
        const auto request = Wire::decodeRequest(Wire::encodeFrame(frame).mid(2));
        QVERIFY(request);
        QCOMPARE(QStringList{request->code} + request->fields, values);
        // A request that takes no token (the login) reads the extra field as its first extension.
        if (values.first() == Query::UserLogin)
            QCOMPARE(request->extensions, token ? QStringList{*token} : QStringList());
        else
            QCOMPARE(request->token, token);
    }
}

// The documented requests keep the documented order of their fields.
void TestMessages::requestFieldOrder_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QStringList>("expected");
    const QStringList book{"t", "a", "ty", "p", "1999", "n1", "空闲", "VIP"};
    QTest::newRow("search") << Wire::encodeRequest(BookQuery{"t", "a", "n", "1990", "2000", "ty", "p"})
                            << QStringList{"QUERY_BOOK_SEARCHING", "t", "a", "n", "1990", "2000", "ty", "p"};
    QTest::newRow("login") << Wire::encodeRequest(LoginQuery{"id", "pw"})
                           << QStringList{"QUERY_USER_LOGIN", "id", "pw"};
    QTest::newRow("register") << Wire::encodeRequest(UserRegisterQuery{"id", "pw", "n", "s", "ph", "e", "i"})
                              << QStringList{"QUERY_USER_REGISTER", "id", "pw", "n", "s", "ph", "e", "i"};
    QTest::newRow("update") << Wire::encodeRequest(UserUpdateQuery{"id", "", "n", "ph", "e", "i"})
                            << QStringList{"QUERY_USER_INFO_UPDATE", "id", "", "n", "ph", "e", "i"};
    QTest::newRow("search user") << Wire::encodeRequest(SearchUserQuery{"x"}) << QStringList{"QUERY_SEARCH_USER", "x"};
    QTest::newRow("unconfirmed") << Wire::encodeRequest(UnconfirmUserQuery{}) << QStringList{"QUERY_UNCONFIRM_USER"};
    QTest::newRow("delete user") << Wire::encodeRequest(DeleteUserQuery{"u"}) << QStringList{"QUERY_DELETE_USER", "u"};
    QTest::newRow("escalate") << Wire::encodeRequest(EscalateUserQuery{{"u", "本科生"}})
                              << QStringList{"QUERY_ESCALATE_USER", "u", "本科生"};
    QTest::newRow("degrade") << Wire::encodeRequest(DegradeUserQuery{{"u", "VIP"}})
                             << QStringList{"QUERY_DEGRADE_USER", "u", "VIP"};
    QTest::newRow("borrowed list") << Wire::encodeRequest(UserBorrowBookQuery{"u"})
                                   << QStringList{"QUERY_USER_BORROW_BOOK", "u"};
    QTest::newRow("return") << Wire::encodeRequest(
        ReturnBookQuery{LoanRecord::from(book.mid(0, 6) + QStringList{"date"}), "u"})
                            << QStringList{"QUERY_RETURN_BOOK"} + book.mid(0, 6) + QStringList{"date", "u"};
    QTest::newRow("borrow") << Wire::encodeRequest(BorrowBookQuery{BookRecord::from(book), "u"})
                            << QStringList{"QUERY_BORROW_BOOK"} + book + QStringList{"u"};
    QTest::newRow("delete book") << Wire::encodeRequest(DeleteBookQuery{BookRecord::from(book)})
                                 << QStringList{"QUERY_DELETE_BOOK"} + book;
    QTest::newRow("add book: number before year and publisher")
        << Wire::encodeRequest(AddBookQuery{"t", "a", "ty", "n1", "1999", "p", "VIP"})
        << QStringList{"QUERY_ADD_BOOK", "t", "a", "ty", "n1", "1999", "p", "VIP"};
}

void TestMessages::requestFieldOrder()
{
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, expected);
    const auto request = Wire::decodeRequest(frame.mid(2));
    QVERIFY(request);
    QCOMPARE(QStringList{request->code} + request->fields, expected);
}

void TestMessages::decodeRequestRefuses_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("unknown code") << Wire::encodeFrame({"QUERY_NOTHING"}).mid(2);
    QTest::newRow("too few fields") << Wire::encodeFrame({"QUERY_USER_LOGIN", "id"}).mid(2);
    QTest::newRow("a field beyond the extensions")
        << Wire::encodeFrame({"QUERY_USER_LOGIN", "id", "pw", "x", "y", "z"}).mid(2);
    QTest::newRow("a field beyond extension and token")
        << Wire::encodeFrame({"QUERY_USER_INFO_UPDATE", "u", "", "n", "t", "e", "i", "current", "token", "x"}).mid(2);
    QTest::newRow("empty body") << QByteArray();
    QTest::newRow("malformed string") << QByteArray::fromHex("00000010004100");
}

void TestMessages::decodeRequestRefuses()
{
    QFETCH(QByteArray, body);
    QVERIFY(!Wire::decodeRequest(body));
}

void TestMessages::replyShapes()
{
    const QStringList account{"id", "name", "VIP", "pw", "s", "p", "e", "info"};
    const auto pass = Wire::decodeBody(Reply::loginPass(account).mid(2));
    QCOMPARE(Reply::wordOf(*pass), QStringLiteral("PASS"));
    QCOMPARE(*Reply::accountAfterPass(*pass), account);
    QVERIFY(!Reply::accountAfterPass({"PASS", "id"}));
    QVERIFY(!Reply::accountAfterPass({"WRONG_ID"}));
    QCOMPARE(Reply::wordOf({}), QString());
    QVERIFY(Reply::rowOf(QStringList(7, "x"), Reply::BorrowedBookRowSize));
    QVERIFY(!Reply::rowOf(QStringList(6, "x"), Reply::BorrowedBookRowSize));
}

QTEST_APPLESS_MAIN(TestMessages)
#include "tst_messages.moc"
