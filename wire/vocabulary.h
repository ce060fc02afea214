#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The words beyond the documented replies that both programs speak, each declared once here with its
// wire spelling: the refusals the server sends, and the actions of the audit trail. The server sends
// and stores them by these names; the client explains each refusal in words (a switch over the enum,
// so a word without a message does not compile).

// Why a request was refused. A word reply, or where rows are expected a frame of this one string.
#define WIRE_REFUSALS(X)                                                                                               \
    X(NotLoggedIn, "NOT_LOGGED_IN")                                                                                    \
    X(SessionExpired, "SESSION_EXPIRED") /* the token is unknown, expired or ended */                                  \
    X(AdminRequired, "ADMIN_REQUIRED")                                                                                 \
    X(SuperAdminRequired, "SUPER_ADMIN_REQUIRED")                                                                      \
    X(WrongPassword, "WRONG_PASSWORD")                                                                                 \
    X(TooManyAttempts, "TOO_MANY_ATTEMPTS") /* one address at one account */                                           \
    X(TooManyAttemptsFromAddress, "TOO_MANY_ATTEMPTS_FROM_ADDRESS")                                                    \
    X(TooManyAttemptsForAccount, "TOO_MANY_ATTEMPTS_FOR_ACCOUNT")                                                      \
    X(LoginAgain, "LOGIN_AGAIN") /* a password change asked too long after the login */                                \
    X(PasswordChangeRequired, "PASSWORD_CHANGE_REQUIRED") /* the account has a generated password */                   \
    X(NoSuchUser, "NO_SUCH_USER")                                                                                      \
    X(NoSuchBook, "NO_SUCH_BOOK")                                                                                      \
    X(AccountUnconfirmed, "ACCOUNT_UNCONFIRMED")                                                                       \
    X(PermissionTooLow, "PERMISSION_TOO_LOW")                                                                          \
    X(BookAlreadyLent, "BOOK_ALREADY_LENT")                                                                            \
    X(BorrowLimitReached, "BORROW_LIMIT_REACHED")                                                                      \
    X(NotBorrowedByUser, "NOT_BORROWED_BY_USER")                                                                       \
    X(BookOnLoan, "BOOK_ON_LOAN")                                                                                      \
    X(UserHasLoans, "USER_HAS_LOANS")                                                                                  \
    X(SuperAdminProtected, "SUPER_ADMIN_PROTECTED")                                                                    \
    X(StaleLevel, "STALE_LEVEL") /* the level shown is no longer the account's */                                      \
    X(MissingTitleOrNumber, "MISSING_TITLE_OR_NUMBER")                                                                 \
    X(BookNumberExists, "BOOK_NUMBER_EXISTS")                                                                          \
    X(UnknownPermission, "UNKNOWN_PERMISSION")                                                                         \
    X(RecordTooLong, "RECORD_TOO_LONG")                                                                                \
    X(ServerError, "SERVER_ERROR")                                                                                     \
    X(LoanOverdue, "LOAN_OVERDUE") /* borrow: the reader has an overdue loan; renew: too long overdue */               \
    X(BookOnHold, "BOOK_ON_HOLD") /* kept for, or awaited by, another reader */                                        \
    X(RenewLimitReached, "RENEW_LIMIT_REACHED")                                                                        \
    X(BookNotOnLoan, "BOOK_NOT_ON_LOAN") /* a hold or check-in of a copy on the shelf */                               \
    X(AlreadyBorrowedByUser, "ALREADY_BORROWED_BY_USER") /* a hold on one's own loan */                                \
    X(HoldExists, "HOLD_EXISTS") /* one hold per reader per copy */                                                    \
    X(NoSuchHold, "NO_SUCH_HOLD")                                                                                      \
    X(CurrentPasswordRequired, "CURRENT_PASSWORD_REQUIRED") /* a new password without the current one */               \
    X(InvalidAccountField, "INVALID_ACCOUNT_FIELD") /* a field breaks the account field rule */                        \
    X(IdConfusable, "ID_CONFUSABLE") /* looks like an existing ID, or mixes scripts */                                 \
    X(IdTaken, "ID_TAKEN") /* registration: the ID or the student number exists */                                     \
    X(RegistrationClosed, "REGISTRATION_CLOSED") /* [registration] maxUnconfirmed accounts wait */                     \
    X(TooManyRegistrations, "TOO_MANY_REGISTRATIONS") /* from this address or network within the hour */               \
    X(HoldLimitReached, "HOLD_LIMIT_REACHED") /* [circulation] maxHolds of the reader's level */                       \
    X(BadNetwork, "BAD_NETWORK") /* not an address or a network */                                                     \
    X(RenewTooEarly, "RENEW_TOO_EARLY") /* before [circulation] renewWithinDays of the due date */                     \
    X(BadIsbn, "BAD_ISBN") /* not an ISBN-10 or ISBN-13, or its check digit is wrong */                                \
    X(BadCount, "BAD_COUNT") /* copies to add at once: 1 to 500 */                                                     \
    X(CatalogueUnreachable, "CATALOGUE_UNREACHABLE") /* no cataloguing target answered (with their errors) */          \
    X(NoSuchNotice, "NO_SUCH_NOTICE") /* not a notice that is queued (to resend) */                                    \
    X(BookLost, "BOOK_LOST") /* marked lost: not to be borrowed or reserved until found */                             \
    X(BookNotLost, "BOOK_NOT_LOST") /* found again, but it was not marked lost */                                      \
    X(UnknownReport, "UNKNOWN_REPORT") /* not one of the statistics reports */                                         \
    X(BadPeriod, "BAD_PERIOD") /* a date that is none, or a period too long */                                         \
    X(NoSuchInventory, "NO_SUCH_INVENTORY") /* no stocktake of that id */                                              \
    X(TooManyNumbers, "TOO_MANY_NUMBERS") /* more book numbers at once than one request may carry */

