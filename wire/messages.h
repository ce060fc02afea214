#pragma once

#include "frame.h"
#include "records.h"
#include "vocabulary.h"

#include <QLatin1String>
#include <QStringList>

#include <array>
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
// Additions to the documented protocol (README, "Protocol extensions").
constexpr QLatin1String UserLogout{"QUERY_USER_LOGOUT"};
// Circulation (our own codes; a documented server answers them with the end-of-stream frame alone).
constexpr QLatin1String UserLoans{"QUERY_USER_LOANS"};
constexpr QLatin1String OverdueLoans{"QUERY_OVERDUE_LOANS"};
constexpr QLatin1String RenewBook{"QUERY_RENEW_BOOK"};
constexpr QLatin1String PlaceHold{"QUERY_PLACE_HOLD"};
constexpr QLatin1String CancelHold{"QUERY_CANCEL_HOLD"};
constexpr QLatin1String UserHolds{"QUERY_USER_HOLDS"};
constexpr QLatin1String CheckinBook{"QUERY_CHECKIN_BOOK"};
constexpr QLatin1String AuditLog{"QUERY_AUDIT_LOG"};
// Accounts (our own codes).
constexpr QLatin1String UserDetails{"QUERY_USER_DETAILS"};
constexpr QLatin1String DeleteUnconfirmed{"QUERY_DELETE_UNCONFIRMED"};
constexpr QLatin1String RegistrationState{"QUERY_REGISTRATION_STATE"};
constexpr QLatin1String EditUser{"QUERY_EDIT_USER"};
constexpr QLatin1String ResetPassword{"QUERY_RESET_PASSWORD"};
// The catalogue (our own codes): several copies of one title at once, copy cataloguing by ISBN, and
// how many copies of a title there are.
constexpr QLatin1String AddCopies{"QUERY_ADD_COPIES"};
constexpr QLatin1String CatalogueLookup{"QUERY_CATALOGUE_LOOKUP"};
constexpr QLatin1String TitleCopies{"QUERY_TITLE_COPIES"};
constexpr QLatin1String EditBook{"QUERY_EDIT_BOOK"};
// Notices to readers (our own codes).
constexpr QLatin1String Notices{"QUERY_NOTICES"};
constexpr QLatin1String ResendNotice{"QUERY_RESEND_NOTICE"};
constexpr QLatin1String MarkLettersPrinted{"QUERY_MARK_LETTERS_PRINTED"};
constexpr QLatin1String NoticePreference{"QUERY_NOTICE_PREFERENCE"};
// Knowing the collection (our own codes): reports over the loan counts, and stocktaking.
constexpr QLatin1String Statistics{"QUERY_STATISTICS"};
constexpr QLatin1String InventoryStart{"QUERY_INVENTORY_START"};
constexpr QLatin1String InventoryScan{"QUERY_INVENTORY_SCAN"};
constexpr QLatin1String InventoryReport{"QUERY_INVENTORY_REPORT"};
constexpr QLatin1String InventoryList{"QUERY_INVENTORY_LIST"};
constexpr QLatin1String MarkLost{"QUERY_MARK_LOST"};
constexpr QLatin1String MarkFound{"QUERY_MARK_FOUND"};

