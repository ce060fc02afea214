-- The audit trail: every stored change, who made it (account and address) and what it touched.
CREATE TABLE audit_log (
    id BIGSERIAL PRIMARY KEY,
    at TEXT NOT NULL,
    actor TEXT NOT NULL DEFAULT '',
    peer TEXT NOT NULL DEFAULT '',
    action TEXT NOT NULL,
    account_id TEXT NOT NULL DEFAULT '',
    book_number TEXT NOT NULL DEFAULT '',
    detail TEXT NOT NULL DEFAULT ''
);
CREATE INDEX audit_log_account ON audit_log (account_id, id);
CREATE INDEX audit_log_book ON audit_log (book_number, id);
