#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

// The client's one login as the protocol sees it: whether someone is logged in and the session token
// the server gave that login. The token lives in memory only and is appended to every request the
// client sends while logged in (OperationChannel::send asks lastField()).
//
// A reply can end the login behind the user's back (the token expired, the server restarted); the
// window that read it calls Refusals::report(), which tells the user once and emits lost(). The main
// window then returns to the guest state.
class LoginSession : public QObject
{
    Q_OBJECT

public:
    enum class State {
        None, // nobody logged in
        Active, // logged in
        Lost // the server ended the login and the user has been told
    };

    static LoginSession& instance();

    State state() const { return m_state; }
    bool isActive() const { return m_state == State::Active; }
    QString token() const { return m_token; }

    // A login succeeded; the token follows in its own frame, or never against a server without tokens.
    void begin();
    void setToken(const QString& token);
    // Logout, or a new main window: no login, no token.
    void end();

    // The one last field our client adds to a request with this code: the token while there is one
    // (on a registration an empty one without: it tells our server to say why it refuses); none on
    // the login, whose extension fields ask for a new token, or the logout, which carries the token
    // it ends (captured when the user logged out).
    std::optional<QString> lastField(QLatin1String code) const;

    // A reply said the login is gone. True when the login was active: it is now Lost and the token
    // forgotten, and the caller tells the user and then calls announceLost(). False when it was
    // already lost (the user has been told) or there was none.
    bool markLost();
    void announceLost() { emit lost(); }
    void announcePasswordChangeRequired() { emit passwordChangeRequired(); }

signals:
    void lost();
    void passwordChangeRequired();

private:
    LoginSession() = default;

    State m_state = State::None;
    QString m_token;
};