// Number of documented fields after the code, or -1 for a code that is not a query code.
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
// Additions: the login's extra field that asks for a session token (also the word of the frame that
// carries the token after "PASS"), and the success words of our own requests. Refusals are in
// vocabulary.h.
constexpr QLatin1String Session{"SESSION"};
constexpr QLatin1String LogoutSuccessfully{"LOGOUT_SUCCESSFULLY"};
// The success word of registration, which the documented protocol leaves to the server.
constexpr QLatin1String RegisterSuccessfully{"REGISTER_SUCCESSFULLY"};
// After "PASS" and "SESSION": the frame ["DEVICE", token] of the device this login was made on (see
// LoginQuery::deviceToken).
constexpr QLatin1String Device{"DEVICE"};
constexpr QLatin1String DeleteUnconfirmedSuccessfully{"DELETE_UNCONFIRMED_SUCCESSFULLY"};
constexpr QLatin1String RegistrationState{"REGISTRATION_STATE"};
constexpr QLatin1String EditUserSuccessfully{"EDIT_USER_SUCCESSFULLY"};
constexpr QLatin1String ResetPasswordSuccessfully{"RESET_PASSWORD_SUCCESSFULLY"};
constexpr QLatin1String RenewBookSuccessfully{"RENEW_BOOK_SUCCESSFULLY"};
constexpr QLatin1String PlaceHoldSuccessfully{"PLACE_HOLD_SUCCESSFULLY"};
constexpr QLatin1String CancelHoldSuccessfully{"CANCEL_HOLD_SUCCESSFULLY"};
constexpr QLatin1String TitleCopies{"TITLE_COPIES"};
constexpr QLatin1String EditBookSuccessfully{"EDIT_BOOK_SUCCESSFULLY"};
constexpr QLatin1String ResendNoticeSuccessfully{"RESEND_NOTICE_SUCCESSFULLY"};
constexpr QLatin1String MarkLettersPrintedSuccessfully{"MARK_LETTERS_PRINTED_SUCCESSFULLY"};
constexpr QLatin1String NoticePreferenceSuccessfully{"NOTICE_PREFERENCE_SUCCESSFULLY"};
// The reply to a preference request without `on` or `off`: [NOTICE_PREFERENCE, "on" or "off"].
constexpr QLatin1String NoticePreference{"NOTICE_PREFERENCE"};
// [INVENTORY_STARTED, id]; [INVENTORY_SCANNED, title, what the scan means (ScanFinding)];
// [MARK_LOST_SUCCESSFULLY, copies marked]; [MARK_FOUND_SUCCESSFULLY, copies back on the shelf].
constexpr QLatin1String InventoryStarted{"INVENTORY_STARTED"};
constexpr QLatin1String InventoryScanned{"INVENTORY_SCANNED"};
constexpr QLatin1String MarkLostSuccessfully{"MARK_LOST_SUCCESSFULLY"};
constexpr QLatin1String MarkFoundSuccessfully{"MARK_FOUND_SUCCESSFULLY"};

// Strings per row frame of each row stream, and per account record after "PASS".
constexpr int BookRowSize = BookRecord::Size;
constexpr int UserRowSize = UserRecord::Size;
constexpr int BorrowedBookRowSize = LoanRecord::Size;
constexpr int AccountRecordSize = AccountRecord::Size;
constexpr int UserLoanRowSize = UserLoanRecord::Size;
constexpr int OverdueLoanRowSize = OverdueLoanRecord::Size;
constexpr int HoldRowSize = HoldRecord::Size;
constexpr int AuditRowSize = AuditRecord::Size;
constexpr int UserDetailRowSize = UserDetailRecord::Size;
constexpr int CatalogueRowSize = CatalogueRecord::Size;
constexpr int NoticeRowSize = NoticeRecord::Size;
constexpr int InventoryRowSize = InventoryRecord::Size;
constexpr int InventoryFindingRowSize = InventoryFindingRecord::Size;

// A frame holding one reply word.
QByteArray word(const QString& replyWord);
inline QByteArray word(Refusal refusal)
{
    return word(Wire::word(refusal));
}
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
inline QString free()
{
    return QStringLiteral("空闲");
}
inline QString lentOut()
{
    return QStringLiteral("已借出");
}
// Back from loan and kept for the first reader in the copy's hold queue; not offered to others.
inline QString onHold()
{
    return QStringLiteral("预约保留");
}
// A hold whose copy is still out, or kept for a reader ahead in the queue.
inline QString queued()
{
    return QStringLiteral("排队中");
}
// Not found at a stocktake and marked so by staff: nobody may borrow or reserve it until it turns up.
inline QString lost()
{
    return QStringLiteral("丢失");
}
} // namespace BookState

