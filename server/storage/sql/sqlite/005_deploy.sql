-- A generated password must be replaced at the first login.
ALTER TABLE accounts ADD COLUMN must_change_password INTEGER NOT NULL DEFAULT 0;
-- Applications waiting for confirmation are listed oldest first.
CREATE INDEX accounts_level_created ON accounts (level, created_at, id);
-- Registrations per address and hour are counted from the audit trail.
CREATE INDEX audit_log_action_peer ON audit_log (action, peer, at);
-- Finished loans are pruned by age.
CREATE INDEX loan_history_returned ON loan_history (returned_at);
