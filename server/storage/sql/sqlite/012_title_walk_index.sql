-- A title text that too many books match is served by walking the title index in title order and
-- testing each book's title forms. With the forms in the index entries, only the books that match
-- are read from the table: a text whose matches all sort late (a word in the middle of a common
-- title) no longer reads most of the table to fill one page.
DROP INDEX books_title;
CREATE INDEX books_title ON books (title, number, title_folded, title_pinyin, title_initials);
