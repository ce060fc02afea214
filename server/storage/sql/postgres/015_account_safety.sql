-- Where an account registered from, so that staff can remove a flood of registrations from one
-- address or network at once; empty for accounts made before.
ALTER TABLE accounts ADD COLUMN registered_from TEXT NOT NULL DEFAULT '';
-- Device tokens: a successful login of our client is given one for its account. Presented at a later
-- login, it exempts that login from the account-wide lock (guesses from elsewhere cannot lock the
-- owner out). Kept only as the SHA-256 of the token; times are milliseconds since the epoch.
CREATE TABLE device_tokens (
    key TEXT PRIMARY KEY NOT NULL,
    account_id TEXT NOT NULL REFERENCES accounts (id) ON DELETE CASCADE,
    created_at BIGINT NOT NULL,
    last_used_at BIGINT NOT NULL
);
CREATE INDEX device_tokens_account ON device_tokens (account_id);
-- The form two IDs share when readers could take one for the other (IdLookalikes::key); filled for
-- the accounts made before at the next start.
ALTER TABLE accounts ADD COLUMN id_key TEXT;
CREATE INDEX accounts_id_key ON accounts (id_key);
