-- A reader's loans by due date: whether one is overdue is read from the first entry, not from every loan
-- of a reader who has a thousand.
CREATE INDEX IF NOT EXISTS loans_account_due ON loans (account_id, due_at);
