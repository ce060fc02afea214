#pragma once

#include "fieldquery.h"
#include "messages.h"
#include "serversettings.h"
#include "sqldialect.h"
#include "sqlrow.h"
#include "titleorder.h"
#include "trigramcounts.h"
#include "trigramsample.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QSet>
#include <QList>
#include <QSqlDatabase>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

class PreparedStatements;

// An account as stored. The password is only ever held as its hash.
struct AccountRow {
    QString id, name, level, passwordHash, studentNumber, phone, email, info;
    bool mustChangePassword = false; // a generated password, to be replaced at the first login
    QString createdAt, registeredFrom; // a stored moment; the peer's address (empty before it was kept)
};

// A book as stored, with whether it is out on loan or, back on the shelf, kept for a reader who
// placed a hold.
struct BookRow {
    QString title, author, type, publisher, year, number, permission;
    bool lent = false;
    bool reserved = false;
    QString isbn; // ISBN-13 digits; empty when the copy has none
    qint64 recordId = 0; // the kept MARC record of its title (catalogue_records), 0 when none
    bool lost = false; // marked lost after a stocktake
    QString lastSeenAt = {}; // a stored moment; empty: never scanned

    // As a search result shows it.
    BookRecord record() const
    {
        const QString state = lent ? BookState::lentOut()
            : lost                 ? BookState::lost()
            : reserved             ? BookState::onHold()
                                   : BookState::free();
        return {title, author, type, publisher, year, number, state, permission};
    }
};

// A copy on loan, as the borrowed-books list shows it, with its due date and renewals.
struct LoanRow {
    QString title, author, type, publisher, year, number, borrowedAt, dueAt;
    int renewals = 0;
};

// The loan a copy is on.
struct ActiveLoan {
    QString number, accountId, borrowedAt, dueAt, level;
    int renewals = 0;
};

// An overdue loan with the borrower's contact details.
struct OverdueRow {
    QString number, title, accountId, name, phone, email, dueAt;
};

// A reader waiting for a copy (see the holds table); readyUntil is empty while the copy is out.
struct HoldRow {
    qint64 id = 0;
    QString number, accountId, placedAt, readyUntil, title;
};

// A hold on one of the copies of a title, and whether that copy is out.
struct TitleHoldRow {
    HoldRow hold;
    bool copyLent = false;
};

struct BookFilter {
    QString title, author, number, type, publisher; // empty: no condition
    std::optional<int> yearFrom, yearTo;
};

// A session as stored (see SessionStore).
struct StoredSession {
    QString account, peer;
    qint64 loginAtMs = 0, lastUsedMs = 0;
    bool token = false;
};

// A failed-login counter as stored (see LoginThrottle).
struct AttemptCount {
    int attempts = 0;
    qint64 lockedUntilMs = 0;
    qint64 lastAtMs = 0;
};

// One entry of the audit trail: who (account and address) did what to which account or book.
struct AuditEvent {
    QString at, actor, peer, action, accountId, bookNumber, detail;
};

// A notice as stored (see the notices table and NoticeService), with its reader's name and e-mail.
struct NoticeRow {
    qint64 id = 0;
    QString kind, accountId, item, dueAt;
    int sequence = 0;
    QString bookNumber, title, state, queuedAt;
    int attempts = 0;
    QString nextAttemptAt, firstFailedAt, lastError, sentAt, messageId;
    QString name, email;
};

// Something a reader may have to be told about: an open loan with its due date, or a hold whose copy
// is back (dueAt: the end of the pick-up window), with the reader's details.
struct NoticeSubject {
    QString item, bookNumber, title, dueAt;
    QString accountId, name, email, level;
    bool dueSoonWanted = true;
};

// Which notices a staff list shows: one state or all (empty), one reader or all (empty). A queued
// notice still failing after `failingSince` counts as "failed".
struct NoticeFilter {
    QString state, accountId, queuedSince, failingSince;
};

// The period and filters of a statistics report: local days "yyyy-MM-dd" (inclusive; empty: open),
// a reader level (English name) and a book type, empty for all.
struct StatisticsFilter {
    QString fromDay, toDay, level, type;
};

// A stocktake: the part of the collection it counts (type and/or book-number prefix, empty: any).
struct InventoryRow {
    qint64 id = 0;
    QString name, type, numberPrefix, startedAt;
    qint64 scanned = 0;

    bool covers(const BookRow& book) const
    {
        return (type.isEmpty() || book.type == type) && book.number.startsWith(numberPrefix);
    }
};

// A line of a stocktake's report: the copy (title and state empty for an unknown number) and why.
struct InventoryFindingRow {
    BookRow book;
    bool known = false;
    QString finding;
};

