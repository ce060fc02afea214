#pragma once

#include "levels.h"
#include "messages.h"
#include "serverprocess.h"
#include "wireclient.h"

#include <QtTest>

// Steps that protocol tests share: talking as a given machine, logging in, creating accounts at a
// level through the administrator, reading a book's row.
class ServerFixture
{
public:
    static constexpr const char* AdminPassword = "Admin-Secret-1";

    explicit ServerFixture(ServerProcess& server)
        : m_server(server)
    {
    }

    // A client that speaks from the loopback address 127.0.0.<n>.
    WireClient client(int n = 1) const
    {
        WireClient c(m_server.port());
        c.setSourceAddress(QStringLiteral("127.0.0.%1").arg(n));
        return c;
    }

    QString login(const WireClient& c, const QString& id, const QString& password) const
    {
        return c.send(LoginQuery{id, password}).word();
    }

    // Logs in asking for a session token, as our client does, and lets the client send it from then
    // on. Returns the reply word.
    QString loginWithToken(WireClient& c, const QString& id, const QString& password) const
    {
        const WireClient::Reply reply =
            c.sendBytes(Wire::encodeFrame({QString(Query::UserLogin), id, password, QString(::Reply::Session)}));
        if (reply.frames.value(1).value(0) == QLatin1String(::Reply::Session))
            c.setToken(reply.frames.value(1).value(1));
        return reply.word();
    }

    QString registerUser(const QString& id, const QString& password, const QString& studentNumber = {}) const
    {
        UserRegisterQuery q{id,
                            password,
                            id + QStringLiteral(" name"),
                            studentNumber,
                            QStringLiteral("123"),
                            id + QStringLiteral("@example.org"),
                            QStringLiteral("about ") + id};
        return client(250).send(q).word();
    }

    // Registers the account and raises it to `level` with the administrator logged in from `adminClient`.
    bool createUser(const WireClient& adminClient, const QString& id, const QString& password, int level) const
    {
        if (registerUser(id, password) != QLatin1String("REGISTER_SUCCESSFULLY"))
            return false;
        QString shown = QStringLiteral("Guest");
        for (int l = Levels::Guest; l < level; ++l) {
            if (adminClient.send(EscalateUserQuery{{id, shown}}).word() != Reply::EscalateUserSuccessfully)
                return false;
            shown = Levels::toChinese(Levels::englishName(l + 1));
        }
        return true;
    }

    // The user row of an account as the administrator sees it, or an empty list.
    QStringList userRow(const WireClient& adminClient, const QString& id) const
    {
        const WireClient::Reply reply = adminClient.send(SearchUserQuery{id});
        for (const QStringList& row : reply.frames) {
            if (row.value(0) == id)
                return row;
        }
        return {};
    }

    // The search result row of a book number, or an empty list.
    QStringList bookRow(const QString& number) const
    {
        const WireClient::Reply reply = client(250).send(BookQuery{{}, {}, number, {}, {}, {}, {}});
        return reply.frames.isEmpty() ? QStringList() : reply.frames.first();
    }

private:
    ServerProcess& m_server;
};