// The words of a notice row: its kind and its state.
namespace Notice {
constexpr QLatin1String DueSoon{"DUE_SOON"};
constexpr QLatin1String Overdue{"OVERDUE"};
constexpr QLatin1String HoldReady{"HOLD_READY"};
constexpr QLatin1String Queued{"queued"};
constexpr QLatin1String Sent{"sent"};
constexpr QLatin1String Failed{"failed"}; // still queued, failing for a day or more
constexpr QLatin1String Obsolete{"obsolete"};
constexpr QLatin1String Letter{"letter"}; // for a reader without e-mail: the desk prints it
constexpr QLatin1String Printed{"printed"};
// The preference of QUERY_NOTICE_PREFERENCE.
constexpr QLatin1String On{"on"};
constexpr QLatin1String Off{"off"};
} // namespace Notice
// The reports of "QUERY_STATISTICS", by name, and how many strings each row of one holds.
namespace StatisticsReport {
constexpr QLatin1String LoansByMonth{"loans_by_month"}; // month, loans, returns, renewals, ended overdue
constexpr QLatin1String TopTitles{"top_titles"}; // title, author, ISBN, loans, copies
constexpr QLatin1String NeverBorrowed{"never_borrowed"}; // number, title, type, date added
constexpr QLatin1String ByLevel{"by_level"}; // level, loans, readers
constexpr QLatin1String ByType{"by_type"}; // type, loans, readers
constexpr QLatin1String OverdueRate{"overdue_rate"}; // month, loans ended, of them overdue, share
inline constexpr std::array all{LoansByMonth, TopTitles, NeverBorrowed, ByLevel, ByType, OverdueRate};
// 0 for a name that is no report.
int rowSize(const QString& report);
} // namespace StatisticsReport

// What one scan of a stocktake means, the last string of "INVENTORY_SCANNED".
namespace ScanFinding {
constexpr QLatin1String Ok{"OK"};
constexpr QLatin1String OnLoan{"ON_LOAN"}; // recorded as lent: it came back without a check-in
constexpr QLatin1String Elsewhere{"ELSEWHERE"}; // belongs to another part of the collection
constexpr QLatin1String Unknown{"UNKNOWN"}; // no such copy
constexpr QLatin1String Duplicate{"DUPLICATE"}; // already scanned in this stocktake
} // namespace ScanFinding

// The findings of a stocktake's report, the last string of each row.
namespace InventoryFinding {
constexpr QLatin1String Missing{"missing"}; // in the part counted, not scanned, not on loan
constexpr QLatin1String OnLoanScanned{"on_loan_scanned"};
constexpr QLatin1String Elsewhere{"elsewhere"};
constexpr QLatin1String Unknown{"unknown"};
} // namespace InventoryFinding

// The requests, each declared once: its code, its field count and its fields in wire order. A request
// may carry one more, last field (a session token, or "SESSION" on a login); see Wire::decodeRequest.
#define WIRE_REQUEST(Type, queryCode, count, ...)                                                                      \
    static constexpr QLatin1String code = queryCode;                                                                   \
    static constexpr int FieldCount = count;                                                                           \
    WIRE_FIELDS(Type, __VA_ARGS__)

struct BookQuery {
    QString title, author, number, yearFrom, yearTo, type, press;
    WIRE_REQUEST(BookQuery, Query::BookSearching, 7, title, author, number, yearFrom, yearTo, type, press)
};

// Our client adds the word "SESSION" (it wants a session token, and reads a second string after a
// throttle refusal), then the device token the server gave an earlier login of this account on this
// PC: with it, guesses at the account from elsewhere do not lock the owner out.
struct LoginQuery {
    QString userId, password;
    WIRE_REQUEST(LoginQuery, Query::UserLogin, 2, userId, password)
    QString sessionWord, deviceToken;
    WIRE_EXTENSIONS(sessionWord, deviceToken)
    static constexpr bool TakesToken = false;
};

struct UserRegisterQuery {
    QString userId, password, name, studentNumber, phoneNumber, email, userInfo;
    WIRE_REQUEST(UserRegisterQuery, Query::UserRegister, 7, userId, password, name, studentNumber, phoneNumber, email,
                 userInfo)
};

// Our client adds the current password whenever it sets a new one.
struct UserUpdateQuery {
    QString userId, newPassword, name, phoneNumber, email, userInfo;
    WIRE_REQUEST(UserUpdateQuery, Query::UserInfoUpdate, 6, userId, newPassword, name, phoneNumber, email, userInfo)
    QString currentPassword;
    WIRE_EXTENSIONS(currentPassword)
};

struct SearchUserQuery {
    QString text;
    WIRE_REQUEST(SearchUserQuery, Query::SearchUser, 1, text)
};

struct UnconfirmUserQuery {
    static constexpr QLatin1String code = Query::UnconfirmUser;
    static constexpr int FieldCount = 0;
    auto tie() const { return std::tie(); }
    QStringList fields() const { return {}; }
    static UnconfirmUserQuery from(const QStringList&) { return {}; }
};

struct DeleteUserQuery {
    QString userId;
    WIRE_REQUEST(DeleteUserQuery, Query::DeleteUser, 1, userId)
};

