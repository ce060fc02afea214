#include "workload.h"

#include "heavyreader.h"
#include "messages.h"
#include "searchtext.h"

#include <QDate>

#include <algorithm>

namespace {

QByteArray numberLookup(const QString& number)
{
    BookQuery query;
    query.number = number;
    return Wire::encodeRequest(query);
}

QString expectOneBook(const QList<QStringList>& frames, const QString& number)
{
    if (frames.size() == 1 && Reply::rowOf(frames.first(), Reply::BookRowSize) && frames.first().at(5) == number)
        return {};
    return QStringLiteral("lookup of %1: %2").arg(number, Workload::describe(frames));
}

} // namespace

QString Workload::describe(const QList<QStringList>& frames)
{
    if (frames.isEmpty())
        return QStringLiteral("no frame before the end of stream");
    return QStringLiteral("%1 frame(s), first: %2").arg(frames.size()).arg(frames.first().join(u'|').left(200));
}

QString Workload::expectWord(const QList<QStringList>& frames, QLatin1String word)
{
    if (frames.size() == 1 && Reply::wordOf(frames.first()) == word)
        return {};
    return QStringLiteral("expected %1, got %2").arg(word, describe(frames));
}

QStringList Workload::names()
{
    return QStringList{QStringLiteral("lookup"),   QStringLiteral("search"), QStringLiteral("pinyin"),
                       QStringLiteral("initials"), QStringLiteral("pair"),   QStringLiteral("login"),
                       QStringLiteral("borrow")}
    + HeavyReader::caseNames();
}

std::unique_ptr<Workload> Workload::create(const QString& name, const SyntheticCatalogue& catalogue,
                                           const Account& account, int connections, qint64 firstCopy)
{
    if (name == QLatin1String("lookup"))
        return std::make_unique<LookupWorkload>(catalogue, connections);
    if (name == QLatin1String("search"))
        return std::make_unique<TitleSearchWorkload>(catalogue, connections);
    if (name == QLatin1String("pinyin"))
        return std::make_unique<ReaderSearchWorkload>(ReaderSearchWorkload::Pinyin, catalogue, connections);
    if (name == QLatin1String("initials"))
        return std::make_unique<ReaderSearchWorkload>(ReaderSearchWorkload::Initials, catalogue, connections);
    if (name == QLatin1String("pair"))
        return std::make_unique<ReaderSearchWorkload>(ReaderSearchWorkload::Pair, catalogue, connections);
    if (name == QLatin1String("login"))
        return std::make_unique<LoginWorkload>(account);
    if (name == QLatin1String("borrow"))
        return std::make_unique<BorrowReturnWorkload>(catalogue, account, firstCopy);
    return HeavyReader::createWorkload(name, catalogue, connections, firstCopy);
}

QByteArray BookNumberProbe::request(int, int)
{
    return numberLookup(m_number);
}

QString BookNumberProbe::fault(int, int, const QList<QStringList>& frames) const
{
    return expectOneBook(frames, m_number);
}

QByteArray LoginWorkload::request(int, int)
{
    return Wire::encodeRequest(LoginQuery{m_account.id, m_account.password});
}

QString LoginWorkload::fault(int, int, const QList<QStringList>& frames) const
{
    if (frames.size() == 1 && Reply::accountAfterPass(frames.first()))
        return {};
    return QStringLiteral("login of %1: %2").arg(m_account.id, describe(frames));
}

LookupWorkload::LookupWorkload(const SyntheticCatalogue& catalogue, int connections)
    : m_catalogue(catalogue)
    , m_asked(size_t(connections))
{
}

QByteArray LookupWorkload::request(int connection, int)
{
    std::uniform_int_distribution<qint64> index(0, m_catalogue.size() - 1);
    m_asked[size_t(connection)] = SyntheticCatalogue::number(index(m_random));
    return numberLookup(m_asked[size_t(connection)]);
}

QString LookupWorkload::fault(int connection, int, const QList<QStringList>& frames) const
{
    return expectOneBook(frames, m_asked[size_t(connection)]);
}

TitleSearchWorkload::TitleSearchWorkload(const SyntheticCatalogue& catalogue, int connections)
    : m_catalogue(catalogue)
    , m_asked(size_t(connections))
{
}

QByteArray TitleSearchWorkload::request(int connection, int)
{
    std::uniform_int_distribution<qint64> k(0, std::numeric_limits<qint32>::max());
    m_asked[size_t(connection)] = m_catalogue.searchWord(k(m_random));
    BookQuery query;
    query.title = m_asked[size_t(connection)];
    return Wire::encodeRequest(query);
}