struct CatalogueCounts {
    qint64 books = 0, loans = 0, accounts = 0, unconfirmed = 0, overdue = 0, holds = 0;
};

// One named database connection and every query the server runs. One thread at a time may use it
// (DatabasePool hands it out). The SQL is shared where SQLite and PostgreSQL agree; what is particular
// to one of them is asked of its SqlDialect, and of the schema resources of its driver.
//
// Failures: a statement that fails records its error and sets failed(); callers check it once at the
// end of a unit of work instead of after every call.
class Storage
{
public:
    Storage(const DatabaseSettings& settings, const QString& connectionName);
    ~Storage();
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    // The trigram counts searches pick by, shared by the connections to the database; a connection
    // keeps its own until given them. SQLite counts each trigram in its FTS tables; PostgreSQL's
    // counts come from the sample.
    void shareTrigramCounts(std::shared_ptr<TrigramCounts> counts) { m_trigramCounts = std::move(counts); }
    // The books' places in title order, shared the same way.
    void shareTitleOrder(std::shared_ptr<TitleOrder> order) { m_titleOrder = std::move(order); }
    // The trigrams of a sample of the books (PostgreSQL), shared the same way.
    void shareTrigramSample(std::shared_ptr<TrigramSample> sample) { m_trigramSample = std::move(sample); }

    bool open();
    // Applies the numbered schema resources above the stored schema version, each in a transaction.
    // On PostgreSQL a lock held for the whole migration lets several servers start at once.
    bool migrate();
    int schemaVersion();
    QString description() const;
    bool isSqlite() const { return m_settings.isSqlite(); }

    // A PostgreSQL connection can be lost (the database restarts, the network drops). After a failed
    // unit of work, checkConnection() finds out whether the connection itself is gone; the next
    // ensureConnected() then opens it again, trying at most once a second while the database stays away.
    bool checkConnection();
    bool ensureConnected();
    bool isConnected() const { return !m_lost; }

    bool failed() const { return m_failed; }
    QString lastError() const { return m_lastError; }
    void clearFailure() { m_failed = false; }

    // Group commit: the writer runs every change that is waiting inside one transaction, each change in
    // a savepoint of its own, and syncs once. Nobody is told about a change before the group commits.
    bool beginGroup();
    bool commitGroup();

    // A write that must agree with what it read first. On SQLite the write lock is taken at the
    // start (BEGIN IMMEDIATE), so two borrowers cannot both see the copy free. On PostgreSQL, where
    // other connections and other servers write at the same time, the rows a decision rests on are
    // locked with lockAccount() and lockBook() (accounts first) before they are read.
    class WriteTransaction
    {
    public:
        explicit WriteTransaction(Storage& storage);
        ~WriteTransaction(); // rolls back unless committed
        bool isOpen() const { return m_open; }
        bool commit();

    private:
        Storage& m_storage;
        bool m_open = false;
    };

    // Row locks held to the end of the transaction; nothing to do on SQLite, whose transaction already
    // holds the database's one write lock. True also when the row does not exist.
    bool lockAccount(const QString& id);
    bool lockBook(const QString& number);
    // The copy and every other copy of its ISBN, in number order (a hold on the title moves between them).
    bool lockTitleOf(const QString& number);

    // Accounts
    std::optional<AccountRow> account(const QString& id);
    bool studentNumberTaken(const QString& studentNumber);
    bool insertAccount(const AccountRow& account);
    bool updateAccount(const QString& id, const QString& name, const QString& phone, const QString& email,
                       const QString& info, const QString& newPasswordHash);
    bool setLevel(const QString& id, const QString& level);
    // Staff's correction of a reader's details.
    bool editAccount(const QString& id, const QString& name, const QString& studentNumber, const QString& phone,
                     const QString& email, const QString& info);
    // A password the holder must replace at the next login (a generated one).
    bool setTemporaryPassword(const QString& id, const QString& passwordHash);
    // The account goes with its loan history.
    bool deleteAccount(const QString& id);
    // Accounts whose ID or name contains the text (every account for an empty text), by ID.
    QList<AccountRow> searchAccounts(const QString& text, int limit);
    // Oldest first.
    QList<AccountRow> accountsAtLevel(const QString& level, int limit);
    qint64 accountCount();
    qint64 accountCountAtLevel(const QString& level);
    // Every account ID (for the look-alike check of a new one).
    // Whether an account's ID could be taken for this one (the same IdLookalikes::key).
    bool idLookalikeExists(const QString& id);
    // Unconfirmed accounts that never borrowed, oldest first; such an account is deleted by ID, or
    // all those registered before a moment. The numbers deleted.
    QList<AccountRow> unusedUnconfirmed(int limit);
    qint64 deleteUnusedUnconfirmed(const QString& id);
    qint64 expireUnconfirmed(const QString& registeredBefore);
    // Device tokens (see LoginThrottle and AccountRequests::login), by the SHA-256 key of the token.
    bool putDeviceToken(const QString& key, const QString& accountId, qint64 nowMs);
    // The account of a device token used since then, or an empty string.
    QString deviceTokenAccount(const QString& key, qint64 usedSinceMs);
    bool removeDeviceTokens(qint64 usedBeforeMs);

