#pragma once

#include "records.h"
#include "syntheticcatalogue.h"
#include "workload.h"

#include <QSet>

#include <memory>
#include <vector>

struct AddCopiesQuery;

// The busiest reader of a library and its most wanted title, laid out on a synthetic catalogue: the
// reader has Loans copies on loan, and the title has TitleCopies copies, all lent to another reader,
// and Holds readers waiting for it. The set-up (HeavyReaderSetup) lends and reserves what this
// names; the heavy-* workloads ask about it. Staff (the load's account) act for every reader.
class HeavyReader
{
public:
    static constexpr int Loans = 1000;
    static constexpr int TitleCopies = 200;
    static constexpr int Holds = 100;
    // Connection slots of heavy-borrow (connections of all load generators together).
    static constexpr int SpareCopies = 256;
    // Loans and spares are copies the reader's level may borrow, from the middle of the catalogue on.
    static constexpr qint64 MinCatalogue = 4 * (Loans + SpareCopies);

    explicit HeavyReader(const SyntheticCatalogue& catalogue);

    static QString readerId();
    static QString lenderId(); // has every copy of the title out
    static QString waitingId(int place); // place 1..Holds in the title's queue
    static QString password();
    static QString readerLevel(); // of the reader and the lender: its loan limit is lifted

    // The catalogue copies the reader has on loan (i in 0..Loans-1), and those heavy-borrow lends and
    // gives back, one per connection slot, clear of the copies the borrow case lends.
    qint64 loanIndex(int i) const { return m_eligible[size_t(i)]; }
    qint64 spareIndex(int slot) const { return m_eligible[size_t(Loans + slot % SpareCopies)]; }
    const QSet<QString>& loanNumbers() const { return m_loanNumbers; }
    const SyntheticCatalogue& catalogue() const { return m_catalogue; }
    // False for a catalogue too small to lay the reader out on.
    bool fits() const { return m_eligible.size() == size_t(Loans + SpareCopies); }

    // The title: the copy a waiting reader placed the hold on (place 1..Holds: copy 1..Holds), the
    // book record of copy i (1..TitleCopies), and the request that adds all of them.
    static QString titleCopy(int i);
    static BookRecord titleRecord(int i);
    static AddCopiesQuery addTitle();

    // heavy-borrow (also reported as heavy-checkin), heavy-renew, heavy-loans, heavy-holds.
    static QStringList caseNames();
    // nullptr for a name that is none of them, or a catalogue below MinCatalogue.
    static std::unique_ptr<Workload> createWorkload(const QString& name, const SyntheticCatalogue& catalogue,
                                                    int connections, qint64 firstCopy);

private:
    SyntheticCatalogue m_catalogue;
    std::vector<qint64> m_eligible;
    QSet<QString> m_loanNumbers;
};

// The heavy reader borrows a spare copy at the desk while Loans stay on loan, and staff check it in:
// two steps, each reported as a case of its own (heavy-borrow, heavy-checkin).
class HeavyBorrowWorkload : public Workload
{
public:
    HeavyBorrowWorkload(const HeavyReader& reader, qint64 firstCopy);
    int steps() const override { return 2; }
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;
    QString stepCase(int step) const override;
    bool needsLogin() const override { return true; }

private:
    HeavyReader m_reader;
    qint64 m_firstCopy = 0;
};

// Renews the heavy reader's loans in turn (the bench server allows as many renewals as a run makes).
class HeavyRenewWorkload : public Workload
{
public:
    HeavyRenewWorkload(const HeavyReader& reader, qint64 firstCopy);
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;
    bool needsLogin() const override { return true; }

private:
    HeavyReader m_reader;
    qint64 m_next = 0;
};

// The heavy reader's loans list: every one of the Loans rows, each one of the reader's copies.
class HeavyLoansWorkload : public Workload
{
public:
    explicit HeavyLoansWorkload(const HeavyReader& reader);
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;
    bool needsLogin() const override { return true; }

private:
    HeavyReader m_reader;
};

// The holds of the readers waiting for the title, one reader after another: a reader's place is
// counted over the whole queue of the title (every copy, every hold), so each request walks it.
class HeavyHoldsWorkload : public Workload
{
public:
    HeavyHoldsWorkload(int connections, qint64 firstCopy);
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;
    bool needsLogin() const override { return true; }

private:
    qint64 m_next = 0;
    std::vector<int> m_asked; // the place of the reader asked about, per connection
};
