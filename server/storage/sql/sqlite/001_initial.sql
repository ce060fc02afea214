-- Accounts, books, loans and the loan history. Statements end with a semicolon at the end of a line;
-- a trigger body runs to its END; line.
CREATE TABLE accounts (
    id TEXT PRIMARY KEY NOT NULL,
    name TEXT NOT NULL DEFAULT '',
    level TEXT NOT NULL,
    password_hash TEXT NOT NULL,
    student_number TEXT UNIQUE, -- NULL when not given, so many accounts may leave it empty
    phone TEXT NOT NULL DEFAULT '',
    email TEXT NOT NULL DEFAULT '',
    info TEXT NOT NULL DEFAULT '',
    created_at TEXT NOT NULL
);
CREATE INDEX accounts_level ON accounts (level, id);

CREATE TABLE books (
    id INTEGER PRIMARY KEY,
    number TEXT NOT NULL UNIQUE,
    title TEXT NOT NULL,
    author TEXT NOT NULL DEFAULT '',
    type TEXT NOT NULL DEFAULT '',
    publisher TEXT NOT NULL DEFAULT '',
    year TEXT NOT NULL DEFAULT '',
    year_value INTEGER, -- the year as a number when it starts with one, for the range search
    permission TEXT NOT NULL
);
CREATE INDEX books_title ON books (title, number);
CREATE INDEX books_year ON books (year_value);

-- One row per copy on loan: the primary key makes a second loan of the same copy impossible.
CREATE TABLE loans (
    book_number TEXT PRIMARY KEY NOT NULL REFERENCES books (number),
    account_id TEXT NOT NULL REFERENCES accounts (id),
    borrowed_at TEXT NOT NULL
);
CREATE INDEX loans_account ON loans (account_id, borrowed_at);

-- Finished loans. Kept when the book or the account is deleted later, so no foreign keys.
CREATE TABLE loan_history (
    id INTEGER PRIMARY KEY,
    book_number TEXT NOT NULL,
    title TEXT NOT NULL,
    account_id TEXT NOT NULL,
    borrowed_at TEXT NOT NULL,
    returned_at TEXT NOT NULL
);
CREATE INDEX loan_history_account ON loan_history (account_id);

-- Substring search: trigram indexes, kept in step by triggers. Titles have an index of their own,
-- so that a title search does not wade through the postings of authors and publishers.
CREATE VIRTUAL TABLE books_title_fts USING fts5 (
    title,
    content = 'books', content_rowid = 'id', tokenize = 'trigram'
);
CREATE VIRTUAL TABLE books_fts USING fts5 (
    author, type, publisher,
    content = 'books', content_rowid = 'id', tokenize = 'trigram'
);
CREATE TRIGGER books_fts_insert AFTER INSERT ON books BEGIN
    INSERT INTO books_title_fts (rowid, title) VALUES (new.id, new.title);
    INSERT INTO books_fts (rowid, author, type, publisher) VALUES (new.id, new.author, new.type, new.publisher);
END;
CREATE TRIGGER books_fts_delete AFTER DELETE ON books BEGIN
    INSERT INTO books_title_fts (books_title_fts, rowid, title) VALUES ('delete', old.id, old.title);
    INSERT INTO books_fts (books_fts, rowid, author, type, publisher)
    VALUES ('delete', old.id, old.author, old.type, old.publisher);
END;
CREATE TRIGGER books_fts_update AFTER UPDATE ON books BEGIN
    INSERT INTO books_title_fts (books_title_fts, rowid, title) VALUES ('delete', old.id, old.title);
    INSERT INTO books_fts (books_fts, rowid, author, type, publisher)
    VALUES ('delete', old.id, old.author, old.type, old.publisher);
    INSERT INTO books_title_fts (rowid, title) VALUES (new.id, new.title);
    INSERT INTO books_fts (rowid, author, type, publisher) VALUES (new.id, new.author, new.type, new.publisher);
END;
