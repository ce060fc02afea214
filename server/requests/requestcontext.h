#pragma once

#include <QAtomicInteger>
#include <QByteArray>
#include <QLatin1String>
#include <QList>
#include <QString>

#include <optional>

class DatabasePool;
class LoginThrottle;
class PasswordHasher;
class SessionStore;
struct ServerSettings;

// The words the server refuses with. The client only tells success from anything else (and, for
// login and registration, "WRONG_ID" and "REGISTER_FAIL"), so each word says why for whoever reads
// the log or the traffic.
namespace Refusal {
constexpr QLatin1String NotLoggedIn{"NOT_LOGGED_IN"};
constexpr QLatin1String AdminRequired{"ADMIN_REQUIRED"};
constexpr QLatin1String WrongPassword{"WRONG_PASSWORD"};
constexpr QLatin1String TooManyAttempts{"TOO_MANY_ATTEMPTS"};
constexpr QLatin1String NoSuchUser{"NO_SUCH_USER"};
constexpr QLatin1String NoSuchBook{"NO_SUCH_BOOK"};
constexpr QLatin1String AccountUnconfirmed{"ACCOUNT_UNCONFIRMED"};
constexpr QLatin1String PermissionTooLow{"PERMISSION_TOO_LOW"};
constexpr QLatin1String BookAlreadyLent{"BOOK_ALREADY_LENT"};
constexpr QLatin1String BorrowLimitReached{"BORROW_LIMIT_REACHED"};
constexpr QLatin1String NotBorrowedByUser{"NOT_BORROWED_BY_USER"};
constexpr QLatin1String BookOnLoan{"BOOK_ON_LOAN"};
constexpr QLatin1String UserHasLoans{"USER_HAS_LOANS"};
constexpr QLatin1String SuperAdminProtected{"SUPER_ADMIN_PROTECTED"};
constexpr QLatin1String StaleLevel{"STALE_LEVEL"};
constexpr QLatin1String MissingTitleOrNumber{"MISSING_TITLE_OR_NUMBER"};
constexpr QLatin1String BookNumberExists{"BOOK_NUMBER_EXISTS"};
constexpr QLatin1String UnknownPermission{"UNKNOWN_PERMISSION"};
constexpr QLatin1String RecordTooLong{"RECORD_TOO_LONG"};
constexpr QLatin1String ServerError{"SERVER_ERROR"};
// Circulation
constexpr QLatin1String LoanOverdue{"LOAN_OVERDUE"}; // borrow: the reader has an overdue loan;
                                                     // renew: the loan is too long overdue
constexpr QLatin1String BookOnHold{"BOOK_ON_HOLD"}; // kept for, or awaited by, another reader
constexpr QLatin1String RenewLimitReached{"RENEW_LIMIT_REACHED"}; // renewed [circulation] maxRenewals times
constexpr QLatin1String BookNotOnLoan{"BOOK_NOT_ON_LOAN"}; // hold or check-in of a copy on the shelf
constexpr QLatin1String AlreadyBorrowedByUser{"ALREADY_BORROWED_BY_USER"}; // a hold on one's own loan
constexpr QLatin1String HoldExists{"HOLD_EXISTS"}; // one hold per reader per copy
constexpr QLatin1String NoSuchHold{"NO_SUCH_HOLD"};
constexpr QLatin1String SessionExpired{"SESSION_EXPIRED"};
constexpr QLatin1String LoginAgain{"LOGIN_AGAIN"};
constexpr QLatin1String SuperAdminRequired{"SUPER_ADMIN_REQUIRED"};
constexpr QLatin1String PasswordChangeRequired{"PASSWORD_CHANGE_REQUIRED"};
} // namespace Refusal

// The success word of registration, which the protocol leaves to the server.
constexpr QLatin1String RegisterSuccessfully{"REGISTER_SUCCESSFULLY"};

// What every handler needs, shared by all connections.
struct ServerContext {
    const ServerSettings& settings;
    DatabasePool& database;
    SessionStore& sessions;
    LoginThrottle& throttle;
    PasswordHasher& hasher;
    QAtomicInteger<quint64> changes{0}; // bumped by every stored change, so the console can refresh
};

// Who is asking: the peer's address, and the last field our client adds to a request (a session
// token; on a login, the word "SESSION"). The authorisation step fills in the session the request is
// authorised by, if any.
struct Caller {
    ServerContext& context;
    QString peer;
    std::optional<QString> token;
    QString account = {}; // the account the request may act as; empty: nobody
    QString sessionKey = {}; // the session that authorises it
    qint64 loginAtMs = 0; // when that session's login was
};

// A handler's answer: the frames to send before the end-of-stream frame, and a short outcome for the
// log (a reply word or a row count, never a password).
struct HandlerReply {
    QList<QByteArray> frames;
    QString outcome;
    QString note = {}; // what a stored change touched and who made it
};
