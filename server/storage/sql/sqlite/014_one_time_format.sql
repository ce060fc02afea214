-- Every stored time in one format: ISO 8601 in UTC to the millisecond ("2026-12-09T08:30:00.000Z").
-- Earlier versions stored circulation times to the second ("...T08:30:00Z") and account times with a
-- space and no zone ("2026-12-09 08:30:00.123", UTC); of one width, they compare as text again.
UPDATE accounts SET created_at = substr(created_at, 1, 19) || '.000Z' WHERE length(created_at) = 20 AND substr(created_at, 20, 1) = 'Z';
UPDATE accounts SET created_at = substr(created_at, 1, 10) || 'T' || substr(created_at, 12, 8) || '.000Z' WHERE length(created_at) = 19;
UPDATE accounts SET created_at = substr(created_at, 1, 10) || 'T' || substr(created_at, 12, 12) || 'Z' WHERE length(created_at) = 23 AND substr(created_at, 11, 1) = ' ';
UPDATE loans SET borrowed_at = substr(borrowed_at, 1, 19) || '.000Z' WHERE length(borrowed_at) = 20 AND substr(borrowed_at, 20, 1) = 'Z';
UPDATE loans SET borrowed_at = substr(borrowed_at, 1, 10) || 'T' || substr(borrowed_at, 12, 8) || '.000Z' WHERE length(borrowed_at) = 19;
UPDATE loans SET borrowed_at = substr(borrowed_at, 1, 10) || 'T' || substr(borrowed_at, 12, 12) || 'Z' WHERE length(borrowed_at) = 23 AND substr(borrowed_at, 11, 1) = ' ';
UPDATE loans SET due_at = substr(due_at, 1, 19) || '.000Z' WHERE length(due_at) = 20 AND substr(due_at, 20, 1) = 'Z';
UPDATE loans SET due_at = substr(due_at, 1, 10) || 'T' || substr(due_at, 12, 8) || '.000Z' WHERE length(due_at) = 19;
UPDATE loans SET due_at = substr(due_at, 1, 10) || 'T' || substr(due_at, 12, 12) || 'Z' WHERE length(due_at) = 23 AND substr(due_at, 11, 1) = ' ';
UPDATE loan_history SET borrowed_at = substr(borrowed_at, 1, 19) || '.000Z' WHERE length(borrowed_at) = 20 AND substr(borrowed_at, 20, 1) = 'Z';
UPDATE loan_history SET borrowed_at = substr(borrowed_at, 1, 10) || 'T' || substr(borrowed_at, 12, 8) || '.000Z' WHERE length(borrowed_at) = 19;
UPDATE loan_history SET borrowed_at = substr(borrowed_at, 1, 10) || 'T' || substr(borrowed_at, 12, 12) || 'Z' WHERE length(borrowed_at) = 23 AND substr(borrowed_at, 11, 1) = ' ';
UPDATE loan_history SET returned_at = substr(returned_at, 1, 19) || '.000Z' WHERE length(returned_at) = 20 AND substr(returned_at, 20, 1) = 'Z';
UPDATE loan_history SET returned_at = substr(returned_at, 1, 10) || 'T' || substr(returned_at, 12, 8) || '.000Z' WHERE length(returned_at) = 19;
UPDATE loan_history SET returned_at = substr(returned_at, 1, 10) || 'T' || substr(returned_at, 12, 12) || 'Z' WHERE length(returned_at) = 23 AND substr(returned_at, 11, 1) = ' ';
UPDATE holds SET placed_at = substr(placed_at, 1, 19) || '.000Z' WHERE length(placed_at) = 20 AND substr(placed_at, 20, 1) = 'Z';
UPDATE holds SET placed_at = substr(placed_at, 1, 10) || 'T' || substr(placed_at, 12, 8) || '.000Z' WHERE length(placed_at) = 19;
UPDATE holds SET placed_at = substr(placed_at, 1, 10) || 'T' || substr(placed_at, 12, 12) || 'Z' WHERE length(placed_at) = 23 AND substr(placed_at, 11, 1) = ' ';
UPDATE holds SET ready_until = substr(ready_until, 1, 19) || '.000Z' WHERE length(ready_until) = 20 AND substr(ready_until, 20, 1) = 'Z';
UPDATE holds SET ready_until = substr(ready_until, 1, 10) || 'T' || substr(ready_until, 12, 8) || '.000Z' WHERE length(ready_until) = 19;
UPDATE holds SET ready_until = substr(ready_until, 1, 10) || 'T' || substr(ready_until, 12, 12) || 'Z' WHERE length(ready_until) = 23 AND substr(ready_until, 11, 1) = ' ';
UPDATE audit_log SET at = substr(at, 1, 19) || '.000Z' WHERE length(at) = 20 AND substr(at, 20, 1) = 'Z';
UPDATE audit_log SET at = substr(at, 1, 10) || 'T' || substr(at, 12, 8) || '.000Z' WHERE length(at) = 19;
UPDATE audit_log SET at = substr(at, 1, 10) || 'T' || substr(at, 12, 12) || 'Z' WHERE length(at) = 23 AND substr(at, 11, 1) = ' ';
