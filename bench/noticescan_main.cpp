// How long a notice scan takes on a large library, and what it does to book-number lookups meanwhile.
//   noticescan [BOOKS] [LOANS]     (defaults 1000000 and 100000) in a temporary SQLite database
// Loans fall due spread over 120 days around now (about half overdue, a few due soon), ten per reader.
// Prints the time of a first scan (which queues everything due), of a second one (which finds it all
// queued), and the lookup rate of one reader thread with no scan and during scans; then the same
// figures as one line of key=value pairs, for bench/run.
#include "databasepool.h"
#include "noticeservice.h"
#include "serverclock.h"
#include "storage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

double lookupsPerSecond(DatabasePool& pool, qint64 books, const std::function<void()>& meanwhile)
{
    std::atomic<bool> stop{false};
    std::atomic<qint64> done{0};
    std::thread reader([&] {
        quint64 i = 0;
        while (!stop) {
            pool.read([&](Storage& s) { s.book(QStringLiteral("B%1").arg(qint64((i++ * 7919) % quint64(books)))); });
            ++done;
        }
    });
    QElapsedTimer timer;
    timer.start();
    meanwhile();
    const qint64 ms = std::max<qint64>(timer.elapsed(), 1);
    stop = true;
    reader.join();
    return double(done) * 1000.0 / double(ms);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 books = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    const qint64 loans = std::min(books, argc > 2 ? QByteArray(argv[2]).toLongLong() : 100000);
    QTemporaryDir dir;
    DatabaseSettings settings;
    settings.name = dir.filePath(QStringLiteral("bench.db"));
    DatabasePool pool(settings);
    QString error;
    if (!pool.start(&error)) {
        std::fprintf(stderr, "cannot open the database: %s\n", qPrintable(error));
        return 1;
    }
    QElapsedTimer load;
    load.start();
    const QDateTime now = ServerClock::nowUtc();
    pool.write([&](Storage& s) {
        Storage::WriteTransaction transaction(s);
        const std::optional<QStringList> indexes = s.suspendBookIndexes();
        for (qint64 i = 0; i < books; ++i)
            s.insertBook({QStringLiteral("Book %1").arg(i), QStringLiteral("Author %1").arg(i % 5000),
                          QStringLiteral("Type"), QStringLiteral("Press"), QStringLiteral("2000"),
                          QStringLiteral("B%1").arg(i), QStringLiteral("Undergraduate")});
        if (indexes)
            s.restoreBookIndexes(*indexes);
        for (qint64 r = 0; r < (loans + 9) / 10; ++r)
            s.insertAccount({QStringLiteral("r%1").arg(r),
                             QStringLiteral("Reader %1").arg(r),
                             QStringLiteral("Undergraduate"),
                             QStringLiteral("x"),
                             {},
                             {},
                             QStringLiteral("r%1@example.org").arg(r),
                             {},
                             false,
                             ServerClock::stamp(now),
                             {}});
        for (qint64 i = 0; i < loans; ++i)
            s.insertLoan(QStringLiteral("B%1").arg(i), QStringLiteral("r%1").arg(i / 10), ServerClock::stamp(now),
                         ServerClock::stamp(now.addDays(i % 120 - 60).addSecs(3600)));
        transaction.commit();
    });
    std::printf("loaded %lld books, %lld loans in %.1f s\n", books, loans, load.elapsed() / 1000.0);

    NoticeSettings notices;
    const auto quiet = [](const QString&) {};
    const double idle = lookupsPerSecond(pool, books, [] { std::this_thread::sleep_for(std::chrono::seconds(2)); });
    qint64 firstMs = 0, secondMs = 0;
    const double during = lookupsPerSecond(pool, books, [&] {
        QElapsedTimer t;
        t.start();
        NoticeService::scan(pool, notices, quiet);
        firstMs = t.restart();
        NoticeService::scan(pool, notices, quiet);
        secondMs = t.elapsed();
    });
    qint64 queued = 0;
    pool.read([&](Storage& s) { queued = s.notices({QString(), QString(), QString(), QString()}, 10000000).size(); });
    std::printf("first scan %lld ms (%lld notices queued), second scan %lld ms\n", firstMs, queued, secondMs);
    std::printf("lookups/s of one reader: %.0f without a scan, %.0f during the two scans\n", idle, during);
    std::printf("label=notices books=%lld loans=%lld first_scan_ms=%lld queued=%lld second_scan_ms=%lld "
                "lookups_idle=%.0f lookups_during=%.0f\n",
                books, loans, firstMs, queued, secondMs, idle, during);
    pool.stop();
    return 0;
}
