-- Loans of each title (its title and author, as the copies read now) over the whole history, counted
-- with every loan: the most borrowed titles of all time are the first rows of an index instead of a
-- grouping of every copy's days. A copy's corrected title or deletion moves or removes its loans.
CREATE TABLE title_loans (
    title TEXT NOT NULL,
    author TEXT NOT NULL,
    loans INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (title, author)
);
CREATE INDEX title_loans_most ON title_loans (loans DESC, title, author);
INSERT INTO title_loans (title, author, loans)
    SELECT b.title, b.author, SUM(s.loans) FROM book_loan_stats s JOIN books b ON b.number = s.book_number
    GROUP BY b.title, b.author;
