-- The search indexes are made again for a book only when one of its search forms is set: a stocktake
-- scan or a loss sets the book's last sighting or its loss, and made the entries of all three indexes
-- again for each.
DROP TRIGGER books_search_update;
CREATE TRIGGER books_search_update
AFTER UPDATE OF title_folded, title_pinyin, title_initials, author_folded, author_pinyin, author_initials,
                type_folded, publisher_folded, title_grams, author_grams, number_key ON books BEGIN
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
