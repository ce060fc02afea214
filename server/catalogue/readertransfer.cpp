#include "readertransfer.h"

#include "accountfields.h"
#include "collectionexport.h"
#include "idlookalikes.h"
#include "levels.h"
#include "passwordhasher.h"
#include "serverclock.h"
#include "vocabulary.h"

#include <QHash>
#include <QSet>

#include <limits>

namespace {

const QStringList readerColumns = {QStringLiteral("id"),    QStringLiteral("name"),  QStringLiteral("studentNumber"),
                                   QStringLiteral("phone"), QStringLiteral("email"), QStringLiteral("level"),
                                   QStringLiteral("notes")};

// Cuts CSV text into records of fields (quotes as in the catalogue's CSV), each with its first line.
QList<std::pair<int, QStringList>> csvRecords(const QString& text)
{
    QList<std::pair<int, QStringList>> records;
    QStringList fields;
    QString field;
    bool quoted = false, started = false;
    int line = 1, recordLine = 1;
    const auto endRecord = [&] {
        fields.append(field);
        if (!(fields.size() == 1 && fields.first().trimmed().isEmpty()))
            records.append({recordLine, fields});
        fields.clear();
        field.clear();
        started = false;
        recordLine = line;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                line += c == QLatin1Char('\n') ? 1 : 0;
                field += c;
            }
        } else if (c == QLatin1Char('"') && !started && field.trimmed().isEmpty()) {
            quoted = started = true;
            field.clear();
        } else if (c == QLatin1Char(',')) {
            fields.append(field);
            field.clear();
            started = false;
        } else if (c == QLatin1Char('\n')) {
            ++line;
            endRecord();
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    if (!field.isEmpty() || !fields.isEmpty())
        endRecord();
    return records;
}

} // namespace

QString ReaderTransfer::Report::text() const
{
    QStringList lines;
    lines << QStringLiteral("records read: %1").arg(read) << QStringLiteral("accounts added: %1").arg(added)
          << QStringLiteral("skipped, the ID exists: %1").arg(skipped) << QStringLiteral("updated: %1").arg(updated)
          << QStringLiteral("refused: %1").arg(refused.size());
    for (const QString& why : refused)
        lines << QStringLiteral("  ") + why;
    if (!failure.isEmpty())
        lines << QStringLiteral("FAILED, nothing was changed: ") + failure;
    return lines.join(QLatin1Char('\n'));
}

