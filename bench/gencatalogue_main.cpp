// Writes a synthetic catalogue of N books for the server's seed import (CSV), or for `server --import`
// as MARC 21 in ISO 2709 (--marc: one record per book, its number as the holding's barcode).
#include "marcrecord.h"
#include "marctitle.h"
#include "syntheticcatalogue.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a catalogue CSV of N synthetic books."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("count"), QStringLiteral("Number of books: 10000, 10k, 1M..."));
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("CSV file to write."));
    const QCommandLineOption marc(QStringLiteral("marc"), QStringLiteral("Write MARC 21 (ISO 2709) instead of CSV."));
    parser.addOption(marc);
    parser.process(app);
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2)
        parser.showHelp(2);
    const qint64 count = SyntheticCatalogue::parseSize(arguments[0]);
    if (count < 0) {
        std::fprintf(stderr, "not a book count: %s\n", qPrintable(arguments[0]));
        return 2;
    }

    // Written aside and renamed at the end, so an interrupted run never leaves a short catalogue
    // that a later run would take for a whole one.
    QSaveFile file(arguments[1]);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(arguments[1]), qPrintable(file.errorString()));
        return 1;
    }
    const SyntheticCatalogue catalogue(count);
    const bool asMarc = parser.isSet(marc);
    QByteArray chunk = asMarc ? QByteArray() : SyntheticCatalogue::csvLine(SyntheticCatalogue::csvHeader());
    for (qint64 i = 0; i < count; ++i) {
        if (asMarc) {
            // The CSV row's fields: title, author, type, publisher, year, number, permission.
            const QStringList row = catalogue.csvRow(i);
            MarcTitle title;
            title.title = row.value(0);
            title.author = row.value(1);
            title.type = row.value(2);
            title.publisher = row.value(3);
            title.year = row.value(4);
            MarcRecord record = MarcTitle::recordOf(title, QString());
            record.fields.append(MarcTitle::holdingsField(MarcRecord::Syntax::Marc21, {row.value(5), row.value(6)}));
            chunk += record.toIso2709();
        } else {
            chunk += SyntheticCatalogue::csvLine(catalogue.csvRow(i));
        }
        if (chunk.size() > (1 << 20) || i + 1 == count) {
            if (file.write(chunk) != chunk.size())
                break;
            chunk.clear();
        }
    }
    if (!file.commit()) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(arguments[1]), qPrintable(file.errorString()));
        return 1;
    }
    std::printf(asMarc ? "wrote %lld MARC records to %s\n" : "wrote %lld books to %s\n", static_cast<long long>(count),
                qPrintable(arguments[1]));
    return 0;
}
