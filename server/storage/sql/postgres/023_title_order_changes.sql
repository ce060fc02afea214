-- Counts the changes that move books in title order other than additions: deletions and new titles
-- or numbers. Each server keeps the title order in memory and reads it again when this count moves; a
-- book it has not placed (added since, by any server) is looked up apart. One statement bumps it once.
CREATE TABLE books_order_changes (n BIGINT NOT NULL);
INSERT INTO books_order_changes (n) VALUES (0);
CREATE FUNCTION books_order_changed() RETURNS trigger LANGUAGE plpgsql SET search_path FROM CURRENT AS $$ BEGIN UPDATE books_order_changes SET n = n + 1; RETURN NULL; END $$;
-- "OR REPLACE" keeps the line apart from the trigger bodies that the schema runner reads to their END.
CREATE OR REPLACE TRIGGER books_order_delete AFTER DELETE ON books FOR EACH STATEMENT EXECUTE FUNCTION books_order_changed();
CREATE OR REPLACE TRIGGER books_order_update AFTER UPDATE OF title, number ON books FOR EACH STATEMENT EXECUTE FUNCTION books_order_changed();