QString TitleSearchWorkload::fault(int connection, int, const QList<QStringList>& frames) const
{
    const QString& word = m_asked[size_t(connection)];
    for (const QStringList& frame : frames) {
        if (!Reply::rowOf(frame, Reply::BookRowSize) || !frame.first().contains(word, Qt::CaseInsensitive))
            return QStringLiteral("search for %1: row without it: %2").arg(word, frame.join(u'|').left(200));
    }
    return {};
}

ReaderSearchWorkload::ReaderSearchWorkload(Kind kind, const SyntheticCatalogue& catalogue, int connections)
    : m_kind(kind)
    , m_catalogue(catalogue)
    , m_asked(size_t(connections))
{
}

QByteArray ReaderSearchWorkload::request(int connection, int)
{
    // A random book whose title starts with Chinese words (half of them do).
    std::uniform_int_distribution<qint64> index(0, m_catalogue.size() - 1);
    Asked asked;
    QStringList row;
    for (int tries = 0; tries < 1000 && asked.words.isEmpty(); ++tries) {
        row = m_catalogue.csvRow(index(m_random));
        const QString first = row[0].section(u' ', 0, 0);
        if (first.at(0).unicode() >= 0x2E80)
            asked.words = first;
    }
    if (asked.words.isEmpty()) // a tiny catalogue without Chinese titles
        asked.words = row[0];
    asked.number = row[5];
    const QString word = row[0].section(u' ', 1);
    switch (m_kind) {
    case Pinyin:
        asked.text = SearchText::pinyin(SearchText::fold(asked.words)).syllables + u' ' + word;
        break;
    case Initials:
        asked.text = SearchText::pinyin(SearchText::fold(asked.words)).initials;
        break;
    case Pair: {
        std::uniform_int_distribution<qsizetype> at(0, asked.words.size() - 2);
        asked.text = asked.words.mid(at(m_random), 2);
        if (m_random() % 2)
            std::reverse(asked.text.begin(), asked.text.end());
        break;
    }
    }
    m_asked[size_t(connection)] = asked;
    BookQuery query;
    query.title = asked.text;
    return Wire::encodeRequest(query);
}

QString ReaderSearchWorkload::fault(int connection, int, const QList<QStringList>& frames) const
{
    const Asked& asked = m_asked[size_t(connection)];
    bool found = false;
    for (const QStringList& frame : frames) {
        if (!Reply::rowOf(frame, Reply::BookRowSize))
            return QStringLiteral("search for %1: not a book row: %2").arg(asked.text, frame.join(u'|').left(200));
        const QString& title = frame.first();
        const bool right = m_kind == Pinyin ? title.endsWith(asked.text.section(u' ', 1))
            : m_kind == Initials            ? title.startsWith(asked.words)
                                            : title.contains(asked.text);
        if (!right)
            return QStringLiteral("search for %1: row without it: %2").arg(asked.text, frame.join(u'|').left(200));
        found = found || frame.at(5) == asked.number;
    }
    if (m_kind == Pinyin && !found)
        return QStringLiteral("search for %1 did not find %2").arg(asked.text, asked.number);
    if (m_kind == Initials && frames.isEmpty())
        return QStringLiteral("search for %1 found nothing").arg(asked.text);
    return {};
}

BorrowReturnWorkload::BorrowReturnWorkload(const SyntheticCatalogue& catalogue, Account account, qint64 firstCopy)
    : m_catalogue(catalogue)
    , m_account(std::move(account))
    , m_firstCopy(firstCopy)
{
}

QByteArray BorrowReturnWorkload::request(int connection, int step)
{
    const qint64 index = (m_firstCopy + connection) % m_catalogue.size();
    if (step == 0) {
        BorrowBookQuery borrow;
        borrow.book = BookRecord::from(m_catalogue.bookRecord(index));
        borrow.userId = m_account.id;
        return Wire::encodeRequest(borrow);
    }
    // The borrowed-book row: the six book fields the client shows, then the loan date. The copy and
    // the account identify the loan; the date is shown to the reader, not matched.
    ReturnBookQuery giveBack;
    giveBack.loan = LoanRecord::from(m_catalogue.csvRow(index).mid(0, 6) << QDate::currentDate().toString(Qt::ISODate));
    giveBack.userId = m_account.id;
    return Wire::encodeRequest(giveBack);
}

QString BorrowReturnWorkload::fault(int, int step, const QList<QStringList>& frames) const
{
    return expectWord(frames, step == 0 ? Reply::BorrowBookSuccessfully : Reply::ReturnBookSuccessfully);
}