    // Books
    std::optional<BookRow> book(const QString& number);
    bool insertBook(const BookRow& book);
    // The first of the numbers that is taken, or an empty string.
    QString firstTakenNumber(const QStringList& numbers);
    // Every copy of an ISBN, by number.
    QList<BookRow> copiesOf(const QString& isbn);
    // A kept MARC record of a title (see catalogue_records): its id, or 0 on a failure.
    qint64 insertRecord(const QString& syntax, const QByteArray& iso2709);
    // The kept record of an ISBN's copies, if one of them has one (0 otherwise).
    qint64 recordOfIsbn(const QString& isbn);
    struct KeptRecord {
        QString syntax;
        QByteArray iso2709;
    };
    std::optional<KeptRecord> record(qint64 id);
    // Every copy, by kept record, ISBN, title and number: copies of one title come together.
    bool forEachBook(const std::function<void(const BookRow&)>& visit);
    // An imported copy's title fields, permission and kept record replaced (--update).
    bool updateBook(const BookRow& book);
    bool deleteBook(const QString& number);
    QList<BookRow> searchBooks(const BookFilter& filter, int limit);
    qint64 bookCount();
    // After many books were added at once (the seed catalogue): indexes tidied for fast searches.
    bool afterBulkLoad();
    // Loading into an empty catalogue, inside one write transaction: the indexes and triggers the
    // dialect lets go are dropped for the load (returned: the statements that make them again), then
    // made again and the search tables filled in one pass. Sorting once at the end costs far less than
    // updating every index for every book. nullopt or false on an error; the transaction then rolls
    // everything back.
    std::optional<QStringList> suspendBookIndexes();
    bool restoreBookIndexes(const QStringList& definitions);

    // Loans
    qint64 loanCount(const QString& accountId);
    std::optional<QString> borrowerOf(const QString& bookNumber);
    bool insertLoan(const QString& bookNumber, const QString& accountId, const QString& borrowedAt,
                    const QString& dueAt = {});
    // Ends the loan of the copy to the account and moves it to the history. False when there was none.
    bool endLoan(const QString& bookNumber, const QString& accountId, const QString& returnedAt);
    QList<LoanRow> loansOf(const QString& accountId);

    // Circulation; times are ServerClock stamps.
    std::optional<ActiveLoan> loanOf(const QString& bookNumber);
    // Loans, returns (late ones too) and renewals are counted for the statistics as they are stored.
    bool renewLoan(const QString& bookNumber, const QString& dueAt, const QString& renewedAt);
    bool hasLoanDueBefore(const QString& accountId, const QString& time);
    // Loans due before the time, the longest overdue first.
    QList<OverdueRow> overdueLoans(const QString& time, int limit);
    // Loans from before due dates were kept, with the borrower's level.
    QList<ActiveLoan> loansWithoutDueDate();
    bool setDueDate(const QString& bookNumber, const QString& dueAt);
    // The holds of a copy in queue order, and the holds of a reader (with titles).
    QList<HoldRow> holdsOn(const QString& bookNumber);
    QList<HoldRow> holdsOf(const QString& accountId);
    // The holds on every copy of an ISBN, copy by copy in number order, each copy's in queue order.
    QList<TitleHoldRow> holdsOnTitle(const QString& isbn);
    bool insertHold(const QString& bookNumber, const QString& accountId, const QString& placedAt);
    qint64 holdCount(const QString& accountId);
    bool deleteHold(qint64 id);
    // A hold on a title goes to the copy that is kept for the reader; it waits there without a window.
    bool moveHold(qint64 id, const QString& bookNumber);
    // No window (NULL): the reader waits for the copy to come back.
    bool setHoldWindow(qint64 id, const std::optional<QString>& readyUntil);

