-- Logins that authorise requests, and failed-login counters, shared by every server on the database.
-- A session's key is "token:" and the SHA-256 of its token, or "address:" and the peer's address;
-- times are milliseconds since the epoch.
CREATE TABLE login_sessions (
    key TEXT PRIMARY KEY NOT NULL,
    account_id TEXT NOT NULL REFERENCES accounts (id) ON DELETE CASCADE,
    peer TEXT NOT NULL DEFAULT '',
    login_at BIGINT NOT NULL,
    last_used_at BIGINT NOT NULL,
    token INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX login_sessions_account ON login_sessions (account_id);

CREATE TABLE login_attempts (
    key TEXT PRIMARY KEY NOT NULL,
    attempts INTEGER NOT NULL,
    locked_until BIGINT NOT NULL DEFAULT 0,
    last_at BIGINT NOT NULL
);

-- The address logins of earlier versions: replaced by login_sessions.
DROP TABLE IF EXISTS session_peers;
DROP TABLE IF EXISTS sessions;