// What a stored change did, as the audit trail records it.
#define WIRE_AUDIT_ACTIONS(X)                                                                                          \
    X(Register, "REGISTER")                                                                                            \
    X(UpdateAccount, "UPDATE_ACCOUNT")                                                                                 \
    X(DeleteAccount, "DELETE_ACCOUNT")                                                                                 \
    X(RaiseLevel, "RAISE_LEVEL")                                                                                       \
    X(LowerLevel, "LOWER_LEVEL")                                                                                       \
    X(AddBook, "ADD_BOOK")                                                                                             \
    X(DeleteBook, "DELETE_BOOK")                                                                                       \
    X(BorrowBook, "BORROW_BOOK")                                                                                       \
    X(ReturnBook, "RETURN_BOOK")                                                                                       \
    X(RenewBook, "RENEW_BOOK")                                                                                         \
    X(PlaceHold, "PLACE_HOLD")                                                                                         \
    X(CancelHold, "CANCEL_HOLD")                                                                                       \
    X(CheckinBook, "CHECKIN_BOOK")                                                                                     \
    X(DeleteUnconfirmed, "DELETE_UNCONFIRMED")                                                                         \
    X(ExpireUnconfirmed, "EXPIRE_UNCONFIRMED")                                                                         \
    X(EditAccount, "EDIT_ACCOUNT")                                                                                     \
    X(ResetPassword, "RESET_PASSWORD")                                                                                 \
    X(ImportCatalogue, "IMPORT_CATALOGUE")                                                                             \
    X(ImportReaders, "IMPORT_READERS")                                                                                 \
    X(StartInventory, "START_INVENTORY")                                                                               \
    X(MarkLost, "MARK_LOST")                                                                                           \
    X(MarkFound, "MARK_FOUND")                                                                                         \
    X(EditBook, "EDIT_BOOK")

#define WIRE_ENUMERATOR(name, spelling) name,
#define WIRE_SPELLING(name, spelling) QLatin1String(spelling),

enum class Refusal { WIRE_REFUSALS(WIRE_ENUMERATOR) };
enum class AuditAction { WIRE_AUDIT_ACTIONS(WIRE_ENUMERATOR) };

namespace Wire {

constexpr std::array refusalSpellings{WIRE_REFUSALS(WIRE_SPELLING)};
constexpr std::array auditActionSpellings{WIRE_AUDIT_ACTIONS(WIRE_SPELLING)};

constexpr QLatin1String spelling(Refusal refusal)
{
    return refusalSpellings[std::size_t(refusal)];
}
constexpr QLatin1String spelling(AuditAction action)
{
    return auditActionSpellings[std::size_t(action)];
}
inline QString word(Refusal refusal)
{
    return QString(spelling(refusal));
}
inline QString word(AuditAction action)
{
    return QString(spelling(action));
}

// The refusal or action of a spelling; nullopt for a word that is none.
std::optional<Refusal> refusalNamed(QStringView word);
std::optional<AuditAction> auditActionNamed(QStringView word);

// Every value, in declaration order, for whoever must handle them all (tests, the privacy prune).
template <class Enum, std::size_t Count> constexpr std::array<Enum, Count> allOf()
{
    std::array<Enum, Count> values{};
    for (std::size_t i = 0; i < Count; ++i)
        values[i] = Enum(i);
    return values;
}
constexpr auto allRefusals = allOf<Refusal, refusalSpellings.size()>();
constexpr auto allAuditActions = allOf<AuditAction, auditActionSpellings.size()>();

// The throttle's refusals of a login; they carry the seconds to wait as a second string.
constexpr bool isLoginThrottle(Refusal refusal)
{
    return refusal == Refusal::TooManyAttempts || refusal == Refusal::TooManyAttemptsFromAddress
        || refusal == Refusal::TooManyAttemptsForAccount;
}

// Entries that say which reader had which book: a loan history, removed with it after
// [privacy] loanHistoryDays.
constexpr bool isLoanHistory(AuditAction action)
{
    switch (action) {
    case AuditAction::BorrowBook:
    case AuditAction::ReturnBook:
    case AuditAction::RenewBook:
    case AuditAction::PlaceHold:
    case AuditAction::CancelHold:
    case AuditAction::CheckinBook:
        return true;
    case AuditAction::Register:
    case AuditAction::UpdateAccount:
    case AuditAction::DeleteAccount:
    case AuditAction::RaiseLevel:
    case AuditAction::LowerLevel:
    case AuditAction::AddBook:
    case AuditAction::DeleteBook:
    case AuditAction::DeleteUnconfirmed:
    case AuditAction::ExpireUnconfirmed:
    case AuditAction::EditAccount:
    case AuditAction::ResetPassword:
    case AuditAction::ImportCatalogue:
    case AuditAction::ImportReaders:
    case AuditAction::StartInventory:
    case AuditAction::MarkLost:
    case AuditAction::MarkFound:
    case AuditAction::EditBook:
        return false;
    }
    return false;
}

} // namespace Wire
