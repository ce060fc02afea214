#include "collectioncommands.h"

#include "collectionexport.h"
#include "collectionimport.h"
#include "databaseguard.h"
#include "passwordhasher.h"
#include "readertransfer.h"
#include "searchtext.h"
#include "serversettings.h"
#include "storage.h"

#include <QFile>
#include <QSaveFile>
#include <QUuid>

#include <cstdio>
#include <sys/stat.h>

namespace {

void say(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

void complain(const QString& text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// The database of server.ini, its schema brought up to date; nullptr (said why) when it cannot be used.
std::unique_ptr<Storage> openDatabase()
{
    QStringList problems;
    const ServerSettings settings = ServerSettings::load(QStringLiteral("server.ini"), &problems);
    for (const QString& problem : std::as_const(problems))
        complain(QStringLiteral("server.ini: ") + problem);
    const DatabaseGuard::Finding finding = DatabaseGuard::inspect(settings.database);
    if (finding.state == DatabaseGuard::State::Unusable) {
        complain(finding.message);
        return nullptr;
    }
    if (finding.state == DatabaseGuard::State::New)
        complain(finding.message);
    auto storage = std::make_unique<Storage>(settings.database,
                                             QStringLiteral("command-") + QUuid::createUuid().toString(QUuid::Id128));
    if (!storage->open() || !storage->migrate()) {
        complain(QStringLiteral("database %1: %2").arg(settings.database.location(), storage->lastError()));
        return nullptr;
    }
    return storage;
}

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    return file.readAll();
}

int importCatalogue(const QString& path, const QStringList& arguments)
{
    CollectionImport::Options options;
    options.dryRun = arguments.contains(QLatin1String("--dry-run"));
    options.update = arguments.contains(QLatin1String("--update"));
    if (const qsizetype at = arguments.indexOf(QLatin1String("--numbers")); at >= 0) {
        options.numberPrefix = arguments.value(at + 1);
        if (options.numberPrefix.isEmpty() || options.numberPrefix.startsWith(QLatin1String("--"))) {
            complain(QStringLiteral("--numbers needs a PREFIX"));
            return 2;
        }
    }
    const std::optional<QByteArray> contents = readFile(path);
    if (!contents)
        return 1;
    SearchText::warmUp();
    const std::unique_ptr<Storage> storage = openDatabase();
    if (!storage)
        return 1;
    const CollectionImport::Report report = CollectionImport::run(*storage, *contents, options);
    say(QStringLiteral("import of %1%2")
            .arg(path, options.dryRun ? QStringLiteral(" (dry run: nothing changed)") : QString()));
    say(report.text());
    return report.failure.isEmpty() ? 0 : 1;
}

int exportCatalogue(const QString& path)
{
    const std::optional<CollectionExport::Format> format = CollectionExport::formatFor(path);
    if (!format) {
        complain(QStringLiteral("%1: the name must end in .csv, .xml (MARCXML) or .mrc (ISO 2709)").arg(path));
        return 2;
    }
    const std::unique_ptr<Storage> storage = openDatabase();
    if (!storage)
        return 1;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        complain(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return 1;
    }
    int copies = 0, titles = 0;
    QString error;
    if (!CollectionExport::write(*storage, *format, file, &copies, &titles, &error) || !file.commit()) {
        complain(QStringLiteral("export to %1 failed: %2").arg(path, error.isEmpty() ? file.errorString() : error));
        return 1;
    }
    say(QStringLiteral("exported %1 copies (%2 records) to %3").arg(copies).arg(titles).arg(path));
    return 0;
}

int importReaders(const QString& path, const QStringList& arguments)
{
    ReaderTransfer::Options options;
    options.dryRun = arguments.contains(QLatin1String("--dry-run"));
    options.update = arguments.contains(QLatin1String("--update"));
    const std::optional<QByteArray> contents = readFile(path);
    if (!contents)
        return 1;
    if (!PasswordHasher::initialise()) {
        complain(QStringLiteral("cannot initialise libsodium"));
        return 1;
    }
    const std::unique_ptr<Storage> storage = openDatabase();
    if (!storage)
        return 1;
    PasswordHasher hasher;
    const ReaderTransfer::Report report = ReaderTransfer::import(*storage, hasher, *contents, options);
    say(QStringLiteral("import of %1%2")
            .arg(path, options.dryRun ? QStringLiteral(" (dry run: nothing changed)") : QString()));
    say(report.text());
    if (!report.failure.isEmpty())
        return 1;
    if (report.passwords.isEmpty())
        return 0;
    // The initial passwords, readable by this user only, for the library to hand out.
    const QString passwordsPath = path + QStringLiteral(".passwords.csv");
    const mode_t previous = ::umask(077);
    QSaveFile out(passwordsPath);
    bool written = out.open(QIODevice::WriteOnly);
    QByteArray text = "id,password\n";
    for (const auto& [id, password] : report.passwords)
        text += CollectionExport::csvField(id).toUtf8() + ',' + password.toUtf8() + '\n';
    written = written && out.write(text) == text.size()
        && out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) && out.commit();
    ::umask(previous);
    if (!written) {
        complain(QStringLiteral("%1: %2 (the accounts are stored; reset their passwords at the desk)")
                     .arg(passwordsPath, out.errorString()));
        return 1;
    }
    say(QStringLiteral("initial passwords written to %1 (they must be changed at the first login)").arg(passwordsPath));
    return 0;
}

int exportReaders(const QString& path)
{
    const std::unique_ptr<Storage> storage = openDatabase();
    if (!storage)
        return 1;
    QSaveFile file(path);
    int written = 0;
    QString error;
    if (!file.open(QIODevice::WriteOnly) || !ReaderTransfer::exportTo(*storage, file, &written, &error)
        || !file.commit()) {
        complain(QStringLiteral("export to %1 failed: %2").arg(path, error.isEmpty() ? file.errorString() : error));
        return 1;
    }
    say(QStringLiteral("exported %1 accounts to %2").arg(written).arg(path));
    return 0;
}

} // namespace

namespace CollectionCommands {

std::optional<int> run(const QStringList& arguments)
{
    const QStringList commands = {QStringLiteral("--import"), QStringLiteral("--export"),
                                  QStringLiteral("--import-readers"), QStringLiteral("--export-readers")};
    for (const QString& command : commands) {
        const qsizetype at = arguments.indexOf(command);
        if (at < 0)
            continue;
        const QString path = arguments.value(at + 1);
        if (path.isEmpty() || path.startsWith(QLatin1String("--"))) {
            complain(QStringLiteral("usage: server %1 FILE").arg(command));
            return 2;
        }
        if (command == commands[0])
            return importCatalogue(path, arguments);
        if (command == commands[1])
            return exportCatalogue(path);
        if (command == commands[2])
            return importReaders(path, arguments);
        return exportReaders(path);
    }
    return std::nullopt;
}

} // namespace CollectionCommands