ReaderTransfer::Report ReaderTransfer::import(Storage& storage, PasswordHasher& hasher, const QByteArray& csv,
                                              const Options& options)
{
    Report report;
    QString text = QString::fromUtf8(csv);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QList<std::pair<int, QStringList>> records = csvRecords(text);
    if (records.isEmpty()) {
        report.refused.append(QStringLiteral("line 1: no header row"));
        return report;
    }
    QList<int> position(readerColumns.size(), -1);
    const QStringList& header = records.first().second;
    for (int i = 0; i < header.size(); ++i) {
        for (int c = 0; c < readerColumns.size(); ++c) {
            if (header[i].trimmed().compare(readerColumns[c], Qt::CaseInsensitive) == 0)
                position[c] = i;
        }
    }
    if (position[0] < 0) {
        report.refused.append(QStringLiteral("line %1: the header must name the columns %2")
                                  .arg(records.first().first)
                                  .arg(readerColumns.join(QLatin1Char(','))));
        return report;
    }

    // Hashing a password costs tens of milliseconds: the new accounts' passwords are hashed before the
    // write lock is taken, so that the running server's changes wait for the import's rows only.
    QHash<QString, std::pair<QString, QString>> initial; // id: password, hash
    if (!options.dryRun) {
        for (qsizetype r = 1; r < records.size(); ++r) {
            const QString id =
                position[0] < records[r].second.size() ? records[r].second[position[0]].trimmed() : QString();
            if (id.isEmpty() || initial.contains(id) || storage.account(id))
                continue;
            const QString password = PasswordHasher::randomPassword();
            initial.insert(id, {password, hasher.hash(password)});
        }
    }

    Storage::WriteTransaction transaction(storage);
    if (!transaction.isOpen()) {
        report.failure = storage.lastError();
        return report;
    }
    QSet<QString> seen;
    for (qsizetype r = 1; r < records.size() && !storage.failed(); ++r) {
        const auto& [line, fields] = records[r];
        ++report.read;
        const auto refuse = [&, line = line](const QString& why) {
            report.refused.append(QStringLiteral("line %1: %2").arg(line).arg(why));
        };
        if (fields.size() != header.size()) {
            refuse(QStringLiteral("%1 fields, the header has %2").arg(fields.size()).arg(header.size()));
            continue;
        }
        const auto field = [&, &fields = fields](int c) {
            return position[c] < 0 ? QString() : fields[position[c]].trimmed();
        };
        AccountRow account;
        account.id = field(0);
        account.name = field(1);
        account.studentNumber = field(2);
        account.phone = field(3);
        account.email = field(4);
        account.info = field(6);
        account.level = field(5).isEmpty() ? Levels::englishName(Levels::Undergraduate) : field(5);
        const int level = Levels::code(account.level);
        if (level < Levels::Undergraduate || level >= Levels::Administrator) {
            refuse(QStringLiteral("level \"%1\" cannot be given by a file (Undergraduate, Postgraduate or VIP)")
                       .arg(account.level));
            continue;
        }
        // The rule of registration, with a stand-in for the password the server makes.
        if (const std::optional<AccountFields::Finding> finding =
                AccountFields::registrationProblem(account.id, QStringLiteral("placeholder"), account.name,
                                                   account.studentNumber, account.phone, account.email, account.info)) {
            refuse(AccountFields::describe(*finding));
            continue;
        }
        if (seen.contains(account.id)) {
            refuse(QStringLiteral("ID %1 appears twice").arg(account.id));
            continue;
        }
        seen.insert(account.id);
        const std::optional<AccountRow> existing = storage.account(account.id);
        if (existing) {
            if (!options.update) {
                ++report.skipped;
                continue;
            }
            if (!account.studentNumber.isEmpty() && account.studentNumber != existing->studentNumber
                && storage.studentNumberTaken(account.studentNumber)) {
                refuse(QStringLiteral("student number %1 is another account's").arg(account.studentNumber));
                continue;
            }
            if (storage.editAccount(account.id, account.name, account.studentNumber, account.phone, account.email,
                                    account.info))
                ++report.updated;
            continue;
        }
        if (IdLookalikes::isSuspicious(account.id) || storage.idLookalikeExists(account.id)) {
            refuse(QStringLiteral("ID %1 mixes scripts or looks like an existing one").arg(account.id));
            continue;
        }
        if (!account.studentNumber.isEmpty() && storage.studentNumberTaken(account.studentNumber)) {
            refuse(QStringLiteral("student number %1 is another account's").arg(account.studentNumber));
            continue;
        }
        // A dry run spends no hashes: nothing is stored.
        const auto [password, hash] = initial.value(account.id);
        account.passwordHash = options.dryRun ? QStringLiteral("dry-run") : hash;
        account.mustChangePassword = true;
        account.registeredFrom = QStringLiteral("server --import-readers");
        if (account.passwordHash.isEmpty()) {
            report.failure = QStringLiteral("out of memory while hashing a password");
            break;
        }
        if (!storage.insertAccount(account))
            break;
        report.passwords.append({account.id, password});
        ++report.added;
    }
    if (report.failure.isEmpty() && !storage.failed() && !options.dryRun)
        storage.appendAudit({ServerClock::nowStamp(), QString(), QStringLiteral("server --import-readers"),
                             Wire::word(AuditAction::ImportReaders), QString(), QString(),
                             QStringLiteral("%1 added, %2 updated, %3 refused")
                                 .arg(report.added)
                                 .arg(report.updated)
                                 .arg(report.refused.size())});
    if (report.failure.isEmpty() && storage.failed())
        report.failure = storage.lastError();
    if (report.failure.isEmpty() && !options.dryRun && !transaction.commit())
        report.failure = storage.lastError();
    if (!report.failure.isEmpty() || options.dryRun)
        report.passwords.clear();
    if (!report.failure.isEmpty())
        report.added = report.updated = 0;
    return report;
}

bool ReaderTransfer::exportTo(Storage& storage, QIODevice& out, int* written, QString* error)
{
    *written = 0;
    QByteArray text = readerColumns.join(QLatin1Char(',')).toUtf8() + '\n';
    for (const AccountRow& a : storage.searchAccounts(QString(), std::numeric_limits<int>::max())) {
        QStringList fields;
        for (const QString& f : {a.id, a.name, a.studentNumber, a.phone, a.email, a.level, a.info})
            fields.append(CollectionExport::csvField(f));
        text += fields.join(QLatin1Char(',')).toUtf8() + '\n';
        ++*written;
    }
    if (storage.failed()) {
        *error = storage.lastError();
        return false;
    }
    if (out.write(text) != text.size()) {
        *error = out.errorString();
        return false;
    }
    return true;
}
