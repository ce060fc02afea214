-- A GIN index keeps the entries of new rows in a pending list that every search through it reads in
-- full until they are merged into the index. By default the list grows to 4 MB (a few thousand added
-- books) before the adding statement merges it, and autovacuum merges it only once a fifth of the
-- table is new: a few thousand added books halved the rate of title searches at a million. Merged at
-- 64 kB (the least PostgreSQL allows), the list stays a few pages.
ALTER INDEX books_title_folded_trgm SET (gin_pending_list_limit = 64);
ALTER INDEX books_title_pinyin_trgm SET (gin_pending_list_limit = 64);
ALTER INDEX books_title_initials_trgm SET (gin_pending_list_limit = 64);
ALTER INDEX books_author_folded_trgm SET (gin_pending_list_limit = 64);
ALTER INDEX books_author_pinyin_trgm SET (gin_pending_list_limit = 64);
ALTER INDEX books_author_initials_trgm SET (gin_pending_list_limit = 64);
ALTER INDEX books_type_folded_trgm SET (gin_pending_list_limit = 64);
ALTER INDEX books_publisher_folded_trgm SET (gin_pending_list_limit = 64);
ALTER INDEX books_title_grams SET (gin_pending_list_limit = 64);
ALTER INDEX books_author_grams SET (gin_pending_list_limit = 64);
-- What is pending now is merged at once.
SELECT gin_clean_pending_list(i.indexrelid) FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid
    JOIN pg_am a ON a.oid = c.relam WHERE i.indrelid = 'books'::regclass AND a.amname = 'gin';
