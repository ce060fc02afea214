-- The forms searches compare (see SearchText): each text field folded (width, case, accents,
-- Traditional to Simplified); the pinyin syllables and initials of titles and authors; the Chinese
-- characters and neighbouring pairs of titles and authors, for texts too short for trigrams; and the
-- book number without hyphens, spaces and case. The server computes them: for new books as they are
-- added, and for books stored before this step at the next start (number_key IS NULL until then).
-- The trigram indexes move from the raw fields to these forms.
ALTER TABLE books
    ADD COLUMN title_folded TEXT COLLATE "C",
    ADD COLUMN title_pinyin TEXT COLLATE "C",
    ADD COLUMN title_initials TEXT COLLATE "C",
    ADD COLUMN author_folded TEXT,
    ADD COLUMN author_pinyin TEXT,
    ADD COLUMN author_initials TEXT,
    ADD COLUMN type_folded TEXT,
    ADD COLUMN publisher_folded TEXT,
    ADD COLUMN title_grams TEXT,
    ADD COLUMN author_grams TEXT,
    ADD COLUMN number_key TEXT COLLATE "C";
-- The exact title and titles that begin with a text (byte order, as the title's); book numbers as
-- compared. (Not books_number_key: that is the name of the number's UNIQUE constraint.)
CREATE INDEX books_search_title ON books (title_folded);
CREATE INDEX books_search_number ON books (number_key);
-- The titles whose pinyin or initials begin with a text, among the books that have them.
CREATE INDEX books_search_title_pinyin ON books (title_pinyin) WHERE title_pinyin IS NOT NULL;
CREATE INDEX books_search_title_initials ON books (title_initials) WHERE title_initials IS NOT NULL;

DROP INDEX books_title_trgm;
DROP INDEX books_author_trgm;
DROP INDEX books_type_trgm;
DROP INDEX books_publisher_trgm;
CREATE INDEX books_title_folded_trgm ON books USING gin (title_folded gin_trgm_ops);
CREATE INDEX books_title_pinyin_trgm ON books USING gin (title_pinyin gin_trgm_ops);
CREATE INDEX books_title_initials_trgm ON books USING gin (title_initials gin_trgm_ops);
CREATE INDEX books_author_folded_trgm ON books USING gin (author_folded gin_trgm_ops);
CREATE INDEX books_author_pinyin_trgm ON books USING gin (author_pinyin gin_trgm_ops);
CREATE INDEX books_author_initials_trgm ON books USING gin (author_initials gin_trgm_ops);
CREATE INDEX books_type_folded_trgm ON books USING gin (type_folded gin_trgm_ops);
CREATE INDEX books_publisher_folded_trgm ON books USING gin (publisher_folded gin_trgm_ops);
-- One or two Chinese characters: the grams are words apart, looked up as array elements.
CREATE INDEX books_title_grams ON books USING gin (string_to_array(title_grams, ' '));
CREATE INDEX books_author_grams ON books USING gin (string_to_array(author_grams, ' '));
