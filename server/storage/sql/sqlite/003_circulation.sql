-- Circulation: when each loan falls due and how often it was renewed, and the hold queues. Loans made
-- before this step get their due date when the server starts (borrow date + the period of the
-- borrower's level, from the settings).
ALTER TABLE loans ADD COLUMN due_at TEXT NOT NULL DEFAULT '';
ALTER TABLE loans ADD COLUMN renewals INTEGER NOT NULL DEFAULT 0;
CREATE INDEX loans_due ON loans (due_at);

-- One row per reader waiting for a copy, in the order placed (id). ready_until is the end of the
-- reader's pick-up window once the copy is back, NULL while it is out. Windows follow each other in
-- queue order, so an unclaimed copy passes to the next reader without anyone touching the row.
CREATE TABLE holds (
    id INTEGER PRIMARY KEY,
    book_number TEXT NOT NULL REFERENCES books (number) ON DELETE CASCADE,
    account_id TEXT NOT NULL REFERENCES accounts (id) ON DELETE CASCADE,
    placed_at TEXT NOT NULL,
    ready_until TEXT,
    UNIQUE (book_number, account_id)
);
CREATE INDEX holds_account ON holds (account_id);
