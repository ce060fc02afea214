#include "loginsession.h"

#include "messages.h"

LoginSession& LoginSession::instance()
{
    static LoginSession session;
    return session;
}

void LoginSession::begin()
{
    m_state = State::Active;
    m_token.clear();
}

void LoginSession::setToken(const QString& token)
{
    if (m_state == State::Active)
        m_token = token;
}

void LoginSession::end()
{
    m_state = State::None;
    m_token.clear();
}

std::optional<QString> LoginSession::lastField(QLatin1String code) const
{
    if (code == Query::UserLogin || code == Query::UserLogout)
        return std::nullopt;
    // A registration says it comes from our client, which reads why a refusal came.
    if (m_token.isEmpty() && code != Query::UserRegister)
        return std::nullopt;
    return m_token;
}

bool LoginSession::markLost()
{
    if (m_state != State::Active)
        return false;
    m_state = State::Lost;
    m_token.clear();
    return true;
}
