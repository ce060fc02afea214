#pragma once

#include "syntheticcatalogue.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <memory>
#include <random>
#include <vector>

// What one measured operation sends and what counts as a right answer. An operation is one or more
// requests, each on its own connection (borrow-then-return is two). Every connection of the load
// has its own index, so a workload can keep per-connection state such as the copy it lends.
class Workload
{
public:
    virtual ~Workload() = default;

    virtual int steps() const { return 1; }
    // The request frame of `step` of the next operation on `connection`.
    virtual QByteArray request(int connection, int step) = 0;
    // Why the reply frames of that step are wrong; empty when they are right.
    virtual QString fault(int connection, int step, const QList<QStringList>& frames) const = 0;
    // The case name under which a step's own figures are reported; empty (the default): the steps are
    // reported together, as one operation.
    virtual QString stepCase(int) const { return {}; }
    // Whether the account must be logged in from this address before the load starts.
    virtual bool needsLogin() const { return false; }

    struct Account {
        QString id;
        QString password;
    };
    // The case names the load generator accepts: lookup, search, pinyin, initials, pair, login, borrow,
    // and the heavy reader's heavy-borrow, heavy-renew, heavy-loans, heavy-holds (heavyreader.h).
    static QStringList names();
    // nullptr for an unknown name.
    // firstCopy: the borrow case lends copies firstCopy, firstCopy + 1, ... (one per connection), so
    // two load generators against two servers of one database lend different copies.
    static std::unique_ptr<Workload> create(const QString& name, const SyntheticCatalogue& catalogue,
                                            const Account& account, int connections, qint64 firstCopy = 0);

    // For messages: how many frames came and what the first one held.
    static QString describe(const QList<QStringList>& frames);
    // Empty when the reply is one frame whose first string is `word`.
    static QString expectWord(const QList<QStringList>& frames, QLatin1String word);
};

// A lookup of one given book number, expected to find exactly that book.
class BookNumberProbe : public Workload
{
public:
    explicit BookNumberProbe(QString number)
        : m_number(std::move(number))
    {
    }
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;

private:
    QString m_number;
};

// One login; the load of borrow-then-return needs one before it starts.
class LoginWorkload : public Workload
{
public:
    explicit LoginWorkload(Account account)
        : m_account(std::move(account))
    {
    }
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;

private:
    Account m_account;
};

// A random book number of the catalogue per request.
class LookupWorkload : public Workload
{
public:
    LookupWorkload(const SyntheticCatalogue& catalogue, int connections);
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;

private:
    SyntheticCatalogue m_catalogue;
    std::mt19937_64 m_random{20240601};
    std::vector<QString> m_asked;
};

// A random title word per request; every row must carry it in its title.
class TitleSearchWorkload : public Workload
{
public:
    TitleSearchWorkload(const SyntheticCatalogue& catalogue, int connections);
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;

private:
    SyntheticCatalogue m_catalogue;
    std::mt19937_64 m_random{20240602};
    std::vector<QString> m_asked;
};

// A title search typed the way readers of Chinese titles type, for a random book with a Chinese title
// ("数据结构 qkalomizu"):
// - pinyin: the title's syllables and its word ("shujujiegou qkalomizu"); that book must be among the rows;
// - initials: the initials of its Chinese words ("sjjg"); every row must have those words first;
// - pair: two neighbouring characters of those words ("结构"), or the same two the other way round, which
//   no title contains ("构结"): too short for the trigram index. Every row must contain them.
class ReaderSearchWorkload : public Workload
{
public:
    enum Kind { Pinyin, Initials, Pair };
    ReaderSearchWorkload(Kind kind, const SyntheticCatalogue& catalogue, int connections);
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;

private:
    struct Asked {
        QString text;
        QString number; // the pinyin case: the book that must be found
        QString words; // the title's Chinese words
    };
    Kind m_kind;
    SyntheticCatalogue m_catalogue;
    std::mt19937_64 m_random{20240603};
    std::vector<Asked> m_asked;
};

// Borrow a copy and give it back. Each connection lends its own copy, so connections never race.
class BorrowReturnWorkload : public Workload
{
public:
    BorrowReturnWorkload(const SyntheticCatalogue& catalogue, Account account, qint64 firstCopy = 0);
    int steps() const override { return 2; }
    QByteArray request(int connection, int step) override;
    QString fault(int connection, int step, const QList<QStringList>& frames) const override;
    bool needsLogin() const override { return true; }

private:
    SyntheticCatalogue m_catalogue;
    Account m_account;
    qint64 m_firstCopy = 0;
};
