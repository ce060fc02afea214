#include "heavyreader.h"

#include "levels.h"
#include "messages.h"

namespace {

const QString titleIsbn = QStringLiteral("9787536692930");

} // namespace

HeavyReader::HeavyReader(const SyntheticCatalogue& catalogue)
    : m_catalogue(catalogue)
{
    const int level = Levels::code(readerLevel());
    for (qint64 i = catalogue.size() / 2; i < catalogue.size() && m_eligible.size() < size_t(Loans + SpareCopies);
         ++i) {
        if (Levels::code(catalogue.csvRow(i).at(6)) <= level)
            m_eligible.push_back(i);
    }
    for (int i = 0; i < Loans && size_t(i) < m_eligible.size(); ++i)
        m_loanNumbers.insert(SyntheticCatalogue::number(m_eligible[size_t(i)]));
}

QString HeavyReader::readerId()
{
    return QStringLiteral("bench-heavy");
}

QString HeavyReader::lenderId()
{
    return QStringLiteral("bench-lender");
}

QString HeavyReader::waitingId(int place)
{
    return QStringLiteral("bench-wait%1").arg(place, 3, 10, QLatin1Char('0'));
}

QString HeavyReader::password()
{
    return QStringLiteral("bench-heavy-reader");
}

QString HeavyReader::readerLevel()
{
    return Levels::englishName(Levels::Vip);
}

QString HeavyReader::titleCopy(int i)
{
    return QStringLiteral("TB%1").arg(i, 4, 10, QLatin1Char('0'));
}

BookRecord HeavyReader::titleRecord(int i)
{
    const AddCopiesQuery title = addTitle();
    return {title.title, title.author, title.type,        title.press,
            title.year,  titleCopy(i), BookState::free(), title.permission};
}

AddCopiesQuery HeavyReader::addTitle()
{
    // No made-up search word, topic or pinyin of the search cases is in it: their replies stay the same.
    AddCopiesQuery query;
    query.title = QStringLiteral("三体 The Three-Body Problem");
    query.author = QStringLiteral("刘慈欣");
    query.type = QStringLiteral("Fiction");
    query.press = QStringLiteral("重庆出版社");
    query.year = QStringLiteral("2008");
    query.permission = Levels::englishName(Levels::Undergraduate);
    query.isbn = titleIsbn;
    query.firstNumber = titleCopy(1);
    query.count = QString::number(TitleCopies);
    return query;
}

QStringList HeavyReader::caseNames()
{
    return {QStringLiteral("heavy-borrow"), QStringLiteral("heavy-renew"), QStringLiteral("heavy-loans"),
            QStringLiteral("heavy-holds")};
}

std::unique_ptr<Workload> HeavyReader::createWorkload(const QString& name, const SyntheticCatalogue& catalogue,
                                                      int connections, qint64 firstCopy)
{
    if (!caseNames().contains(name) || catalogue.size() < MinCatalogue)
        return nullptr;
    const HeavyReader reader(catalogue);
    if (name == QLatin1String("heavy-borrow"))
        return std::make_unique<HeavyBorrowWorkload>(reader, firstCopy);
    if (name == QLatin1String("heavy-renew"))
        return std::make_unique<HeavyRenewWorkload>(reader, firstCopy);
    if (name == QLatin1String("heavy-loans"))
        return std::make_unique<HeavyLoansWorkload>(reader);
    return std::make_unique<HeavyHoldsWorkload>(connections, firstCopy);
}

HeavyBorrowWorkload::HeavyBorrowWorkload(const HeavyReader& reader, qint64 firstCopy)
    : m_reader(reader)
    , m_firstCopy(firstCopy)
{
}

QByteArray HeavyBorrowWorkload::request(int connection, int step)
{
    const qint64 index = m_reader.spareIndex(int(m_firstCopy + connection));
    if (step == 0) {
        BorrowBookQuery borrow;
        borrow.book = BookRecord::from(m_reader.catalogue().bookRecord(index));
        borrow.userId = HeavyReader::readerId();
        return Wire::encodeRequest(borrow);
    }
    return Wire::encodeRequest(CheckinBookQuery{SyntheticCatalogue::number(index)});
}

