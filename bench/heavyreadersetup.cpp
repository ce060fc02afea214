#include "heavyreadersetup.h"

#include "levels.h"
#include "loadgenerator.h"
#include "messages.h"

namespace {

// The load generator's concurrency; phases of independent requests need no more.
constexpr int SetupConnections = 16;

} // namespace

RequestListWorkload::RequestListWorkload(QList<Item> items, int connections)
    : m_items(std::move(items))
    , m_sent(size_t(connections))
{
}

QByteArray RequestListWorkload::request(int connection, int)
{
    m_sent[size_t(connection)] = m_next;
    return m_items.at(m_next++ % m_items.size()).request;
}

QString RequestListWorkload::fault(int connection, int, const QList<QStringList>& frames) const
{
    return expectWord(frames, m_items.at(m_sent[size_t(connection)] % m_items.size()).word);
}

HeavyReaderSetup::HeavyReaderSetup(const HeavyReader& reader, quint16 port)
    : m_reader(reader)
    , m_port(port)
{
}

bool HeavyReaderSetup::done()
{
    HeavyLoansWorkload loans(m_reader);
    LoadGenerator::Options options;
    options.port = m_port;
    options.connections = 1;
    options.maxOperations = 1;
    return LoadGenerator(loans, options).run().operations == 1;
}

bool HeavyReaderSetup::runPhase(const QString& what, const QList<RequestListWorkload::Item>& items, int connections,
                                QString* why)
{
    connections = int(qMin<qsizetype>(connections, items.size()));
    RequestListWorkload workload(items, connections);
    LoadGenerator::Options options;
    options.port = m_port;
    options.connections = connections;
    options.maxOperations = items.size();
    options.seconds = 3600;
    const LoadGenerator::Result result = LoadGenerator(workload, options).run();
    if (result.operations == items.size())
        return true;
    *why = QStringLiteral("%1: %2 of %3 done; %4")
               .arg(what)
               .arg(result.operations)
               .arg(items.size())
               .arg(result.firstFault);
    return false;
}

bool HeavyReaderSetup::run(QString* why)
{
    if (!m_reader.fits()) {
        *why = QStringLiteral("the catalogue is too small for the heavy reader (%1 books at least)")
                   .arg(HeavyReader::MinCatalogue);
        return false;
    }
    QStringList readers{HeavyReader::readerId(), HeavyReader::lenderId()};
    for (int place = 1; place <= HeavyReader::Holds; ++place)
        readers.append(HeavyReader::waitingId(place));

    QList<RequestListWorkload::Item> registrations;
    for (const QString& id : readers) {
        UserRegisterQuery query;
        query.userId = id;
        query.password = HeavyReader::password();
        query.name = QStringLiteral("Reader ") + id;
        registrations.append({Wire::encodeRequest(query), Reply::RegisterSuccessfully});
    }
    if (!runPhase(QStringLiteral("registering the readers"), registrations, SetupConnections, why))
        return false;

    // Confirmed by raising them from Guest one level at a time: the waiting readers to Undergraduate,
    // the reader and the lender to the level whose loan limit the bench server lifts.
    for (QString level = Levels::englishName(Levels::Guest); level != HeavyReader::readerLevel();
         level = Levels::raised(level)) {
        QList<RequestListWorkload::Item> raises;
        for (const QString& id : readers) {
            const bool borrower = id == HeavyReader::readerId() || id == HeavyReader::lenderId();
            if (borrower || Levels::code(level) == Levels::Guest)
                raises.append({Wire::encodeRequest(EscalateUserQuery{{id, Levels::toChinese(level)}}),
                               Reply::EscalateUserSuccessfully});
        }
        if (!runPhase(QStringLiteral("confirming the readers"), raises, SetupConnections, why))
            return false;
    }

    if (!runPhase(QStringLiteral("adding the title"),
                  {{Wire::encodeRequest(HeavyReader::addTitle()), Reply::AddBookSuccessfully}}, 1, why))
        return false;

    QList<RequestListWorkload::Item> loans;
    for (int i = 1; i <= HeavyReader::TitleCopies; ++i)
        loans.append({Wire::encodeRequest(BorrowBookQuery{HeavyReader::titleRecord(i), HeavyReader::lenderId()}),
                      Reply::BorrowBookSuccessfully});
    for (int i = 0; i < HeavyReader::Loans; ++i) {
        const BookRecord copy = BookRecord::from(m_reader.catalogue().bookRecord(m_reader.loanIndex(i)));
        loans.append(
            {Wire::encodeRequest(BorrowBookQuery{copy, HeavyReader::readerId()}), Reply::BorrowBookSuccessfully});
    }
    if (!runPhase(QStringLiteral("lending the copies"), loans, SetupConnections, why))
        return false;

    // One after another: the queue is in the order the holds were placed.
    QList<RequestListWorkload::Item> holds;
    for (int place = 1; place <= HeavyReader::Holds; ++place)
        holds.append(
            {Wire::encodeRequest(PlaceHoldQuery{{HeavyReader::titleCopy(place), HeavyReader::waitingId(place)}}),
             Reply::PlaceHoldSuccessfully});
    return runPhase(QStringLiteral("placing the holds"), holds, 1, why);
}
