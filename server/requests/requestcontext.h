#pragma once

#include "vocabulary.h"

#include <QAtomicInteger>
#include <QByteArray>
#include <QLatin1String>
#include <QList>
#include <QString>

#include <functional>

#include <optional>

class DatabasePool;
class DeviceTokens;
class LoginThrottle;
class PasswordHasher;
class SessionStore;
struct ServerSettings;

// What every handler needs, shared by all connections.
struct ServerContext {
    const ServerSettings& settings;
    DatabasePool& database;
    SessionStore& sessions;
    LoginThrottle& throttle;
    PasswordHasher& hasher;
    DeviceTokens& devices;
    QAtomicInteger<quint64> changes{0}; // bumped by every stored change, so the console can refresh
    // Called after a returned copy was kept for a reader, so that the reader is told at once; set
    // before the first connection, when notices are on.
    std::function<void()> copyKept = {};
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