// Raise and lower carry the user ID and the level as the client displays it (the Chinese name).
struct LevelChangeQuery {
    QString userId, displayedLevel;
    WIRE_FIELDS(LevelChangeQuery, userId, displayedLevel)
};
struct EscalateUserQuery : LevelChangeQuery {
    static constexpr QLatin1String code = Query::EscalateUser;
    static constexpr int FieldCount = 2;
};
struct DegradeUserQuery : LevelChangeQuery {
    static constexpr QLatin1String code = Query::DegradeUser;
    static constexpr int FieldCount = 2;
};

struct UserBorrowBookQuery {
    QString userId;
    WIRE_REQUEST(UserBorrowBookQuery, Query::UserBorrowBook, 1, userId)
};

// The borrowed-book row that the client shows, then the user ID.
struct ReturnBookQuery {
    LoanRecord loan;
    QString userId;
    WIRE_REQUEST(ReturnBookQuery, Query::ReturnBook, LoanRecord::Size + 1, loan, userId)
};

struct DeleteBookQuery {
    BookRecord book;
    WIRE_REQUEST(DeleteBookQuery, Query::DeleteBook, BookRecord::Size, book)
};

struct BorrowBookQuery {
    BookRecord book;
    QString userId;
    WIRE_REQUEST(BorrowBookQuery, Query::BorrowBook, BookRecord::Size + 1, book, userId)
};

// Note the order: the book number comes before the year and the publisher.
struct AddBookQuery {
    QString title, author, type, number, year, press, permission;
    WIRE_REQUEST(AddBookQuery, Query::AddBook, 7, title, author, type, number, year, press, permission)
};

// Ends the session of the login: the token's, or without one the account's login from this address.
struct LogoutQuery {
    QString userId;
    WIRE_REQUEST(LogoutQuery, Query::UserLogout, 1, userId)
};

// Circulation requests. A book number and the reader it is for: the account itself asks, or staff.
struct BookForUser {
    QString number, userId;
    WIRE_FIELDS(BookForUser, number, userId)
};

struct UserLoansQuery {
    QString userId;
    WIRE_REQUEST(UserLoansQuery, Query::UserLoans, 1, userId)
};

struct OverdueLoansQuery {
    static constexpr QLatin1String code = Query::OverdueLoans;
    static constexpr int FieldCount = 0;
    auto tie() const { return std::tie(); }
    QStringList fields() const { return {}; }
    static OverdueLoansQuery from(const QStringList&) { return {}; }
};

struct RenewBookQuery : BookForUser {
    static constexpr QLatin1String code = Query::RenewBook;
    static constexpr int FieldCount = 2;
};
struct PlaceHoldQuery : BookForUser {
    static constexpr QLatin1String code = Query::PlaceHold;
    static constexpr int FieldCount = 2;
};
struct CancelHoldQuery : BookForUser {
    static constexpr QLatin1String code = Query::CancelHold;
    static constexpr int FieldCount = 2;
};

struct UserHoldsQuery {
    QString userId;
    WIRE_REQUEST(UserHoldsQuery, Query::UserHolds, 1, userId)
};

struct CheckinBookQuery {
    QString number;
    WIRE_REQUEST(CheckinBookQuery, Query::CheckinBook, 1, number)
};

// Either field may be empty: the latest changes of everything, of one account, of one copy, or both.
struct AuditLogQuery {
    QString userId, number;
    WIRE_REQUEST(AuditLogQuery, Query::AuditLog, 2, userId, number)
};

// Accounts with when and from where they registered: a user search (`which` empty, `text` as the
// documented search takes it), or the accounts waiting for confirmation, oldest first (`which` is
// "unconfirmed").
struct UserDetailsQuery {
    QString text, which;
    WIRE_REQUEST(UserDetailsQuery, Query::UserDetails, 2, text, which)
};

// Deletes every unconfirmed account (level Guest, nothing borrowed) registered from an address or a
// network ("192.0.2.7", "192.0.2.0/24", "2001:db8::/64").
struct DeleteUnconfirmedQuery {
    QString addressOrNetwork;
    WIRE_REQUEST(DeleteUnconfirmedQuery, Query::DeleteUnconfirmed, 1, addressOrNetwork)
};

