#pragma once

#include "messages.h"

#include <QLatin1String>
#include <QStringList>

// Codes, words and requests that only this client and our server speak, beyond the documented
// catalogue: session tokens, logout, and the refusal words the client explains to the user.
namespace ClientWords {

// The login's optional third field, and the word of the reply frame that carries the token.
constexpr QLatin1String Session = Reply::Session;
constexpr QLatin1String UserLogout = Query::UserLogout;
constexpr QLatin1String LogoutSuccessfully = Reply::LogoutSuccessfully;
constexpr QLatin1String RegisterSuccessfully{"REGISTER_SUCCESSFULLY"};

// The login is gone: the token is unknown, expired or revoked, or the server knows no login.
constexpr QLatin1String SessionExpired = Reply::SessionExpired;
constexpr QLatin1String NotLoggedIn{"NOT_LOGGED_IN"};
// A password change asked too long after the login.
constexpr QLatin1String LoginAgain{"LOGIN_AGAIN"};
// The account must set a new password before anything else.
constexpr QLatin1String PasswordChangeRequired{"PASSWORD_CHANGE_REQUIRED"};
// Login throttle; with a token login the frame carries the seconds to wait as a second string.
constexpr QLatin1String TooManyAttempts{"TOO_MANY_ATTEMPTS"};
constexpr QLatin1String TooManyAttemptsFromAddress{"TOO_MANY_ATTEMPTS_FROM_ADDRESS"};
constexpr QLatin1String TooManyAttemptsForAccount{"TOO_MANY_ATTEMPTS_FOR_ACCOUNT"};
constexpr QLatin1String ServerError{"SERVER_ERROR"};
// The copy was lent to someone else since the search.
constexpr QLatin1String BookAlreadyLent{"BOOK_ALREADY_LENT"};

} // namespace ClientWords

// The login that asks for a session token: the documented two fields and the word "SESSION".
struct SessionLoginQuery {
    static constexpr QLatin1String code = Query::UserLogin;
    QString userId, password;
    QStringList fields() const { return {userId, password, QString(ClientWords::Session)}; }
};

// The logout request (LogoutQuery) with the token of the login it ends, captured when the user logged
// out: by the time the connection is made the client has already forgotten it.
struct LogoutWithTokenQuery {
    static constexpr QLatin1String code = ClientWords::UserLogout;
    QString userId, token;
    QStringList fields() const { return token.isEmpty() ? QStringList{userId} : QStringList{userId, token}; }
};
