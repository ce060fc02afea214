-- Knowing the collection. Loans are counted as they happen, in the transaction of the loan, so that
-- reports stay whole when [privacy] loanHistoryDays removes who borrowed what: counts per local day,
-- reader level and book type; loans per copy and day (no reader); and, for the readers of a month,
-- which accounts borrowed then, forgotten once the month is over (only the counts stay).
CREATE TABLE loan_stats (
    day TEXT NOT NULL, -- the server's local date, yyyy-MM-dd
    level TEXT NOT NULL, -- the reader's level at the time
    type TEXT NOT NULL,
    loans INTEGER NOT NULL DEFAULT 0,
    returns INTEGER NOT NULL DEFAULT 0,
    renewals INTEGER NOT NULL DEFAULT 0,
    overdue_returns INTEGER NOT NULL DEFAULT 0,
    -- Readers counted once a month: at their first loan of the month of this level and type, of this
    -- level, and of this type.
    readers INTEGER NOT NULL DEFAULT 0,
    level_readers INTEGER NOT NULL DEFAULT 0,
    type_readers INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (day, level, type)
);
CREATE TABLE book_loan_stats (
    book_number TEXT NOT NULL,
    day TEXT NOT NULL,
    level TEXT NOT NULL,
    loans INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (book_number, day, level)
);
CREATE INDEX book_loan_stats_day ON book_loan_stats (day, level, book_number, loans);
CREATE TABLE reader_months (
    month TEXT NOT NULL,
    kind TEXT NOT NULL, -- 'LT': of the level and type; 'L': of the level (type ''); 'T': of the type (level '')
    level TEXT NOT NULL,
    type TEXT NOT NULL,
    account_id TEXT NOT NULL,
    PRIMARY KEY (month, kind, level, type, account_id)
);

-- When a copy was added and last seen on a shelf, and when it was marked lost (NULL: it is not).
ALTER TABLE books ADD COLUMN added_at TEXT NOT NULL DEFAULT '';
ALTER TABLE books ADD COLUMN last_seen_at TEXT NOT NULL DEFAULT '';
ALTER TABLE books ADD COLUMN lost_at TEXT;
CREATE INDEX books_added ON books (added_at, number);
CREATE INDEX books_type_number ON books (type, number);

-- Stocktakes: the part of the collection each counts, and every number scanned in it.
CREATE TABLE inventories (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    type TEXT NOT NULL DEFAULT '',
    number_prefix TEXT NOT NULL DEFAULT '',
    started_at TEXT NOT NULL,
    started_by TEXT NOT NULL DEFAULT ''
);
CREATE TABLE inventory_scans (
    inventory_id INTEGER NOT NULL REFERENCES inventories (id) ON DELETE CASCADE,
    book_number TEXT NOT NULL,
    scanned_at TEXT NOT NULL,
    finding TEXT NOT NULL,
    PRIMARY KEY (inventory_id, book_number)
);