QString HeavyBorrowWorkload::fault(int, int step, const QList<QStringList>& frames) const
{
    if (step == 0)
        return expectWord(frames, Reply::BorrowBookSuccessfully);
    // Whose loan ended, not late, and nobody waits for the copy.
    if (frames.size() == 1 && frames.first().size() == 1 + CheckinRecord::Size) {
        const CheckinRecord checkin = CheckinRecord::from(frames.first().mid(1));
        if (Reply::wordOf(frames.first()) == Reply::ReturnBookSuccessfully && checkin.userId == HeavyReader::readerId()
            && checkin.daysOverdue == QLatin1String("0") && checkin.nextHolder.isEmpty())
            return {};
    }
    return QStringLiteral("check-in of the heavy reader's copy: %1").arg(describe(frames));
}

QString HeavyBorrowWorkload::stepCase(int step) const
{
    return step == 0 ? QStringLiteral("heavy-borrow") : QStringLiteral("heavy-checkin");
}

HeavyRenewWorkload::HeavyRenewWorkload(const HeavyReader& reader, qint64 firstCopy)
    : m_reader(reader)
    , m_next(firstCopy)
{
}

QByteArray HeavyRenewWorkload::request(int, int)
{
    // Loans in turn: no two connections renew the same one at once.
    const qint64 index = m_reader.loanIndex(int(m_next++ % HeavyReader::Loans));
    RenewBookQuery renew;
    renew.number = SyntheticCatalogue::number(index);
    renew.userId = HeavyReader::readerId();
    return Wire::encodeRequest(renew);
}

QString HeavyRenewWorkload::fault(int, int, const QList<QStringList>& frames) const
{
    if (frames.size() == 1 && frames.first().size() == 2
        && Reply::wordOf(frames.first()) == Reply::RenewBookSuccessfully)
        return {};
    return QStringLiteral("renewal: %1").arg(describe(frames));
}

HeavyLoansWorkload::HeavyLoansWorkload(const HeavyReader& reader)
    : m_reader(reader)
{
}

QByteArray HeavyLoansWorkload::request(int, int)
{
    return Wire::encodeRequest(UserLoansQuery{HeavyReader::readerId()});
}

QString HeavyLoansWorkload::fault(int, int, const QList<QStringList>& frames) const
{
    if (frames.size() != HeavyReader::Loans)
        return QStringLiteral("loans list: %1 rows, not %2; %3")
            .arg(frames.size())
            .arg(HeavyReader::Loans)
            .arg(describe(frames));
    QSet<QString> seen;
    seen.reserve(HeavyReader::Loans);
    for (const QStringList& frame : frames) {
        const bool mine = Reply::rowOf(frame, Reply::UserLoanRowSize) && m_reader.loanNumbers().contains(frame.at(5));
        if (!mine || seen.contains(frame.at(5)))
            return QStringLiteral("loans list: a row that is none of the reader's loans, or one twice: %1")
                .arg(frame.join(u'|').left(200));
        seen.insert(frame.at(5));
    }
    return {};
}

HeavyHoldsWorkload::HeavyHoldsWorkload(int connections, qint64 firstCopy)
    : m_next(firstCopy)
    , m_asked(size_t(connections))
{
}

QByteArray HeavyHoldsWorkload::request(int connection, int)
{
    const int place = int(m_next++ % HeavyReader::Holds) + 1;
    m_asked[size_t(connection)] = place;
    return Wire::encodeRequest(UserHoldsQuery{HeavyReader::waitingId(place)});
}

QString HeavyHoldsWorkload::fault(int connection, int, const QList<QStringList>& frames) const
{
    // One hold, on the copy the reader placed it on, waiting at the reader's place in the title's queue.
    const int place = m_asked[size_t(connection)];
    const HoldRecord expected{HeavyReader::titleCopy(place), HeavyReader::addTitle().title, QString::number(place),
                              BookState::queued(), QString()};
    if (frames.size() == 1 && frames.first() == expected.fields())
        return {};
    return QStringLiteral("holds of %1: %2").arg(HeavyReader::waitingId(place), describe(frames));
}
