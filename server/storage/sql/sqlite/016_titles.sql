-- Copies of one title share its ISBN (ISBN-13, digits only; NULL for a copy without one), which a
-- search by book number also finds, and which ties the holds of a title together.
ALTER TABLE books ADD COLUMN isbn TEXT;
CREATE INDEX books_isbn ON books (isbn) WHERE isbn IS NOT NULL;
-- The MARC record a title was imported from (ISO 2709 in UTF-8), kept for export and later reuse;
-- its copies point to it. `syntax` is "marc21" or "unimarc".
CREATE TABLE catalogue_records (
    id INTEGER PRIMARY KEY,
    syntax TEXT NOT NULL,
    record BLOB NOT NULL
);
ALTER TABLE books ADD COLUMN record_id INTEGER REFERENCES catalogue_records (id);