// How many accounts wait for confirmation, and how many may before registration closes.
struct RegistrationStateQuery {
    static constexpr QLatin1String code = Query::RegistrationState;
    static constexpr int FieldCount = 0;
    auto tie() const { return std::tie(); }
    QStringList fields() const { return {}; }
    static RegistrationStateQuery from(const QStringList&) { return {}; }
};

// Staff correct a reader's details (the account field rule applies).
struct EditUserQuery {
    QString userId, name, studentNumber, phoneNumber, email, userInfo;
    WIRE_REQUEST(EditUserQuery, Query::EditUser, 6, userId, name, studentNumber, phoneNumber, email, userInfo)
};

// Staff give a reader who forgot the password a one-time one, to be replaced at the next login.
struct ResetPasswordQuery {
    QString userId;
    WIRE_REQUEST(ResetPasswordQuery, Query::ResetPassword, 1, userId)
};

// Adds `count` (1 to 500) copies of one title in one transaction: the first number as given, then its
// trailing digits counted up. Answered [ADD_BOOK_SUCCESSFULLY, first number, last number].
struct AddCopiesQuery {
    QString title, author, type, press, year, permission, isbn, firstNumber, count;
    WIRE_REQUEST(AddCopiesQuery, Query::AddCopies, 9, title, author, type, press, year, permission, isbn, firstNumber,
                 count)
};

// Corrects the record of one copy (administrators); its number stays, being on the label. The whole
// record is sent: an empty ISBN clears it.
struct EditBookQuery {
    QString number, title, author, type, press, year, permission, isbn;
    WIRE_REQUEST(EditBookQuery, Query::EditBook, 8, number, title, author, type, press, year, permission, isbn)
};

// Staff ask the cataloguing targets of the server for an ISBN, or for a title when the text is none.
struct CatalogueLookupQuery {
    QString text;
    WIRE_REQUEST(CatalogueLookupQuery, Query::CatalogueLookup, 1, text)
};

// The title of a copy: answered [TITLE_COPIES, ISBN, copies, copies free], the copy alone for a copy
// without an ISBN.
struct TitleCopiesQuery {
    QString number;
    WIRE_REQUEST(TitleCopiesQuery, Query::TitleCopies, 1, number)
};

// Staff list the notices of the last 30 days: of one state or all (empty), of one reader or all (empty).
struct NoticesQuery {
    QString state, userId;
    WIRE_REQUEST(NoticesQuery, Query::Notices, 2, state, userId)
};

// Staff have a failing notice sent again now.
struct ResendNoticeQuery {
    QString noticeId;
    WIRE_REQUEST(ResendNoticeQuery, Query::ResendNotice, 1, noticeId)
};

// Staff printed these letters (notice ids, comma-separated).
struct MarkLettersPrintedQuery {
    QString noticeIds;
    WIRE_REQUEST(MarkLettersPrintedQuery, Query::MarkLettersPrinted, 1, noticeIds)
};

// Whether the reader wants due-soon reminders ("on" or "off"); empty asks what is set.
struct NoticePreferenceQuery {
    QString userId, preference;
    WIRE_REQUEST(NoticePreferenceQuery, Query::NoticePreference, 2, userId, preference)
};

// A report over a period of days ("yyyy-MM-dd", either end may be empty: open), for the readers of
// one level and the copies of one type when given (empty: all).
struct StatisticsQuery {
    QString report, fromDay, toDay, level, type;
    WIRE_REQUEST(StatisticsQuery, Query::Statistics, 5, report, fromDay, toDay, level, type)
};

// A stocktake of the copies of one type and/or whose book numbers begin with a prefix (both empty:
// the whole collection).
struct InventoryStartQuery {
    QString name, type, numberPrefix;
    WIRE_REQUEST(InventoryStartQuery, Query::InventoryStart, 3, name, type, numberPrefix)
};

struct InventoryScanQuery {
    QString inventoryId, number;
    WIRE_REQUEST(InventoryScanQuery, Query::InventoryScan, 2, inventoryId, number)
};

struct InventoryReportQuery {
    QString inventoryId;
    WIRE_REQUEST(InventoryReportQuery, Query::InventoryReport, 1, inventoryId)
};

// The stocktakes, newest first, to continue one.
struct InventoryListQuery {
    static constexpr QLatin1String code = Query::InventoryList;
    static constexpr int FieldCount = 0;
    auto tie() const { return std::tie(); }
    QStringList fields() const { return {}; }
    static InventoryListQuery from(const QStringList&) { return {}; }
};

