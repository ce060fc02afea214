#pragma once

#include "frame.h"

#include <QLatin1String>
#include <QStringList>

#include <optional>

// Every message of the protocol. A request is one frame: the query code, then its fields. A reply is
// a word frame or a stream of row frames, always closed by the end-of-stream frame.
namespace Query {
constexpr QLatin1String BookSearching{"QUERY_BOOK_SEARCHING"};
constexpr QLatin1String UserLogin{"QUERY_USER_LOGIN"};
constexpr QLatin1String UserRegister{"QUERY_USER_REGISTER"};
constexpr QLatin1String UserInfoUpdate{"QUERY_USER_INFO_UPDATE"};
constexpr QLatin1String SearchUser{"QUERY_SEARCH_USER"};
constexpr QLatin1String UnconfirmUser{"QUERY_UNCONFIRM_USER"};
constexpr QLatin1String DeleteUser{"QUERY_DELETE_USER"};
constexpr QLatin1String EscalateUser{"QUERY_ESCALATE_USER"};
constexpr QLatin1String DegradeUser{"QUERY_DEGRADE_USER"};
constexpr QLatin1String UserBorrowBook{"QUERY_USER_BORROW_BOOK"};
constexpr QLatin1String ReturnBook{"QUERY_RETURN_BOOK"};
constexpr QLatin1String BorrowBook{"QUERY_BORROW_BOOK"};
constexpr QLatin1String DeleteBook{"QUERY_DELETE_BOOK"};
constexpr QLatin1String AddBook{"QUERY_ADD_BOOK"};

// Number of fields after the code, or -1 for a code that is not a query code.
int fieldCount(const QString& code);
} // namespace Query

namespace Reply {
constexpr QLatin1String Pass{"PASS"};
constexpr QLatin1String WrongId{"WRONG_ID"};
constexpr QLatin1String RegisterFail{"REGISTER_FAIL"};
constexpr QLatin1String UpdateSuccessfully{"UPDATE_SUCCESSFULLY"};
constexpr QLatin1String DeleteUserSuccessfully{"DELETE_USER_SUCCESSFULLY"};
constexpr QLatin1String EscalateUserSuccessfully{"ESCALATE_USER_SUCCESSFULLY"};
constexpr QLatin1String DegradeUserSuccessfully{"DEGRADE_USER_SUCCESSFULLY"};
constexpr QLatin1String ReturnBookSuccessfully{"RETURN_BOOK_SUCCESSFULLY"};
constexpr QLatin1String BorrowBookSuccessfully{"BORROW_BOOK_SUCCESSFULLY"};
constexpr QLatin1String DeleteBookSuccessfully{"DELETE_BOOK_SUCCESSFULLY"};
constexpr QLatin1String AddBookSuccessfully{"ADD_BOOK_SUCCESSFULLY"};

// Strings per row frame of each row stream, and per account record after "PASS".
constexpr int BookRowSize = 8;
constexpr int UserRowSize = 6;
constexpr int BorrowedBookRowSize = 7;
constexpr int AccountRecordSize = 8;

// A frame holding one reply word.
QByteArray word(const QString& replyWord);
// "PASS" and the eight strings of the account record, in one frame.
QByteArray loginPass(const QStringList& accountRecord);
// One row of a row stream.
QByteArray row(const QStringList& values);

// The word of a word reply: the first string of the frame. Empty for an empty frame.
QString wordOf(const QStringList& frame);
// The account record that follows "PASS", or nullopt when the frame is not a complete "PASS" frame.
std::optional<QStringList> accountAfterPass(const QStringList& frame);
// A row of exactly `size` strings, or nullopt for a frame of another shape.
std::optional<QStringList> rowOf(const QStringList& frame, int size);
} // namespace Reply

// The two lending states: a copy on the shelf may be borrowed or deleted. Other state texts are shown
// as received.
namespace BookState {
inline QString free() { return QStringLiteral("空闲"); }
inline QString lentOut() { return QStringLiteral("已借出"); }
} // namespace BookState