    // Sessions and failed-login counters kept in the database (see SessionStore and LoginThrottle).
    // Puts the session under its key; with `endAddressSessions`, the account's address sessions end
    // in the same step.
    bool startSession(const QString& key, const StoredSession& session, bool endAddressSessions);
    std::optional<StoredSession> session(const QString& key);
    bool touchSession(const QString& key, qint64 nowMs);
    // By key; or, with an empty key, every session of the account but `keepKey` (address sessions only
    // when `addressOnly`).
    bool removeSessions(const QString& key, const QString& account, const QString& keepKey, bool addressOnly);
    bool removeExpiredSessions(qint64 idleBeforeMs, qint64 addressIdleBeforeMs, qint64 loginBeforeMs);
    // Removes the session only while it is one that has run out: one written since stays.
    bool removeSessionIfEnded(const QString& key, qint64 idleBeforeMs, qint64 loginBeforeMs);
    // A failed-login counter, created empty when missing, locked to the end of the transaction.
    std::optional<AttemptCount> lockedAttempts(const QString& key);
    bool putAttempts(const QString& key, const AttemptCount& count);
    bool takeBackAttempt(const QString& key);
    bool clearAttempts(const QString& key);
    bool removeQuietAttempts(qint64 quietSinceMs, qint64 nowMs);

    // Notices (see NoticeScan and NoticeSender); times are ServerClock stamps.
    // Open loans due at or after `from` and before `to`, oldest due date first.
    QList<NoticeSubject> loansDueBetween(const QString& from, const QString& to);
    // Holds whose copy is on the shelf and kept for the reader now: the first hold of each copy whose
    // window has not ended at `now`.
    QList<NoticeSubject> holdsReady(const QString& now);
    // Queues the notice unless one with its key exists; `inserted` says which.
    bool queueNotice(const NoticeRow& notice, bool* inserted);
    bool noticeExists(const NoticeRow& notice);
    // The keys of the notices of a kind queued for due dates before `dueBefore`, as NoticeScan::keyOf
    // writes them, so that a scan writes only what is new.
    QSet<QString> noticeKeys(const QString& kind, const QString& dueBefore);
    // Queued notices whose next attempt is due, by reader and kind.
    QList<NoticeRow> dueNotices(const QString& now, int limit);
    // Takes a queued notice for sending until `until` (its next attempt then), unless another sender
    // took or changed it since it was read as due at `seenNextAttempt`.
    bool claimNotice(qint64 id, const QString& seenNextAttempt, const QString& until);
    bool markNoticeSent(qint64 id, const QString& at, const QString& messageId);
    bool markNoticeFailed(qint64 id, const QString& nextAttemptAt, const QString& failedAt, const QString& error);
    bool setNoticeState(qint64 id, const QString& state);
    QList<NoticeRow> notices(const NoticeFilter& filter, int limit);
    // A queued notice due again now, its failures forgotten; false when there is no such queued notice.
    bool resendNotice(qint64 id, const QString& now);
    // Letters marked printed; the number that were letters.
    int markLettersPrinted(const QList<qint64>& ids);
    bool setDueSoonNotices(const QString& accountId, bool wanted);
    std::optional<bool> dueSoonNotices(const QString& accountId);
    // A hold by its id.
    std::optional<HoldRow> hold(qint64 id);

    // The audit trail, written in the transaction of the change it records.
    bool appendAudit(const AuditEvent& event);
    // The latest entries, newest first; for one account and/or book when given.
    QList<AuditEvent> auditEvents(const QString& accountId, const QString& bookNumber, int limit);

    // Audit entries of an action from a peer at or after `since`.
    qint64 auditCount(AuditAction action, const QString& peer, const QString& since);
    // The same for entries with the detail (a registration's network).
    qint64 auditCountWithDetail(AuditAction action, const QString& detail, const QString& since);

    CatalogueCounts counts();

    // Statistics: counters the loan changes above keep in their own transaction, read by reports.
    // Each returns the rows of its report (see StatisticsReport), at most `limit`.
    // Per month "yyyy-MM": loans, returns, renewals, returns after the due date.
    QList<QStringList> loansByMonth(const StatisticsFilter& filter);
    // Title, author, loans, copies; the most borrowed first.
    QList<QStringList> topTitles(const StatisticsFilter& filter, int limit);
    // Number, title, type, added (a stored moment); the oldest first.
    QList<QStringList> neverBorrowed(const StatisticsFilter& filter, int limit);
    // Level or type, loans, readers (counted once in each month they borrowed).
    QList<QStringList> loansByGroup(const QString& column, const StatisticsFilter& filter, int limit);
    // Forgets which accounts borrowed in the months before `month` ("yyyy-MM"); their counts stay.
    qint64 pruneReaderMonths(const QString& month);

