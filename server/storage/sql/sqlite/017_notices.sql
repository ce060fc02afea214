-- Notices to readers (due soon, overdue, hold ready). One row per thing a reader is told about; the
-- unique key (kind, reader, loan's book number or hold's id, due date or pick-up deadline, sequence)
-- makes a second scan, a restart or a second server queue nothing twice. state: queued (to be sent;
-- attempts and last_error tell of failures), sent, obsolete (no longer true when its turn came),
-- letter (the reader has no e-mail address: for the desk's letter list), printed. The book's title
-- and number are kept so the notice still reads right after the book is gone.
CREATE TABLE notices (
    id INTEGER PRIMARY KEY,
    kind TEXT NOT NULL,
    account_id TEXT NOT NULL REFERENCES accounts (id) ON DELETE CASCADE,
    item TEXT NOT NULL,
    due_at TEXT NOT NULL,
    sequence INTEGER NOT NULL,
    book_number TEXT NOT NULL,
    title TEXT NOT NULL,
    state TEXT NOT NULL,
    queued_at TEXT NOT NULL,
    attempts INTEGER NOT NULL DEFAULT 0,
    next_attempt_at TEXT NOT NULL,
    first_failed_at TEXT NOT NULL DEFAULT '',
    last_error TEXT NOT NULL DEFAULT '',
    sent_at TEXT NOT NULL DEFAULT '',
    message_id TEXT NOT NULL DEFAULT '',
    UNIQUE (kind, account_id, item, due_at, sequence)
);
CREATE INDEX notices_pending ON notices (state, next_attempt_at);
CREATE INDEX notices_queued ON notices (queued_at);
CREATE INDEX notices_account ON notices (account_id, queued_at);
-- Whether the reader wants to be reminded before a loan falls due (overdue and hold-ready notices
-- are always sent).
ALTER TABLE accounts ADD COLUMN due_soon_notices INTEGER NOT NULL DEFAULT 1;
