-- Counts the changes that move books in title order other than additions: deletions (whose IDs may
-- be given again) and new titles or numbers. The server keeps the title order in memory and reads it
-- again when this count moves; a new book is known by its ID above every one it placed.
CREATE TABLE books_order_changes (n INTEGER NOT NULL);
INSERT INTO books_order_changes (n) VALUES (0);
CREATE TRIGGER books_order_delete AFTER DELETE ON books BEGIN
    UPDATE books_order_changes SET n = n + 1;
END;
CREATE TRIGGER books_order_update AFTER UPDATE OF title, number ON books BEGIN
    UPDATE books_order_changes SET n = n + 1;
END;