// Book numbers separated by commas.
struct BookNumbersQuery {
    QString numbers;
    WIRE_FIELDS(BookNumbersQuery, numbers)
};
struct MarkLostQuery : BookNumbersQuery {
    static constexpr QLatin1String code = Query::MarkLost;
    static constexpr int FieldCount = 1;
};
struct MarkFoundQuery : BookNumbersQuery {
    static constexpr QLatin1String code = Query::MarkFound;
    static constexpr int FieldCount = 1;
};

namespace Wire {

template <class... Requests> struct RequestList {
    static_assert(((widthOf<Requests>() == Requests::FieldCount) && ...), "a request's count is its fields'");
};

// Every request the protocol knows. A new request is declared above and named here once.
using Requests = RequestList<
    BookQuery, LoginQuery, UserRegisterQuery, UserUpdateQuery, SearchUserQuery, UnconfirmUserQuery, DeleteUserQuery,
    EscalateUserQuery, DegradeUserQuery, UserBorrowBookQuery, ReturnBookQuery, BorrowBookQuery, DeleteBookQuery,
    AddBookQuery, LogoutQuery, UserLoansQuery, OverdueLoansQuery, RenewBookQuery, PlaceHoldQuery, CancelHoldQuery,
    UserHoldsQuery, CheckinBookQuery, AuditLogQuery, UserDetailsQuery, DeleteUnconfirmedQuery, RegistrationStateQuery,
    EditUserQuery, ResetPasswordQuery, AddCopiesQuery, CatalogueLookupQuery, TitleCopiesQuery, NoticesQuery,
    ResendNoticeQuery, MarkLettersPrintedQuery, NoticePreferenceQuery, StatisticsQuery, InventoryStartQuery,
    InventoryScanQuery, InventoryReportQuery, InventoryListQuery, MarkLostQuery, MarkFoundQuery, EditBookQuery>;

// Calls `visit(Request{})` with the request type of the code; false for an unknown code.
template <class Visit, class... Rs> bool visitRequestType(const QString& code, Visit&& visit, RequestList<Rs...>)
{
    return ((code == Rs::code ? (visit(Rs{}), true) : false) || ...);
}
template <class Visit> bool visitRequestType(const QString& code, Visit&& visit)
{
    return visitRequestType(code, std::forward<Visit>(visit), Requests{});
}

// Calls `visit(Request{})` for every request type, in the list's order (tests, fuzz seeds).
template <class Visit, class... Rs> void forEachRequestType(Visit&& visit, RequestList<Rs...>)
{
    (visit(Rs{}), ...);
}
template <class Visit> void forEachRequestType(Visit&& visit)
{
    forEachRequestType(std::forward<Visit>(visit), Requests{});
}

} // namespace Wire

namespace Wire {

// One request frame: the code, then the request's documented fields. Empty when it would not fit in
// a frame.
template <class Request> QByteArray encodeRequest(const Request& request)
{
    return encodeFrame(QStringList{QString(Request::code)} + request.fields());
}

// The frame our client sends: the documented fields, the extension fields that are given, and the
// session token when one is given (an empty one says: our client, nobody logged in). A request that
// takes no token (the login) carries its extensions alone.
template <class Request> QByteArray encodeRequest(const Request& request, const std::optional<QString>& token)
{
    QStringList values{QString(Request::code)};
    values += request.fields();
    const QStringList extensions = extensionsOf(request);
    values += extensions;
    // The token is always the last field: extensions without one carry an empty one, so that the
    // last extension is never read as a token.
    if (TokenTaken<Request>::value && (token || !extensions.isEmpty()))
        values.append(token.value_or(QString()));
    return encodeFrame(values);
}

// A request frame body split into its code, its documented fields, and what only our client sends
// after them: the request's extension fields, then the session token (the last field). nullopt when
// the body is malformed, the code is unknown or the number of fields is not the code's, up to its
// extensions and a token more.
struct DecodedRequest {
    QString code;
    QStringList fields;
    QStringList extensions;
    std::optional<QString> token;

    template <class Request> Request as() const
    {
        Request request = Wire::fromFields<Request>(fields);
        takeExtensions(extensions, request);
        return request;
    }
};
std::optional<DecodedRequest> decodeRequest(const QByteArray& body);

} // namespace Wire