// The fields of each request, in wire order. Each struct names its code, turns itself into its fields
// and is rebuilt from them; fromFields() expects exactly Query::fieldCount(code) strings.
struct BookQuery {
    static constexpr QLatin1String code = Query::BookSearching;
    QString title, author, number, yearFrom, yearTo, type, press;
    QStringList fields() const;
    static BookQuery fromFields(const QStringList& f);
};

struct LoginQuery {
    static constexpr QLatin1String code = Query::UserLogin;
    QString userId, password;
    QStringList fields() const;
    static LoginQuery fromFields(const QStringList& f);
};

struct UserRegisterQuery {
    static constexpr QLatin1String code = Query::UserRegister;
    QString userId, password, name, studentNumber, phoneNumber, email, userInfo;
    QStringList fields() const;
    static UserRegisterQuery fromFields(const QStringList& f);
};

struct UserUpdateQuery {
    static constexpr QLatin1String code = Query::UserInfoUpdate;
    QString userId, newPassword, name, phoneNumber, email, userInfo;
    QStringList fields() const;
    static UserUpdateQuery fromFields(const QStringList& f);
};

struct SearchUserQuery {
    static constexpr QLatin1String code = Query::SearchUser;
    QString text;
    QStringList fields() const;
    static SearchUserQuery fromFields(const QStringList& f);
};

struct UnconfirmUserQuery {
    static constexpr QLatin1String code = Query::UnconfirmUser;
    QStringList fields() const { return {}; }
    static UnconfirmUserQuery fromFields(const QStringList&) { return {}; }
};

struct DeleteUserQuery {
    static constexpr QLatin1String code = Query::DeleteUser;
    QString userId;
    QStringList fields() const;
    static DeleteUserQuery fromFields(const QStringList& f);
};

// Raise and lower carry the user ID and the level as the client displays it (the Chinese name).
struct LevelChangeQuery {
    QString userId, displayedLevel;
    QStringList fields() const;
    static LevelChangeQuery fromFields(const QStringList& f);
};
struct EscalateUserQuery : LevelChangeQuery {
    static constexpr QLatin1String code = Query::EscalateUser;
};
struct DegradeUserQuery : LevelChangeQuery {
    static constexpr QLatin1String code = Query::DegradeUser;
};

struct UserBorrowBookQuery {
    static constexpr QLatin1String code = Query::UserBorrowBook;
    QString userId;
    QStringList fields() const;
    static UserBorrowBookQuery fromFields(const QStringList& f);
};

// The seven strings of a borrowed-book row, then the user ID.
struct ReturnBookQuery {
    static constexpr QLatin1String code = Query::ReturnBook;
    QStringList borrowedRow;
    QString userId;
    QStringList fields() const;
    static ReturnBookQuery fromFields(const QStringList& f);
};

// The eight strings of a book record (title, author, type, publisher, year, number, state, permission).
struct DeleteBookQuery {
    static constexpr QLatin1String code = Query::DeleteBook;
    QStringList book;
    QStringList fields() const { return book; }
    static DeleteBookQuery fromFields(const QStringList& f) { return {f}; }
};

struct BorrowBookQuery {
    static constexpr QLatin1String code = Query::BorrowBook;
    QStringList book;
    QString userId;
    QStringList fields() const;
    static BorrowBookQuery fromFields(const QStringList& f);
};

// Note the order: the book number comes before the year and the publisher.
struct AddBookQuery {
    static constexpr QLatin1String code = Query::AddBook;
    QString title, author, type, number, year, press, permission;
    QStringList fields() const;
    static AddBookQuery fromFields(const QStringList& f);
};

namespace Wire {

// One request frame: the code, then the request's fields. Empty when it would not fit in a frame.
template <class Request>
QByteArray encodeRequest(const Request& request)
{
    return encodeFrame(QStringList{QString(Request::code)} + request.fields());
}

// A request frame body split into its code and fields. nullopt when the body is malformed, the code
// is unknown or the number of fields is not the code's.
struct DecodedRequest {
    QString code;
    QStringList fields;
};
std::optional<DecodedRequest> decodeRequest(const QByteArray& body);

} // namespace Wire