    // Stocktaking.
    std::optional<qint64> insertInventory(const InventoryRow& inventory, const QString& startedBy);
    std::optional<InventoryRow> inventory(qint64 id);
    QList<InventoryRow> inventories(int limit);
    // False when the number was scanned in this stocktake before (nothing is changed then).
    bool recordScan(qint64 inventoryId, const QString& number, const QString& at, const QString& finding,
                    bool* duplicate);
    // The copy was seen on a shelf: its last-seen time, and it is no longer lost.
    bool markSeen(const QString& number, const QString& at);
    bool markLost(const QString& number, const QString& at);
    // The scans that need staff (unknown numbers, copies lent or of another part), then the copies of
    // the part neither scanned nor lent; at most `limit` in all.
    QList<InventoryFindingRow> inventoryFindings(const InventoryRow& inventory, int limit);

    // Upkeep
    // "ok", or what SQLite's quick integrity check found (SQLite only; "ok" elsewhere).
    QString quickCheck();
    // A consistent copy of the database in a new file (SQLite's VACUUM INTO).
    bool backupInto(const QString& path);
    // Removes finished loans returned before `before`; the number removed.
    qint64 pruneLoanHistory(const QString& before);
    // Removes the audit trail's entries of loan history (Wire::isLoanHistory) made before `before`:
    // who had which book is kept no longer in the trail than in the history. The number removed.
    qint64 pruneLoanAudit(const QString& before);

    // How many columns a book row is read from: what a query selects after them starts at this index.
    static constexpr int BookColumnCount = 13;

    // The year as a number when the text starts with digits ("1998", "1998年"), for the range search.
    static std::optional<int> yearValue(const QString& year);

private:
    // The columns that make a BookRow (of books b), and the row they make.
    static QString bookSelect();
    static BookRow bookOf(const SqlRow& row);
    // Counts a loan change of the copy in the statistics (the reader's level, the copy's type).
    // Adds (+1) or takes away (-1) the copy's loans of all time to or from its title's count.
    bool moveTitleLoans(const QString& number, int sign);
    bool countLoanChange(const QString& column, const QString& at, const QString& level, const QString& type);
    // The holds whose column (of holds h) has the value, oldest first, with their book's title.
    QList<HoldRow> holdsWhere(const QString& column, const QString& value);
    // Takes the database library's own handle of the open connection (see PreparedStatements).
    bool attachStatements();
    bool execDirect(const QString& sql);
    bool configureSession();
    bool hasTable(const QString& table);
    // Runs a prepared query with the given values and hands each row to `row`; finishes the query.
    bool select(const QString& sql, const QVariantList& values, const RowHandler& row);
    qint64 scalar(const QString& sql, const QVariantList& values = {});
    bool run(const QString& sql, const QVariantList& values, const RowHandler* row, int* rowsAffected);
    bool change(const QString& sql, const QVariantList& values, int* rowsAffected = nullptr);
    void fail(const QString& what, const QString& error);
    bool beginWrite();
    bool commit();
    void rollback();
    QList<BookRow> booksAmong(const QList<qint64>& ids, const QString& conditions, const QVariantList& values,
                              const FieldQuery& title, int limit);
    // The trigram counts of a sample of the books, read when none are kept or they are old (PostgreSQL).
    std::shared_ptr<const TrigramSample::Snapshot> trigramSample();
    // The first `count` books in title order among the IDs `matching` selects (its last placeholder is a
    // limit) that meet the conditions, by the kept title order; nullopt when that cannot tell (too many
    // matches, or no order to use): the caller walks the title index.
    std::optional<QList<BookRow>> booksInTitleOrder(const QString& matching, const QVariantList& matchValues,
                                                    const QString& conditions, const QVariantList& values, int count);
    // Computes the search forms of the books stored without them (before the schema had them).
    bool fillSearchForms();
    // Computes the look-alike keys of the accounts stored without them.
    bool fillIdKeys();

    DatabaseSettings m_settings;
    QString m_connectionName;
    QSqlDatabase m_db;
    std::unique_ptr<SqlDialect> m_dialect;
    bool m_failed = false;
    bool m_inGroup = false;
    bool m_lost = false;
    QDeadlineTimer m_nextReopen;
    QString m_lastError;
    // Every statement runs through the database's own library, transactions too; only opening and
    // closing the connection are Qt's.
    std::unique_ptr<PreparedStatements> m_statements;
    std::shared_ptr<TrigramCounts> m_trigramCounts;
    std::shared_ptr<TitleOrder> m_titleOrder;
    std::shared_ptr<TrigramSample> m_trigramSample;
};
