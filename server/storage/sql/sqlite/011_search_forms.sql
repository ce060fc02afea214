-- The forms searches compare (see SearchText): each text field folded (width, case, accents,
-- Traditional to Simplified); the pinyin syllables and initials of titles and authors; the Chinese
-- characters and neighbouring pairs of titles and authors, for texts too short for trigrams; and the
-- book number without hyphens, spaces and case. The server computes them: for new books as they are
-- added, and for books stored before this step at the next start (number_key IS NULL until then).
-- The trigram indexes move from the raw fields to these forms.
ALTER TABLE books ADD COLUMN title_folded TEXT;
ALTER TABLE books ADD COLUMN title_pinyin TEXT;
ALTER TABLE books ADD COLUMN title_initials TEXT;
ALTER TABLE books ADD COLUMN author_folded TEXT;
ALTER TABLE books ADD COLUMN author_pinyin TEXT;
ALTER TABLE books ADD COLUMN author_initials TEXT;
ALTER TABLE books ADD COLUMN type_folded TEXT;
ALTER TABLE books ADD COLUMN publisher_folded TEXT;
ALTER TABLE books ADD COLUMN title_grams TEXT;
ALTER TABLE books ADD COLUMN author_grams TEXT;
ALTER TABLE books ADD COLUMN number_key TEXT;
-- The exact title and titles that begin with a text; book numbers as compared.
CREATE INDEX books_search_title ON books (title_folded);
CREATE INDEX books_search_number ON books (number_key);
-- The titles whose pinyin or initials begin with a text, among the books that have them.
CREATE INDEX books_search_title_pinyin ON books (title_pinyin) WHERE title_pinyin IS NOT NULL;
CREATE INDEX books_search_title_initials ON books (title_initials) WHERE title_initials IS NOT NULL;

DROP TRIGGER books_fts_insert;
DROP TRIGGER books_fts_delete;
DROP TRIGGER books_fts_update;
DROP TABLE books_title_fts;
DROP TABLE books_fts;
CREATE VIRTUAL TABLE books_title_fts USING fts5 (
    title_folded, title_pinyin, title_initials,
    content = 'books', content_rowid = 'id', tokenize = 'trigram'
);
CREATE VIRTUAL TABLE books_fts USING fts5 (
    author_folded, author_pinyin, author_initials, type_folded, publisher_folded,
    content = 'books', content_rowid = 'id', tokenize = 'trigram'
);
-- The grams are words apart, so the word tokenizer finds one character or one pair exactly.
CREATE VIRTUAL TABLE books_grams_fts USING fts5 (
    title_grams, author_grams,
    content = 'books', content_rowid = 'id', tokenize = 'unicode61'
);
-- A book is in the indexes once its forms are filled in; an index entry is removed with the values it
-- was made from.
CREATE TRIGGER books_search_insert AFTER INSERT ON books WHEN new.number_key IS NOT NULL BEGIN
    INSERT INTO books_title_fts (rowid, title_folded, title_pinyin, title_initials)
    VALUES (new.id, new.title_folded, new.title_pinyin, new.title_initials);
    INSERT INTO books_fts (rowid, author_folded, author_pinyin, author_initials, type_folded, publisher_folded)
    VALUES (new.id, new.author_folded, new.author_pinyin, new.author_initials, new.type_folded, new.publisher_folded);
    INSERT INTO books_grams_fts (rowid, title_grams, author_grams) VALUES (new.id, new.title_grams, new.author_grams);
END;
CREATE TRIGGER books_search_delete AFTER DELETE ON books WHEN old.number_key IS NOT NULL BEGIN
    INSERT INTO books_title_fts (books_title_fts, rowid, title_folded, title_pinyin, title_initials)
    VALUES ('delete', old.id, old.title_folded, old.title_pinyin, old.title_initials);
    INSERT INTO books_fts (books_fts, rowid, author_folded, author_pinyin, author_initials, type_folded,
                           publisher_folded)
    VALUES ('delete', old.id, old.author_folded, old.author_pinyin, old.author_initials, old.type_folded,
            old.publisher_folded);
    INSERT INTO books_grams_fts (books_grams_fts, rowid, title_grams, author_grams)
    VALUES ('delete', old.id, old.title_grams, old.author_grams);
END;
CREATE TRIGGER books_search_update AFTER UPDATE ON books BEGIN
    INSERT INTO books_title_fts (books_title_fts, rowid, title_folded, title_pinyin, title_initials)
    SELECT 'delete', old.id, old.title_folded, old.title_pinyin, old.title_initials WHERE old.number_key IS NOT NULL;
    INSERT INTO books_fts (books_fts, rowid, author_folded, author_pinyin, author_initials, type_folded,
                           publisher_folded)
    SELECT 'delete', old.id, old.author_folded, old.author_pinyin, old.author_initials, old.type_folded,
           old.publisher_folded WHERE old.number_key IS NOT NULL;
    INSERT INTO books_grams_fts (books_grams_fts, rowid, title_grams, author_grams)
    SELECT 'delete', old.id, old.title_grams, old.author_grams WHERE old.number_key IS NOT NULL;
    INSERT INTO books_title_fts (rowid, title_folded, title_pinyin, title_initials)
    SELECT new.id, new.title_folded, new.title_pinyin, new.title_initials WHERE new.number_key IS NOT NULL;
    INSERT INTO books_fts (rowid, author_folded, author_pinyin, author_initials, type_folded, publisher_folded)
    SELECT new.id, new.author_folded, new.author_pinyin, new.author_initials, new.type_folded, new.publisher_folded
    WHERE new.number_key IS NOT NULL;
    INSERT INTO books_grams_fts (rowid, title_grams, author_grams)
    SELECT new.id, new.title_grams, new.author_grams WHERE new.number_key IS NOT NULL;
END;
