#include "inventoryrequests.h"

#include "serverclock.h"
#include "storage.h"

#include <QSet>

namespace {

constexpr int ReportRows = 20000;
constexpr int ListRows = 200;
constexpr int MostNumbersAtOnce = 1000;
// Longer than any book number or stocktake name a library writes.
constexpr int LongestText = 200;

std::optional<qint64> inventoryId(const QString& text)
{
    bool ok = false;
    const qint64 id = text.trimmed().toLongLong(&ok);
    return ok && id > 0 ? std::optional<qint64>(id) : std::nullopt;
}

} // namespace

HandlerReply InventoryRequests::start(const InventoryStartQuery& query)
{
    InventoryRow inventory;
    inventory.name = query.name.trimmed();
    inventory.type = query.type.trimmed();
    inventory.numberPrefix = query.numberPrefix.trimmed();
    if (inventory.name.size() > LongestText || inventory.type.size() > LongestText
        || inventory.numberPrefix.size() > LongestText)
        return word(Refusal::RecordTooLong);
    return writeFrame(Reply::InventoryStarted, [&](Storage& storage) -> QStringList {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return {*refusal};
        Storage::WriteTransaction transaction(storage);
        inventory.startedAt = ServerClock::nowStamp();
        if (inventory.name.isEmpty())
            inventory.name = ServerClock::shown(inventory.startedAt).left(10);
        const std::optional<qint64> id = storage.insertInventory(inventory, callerId(storage));
        if (!id
            || !audit(storage,
                      {AuditAction::StartInventory,
                       {},
                       inventory.numberPrefix,
                       QStringLiteral("%1 (type '%2')").arg(inventory.name, inventory.type)})
            || !transaction.commit())
            return {};
        return {Reply::InventoryStarted, QString::number(*id)};
    });
}

HandlerReply InventoryRequests::scan(const InventoryScanQuery& query)
{
    const std::optional<qint64> id = inventoryId(query.inventoryId);
    const QString number = query.number.trimmed();
    return writeFrame(Reply::InventoryScanned, [&](Storage& storage) -> QStringList {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return {*refusal};
        Storage::WriteTransaction transaction(storage);
        const std::optional<InventoryRow> inventory = id ? storage.inventory(*id) : std::nullopt;
        if (!inventory)
            return {Wire::word(Refusal::NoSuchInventory)};
        // A scanner that misread gives nothing worth keeping.
        if (number.isEmpty() || number.size() > LongestText)
            return {Reply::InventoryScanned, QString(), ScanFinding::Unknown};
        if (!storage.lockBook(number))
            return {};
        const std::optional<BookRow> book = storage.book(number);
        const QLatin1String finding = !book ? ScanFinding::Unknown
            : book->lent                    ? ScanFinding::OnLoan
            : !inventory->covers(*book)     ? ScanFinding::Elsewhere
                                            : ScanFinding::Ok;
        const QString now = ServerClock::nowStamp();
        bool duplicate = false;
        if (!storage.recordScan(inventory->id, number, now, finding, &duplicate))
            return {};
        if (duplicate)
            return {Reply::InventoryScanned, book ? book->title : QString(), ScanFinding::Duplicate};
        // Seen on a shelf: a copy marked lost has turned up.
        if (book && !storage.markSeen(number, now))
            return {};
        if (book && book->lost
            && !audit(storage,
                      {AuditAction::MarkFound, {}, number, QStringLiteral("scanned in stocktake %1").arg(*id)}))
            return {};
        if (!transaction.commit())
            return {};
        return {Reply::InventoryScanned, book ? book->title : QString(), finding};
    });
}

HandlerReply InventoryRequests::report(const InventoryReportQuery& query)
{
    const std::optional<qint64> id = inventoryId(query.inventoryId);
    QList<InventoryFindingRow> findings;
    std::optional<QString> refusal;
    QString error;
    if (!read(
            [&](Storage& storage) {
                refusal = adminRefusal(storage);
                if (refusal)
                    return;
                const std::optional<InventoryRow> inventory = id ? storage.inventory(*id) : std::nullopt;
                if (!inventory)
                    refusal = Wire::word(Refusal::NoSuchInventory);
                else
                    findings = storage.inventoryFindings(*inventory, ReportRows);
            },
            &error))
        return serverError(QStringLiteral("database error: ") + error);
    if (refusal)
        return word(*refusal);
    return rowStream<InventoryFindingRow>(findings, [](const InventoryFindingRow& f) {
        return InventoryFindingRecord{f.book.number, f.book.title, f.known ? f.book.record().state : QString(),
                                      f.book.lastSeenAt.isEmpty() ? QString() : ServerClock::shown(f.book.lastSeenAt),
                                      f.finding}
            .fields();
    });
}

HandlerReply InventoryRequests::list(const InventoryListQuery&)
{
    QList<InventoryRow> inventories;
    std::optional<QString> refusal;
    QString error;
    if (!read(
            [&](Storage& storage) {
                refusal = adminRefusal(storage);
                if (!refusal)
                    inventories = storage.inventories(ListRows);
            },
            &error))
        return serverError(QStringLiteral("database error: ") + error);
    if (refusal)
        return word(*refusal);
    return rowStream<InventoryRow>(inventories, [](const InventoryRow& i) {
        return InventoryRecord{
            QString::number(i.id),     i.name, i.type, i.numberPrefix, ServerClock::shown(i.startedAt),
            QString::number(i.scanned)}
            .fields();
    });
}

HandlerReply InventoryRequests::markLost(const MarkLostQuery& query)
{
    return markAll(query.numbers, true);
}

HandlerReply InventoryRequests::markFound(const MarkFoundQuery& query)
{
    return markAll(query.numbers, false);
}

HandlerReply InventoryRequests::markAll(const QString& numbers, bool lost)
{
    QStringList list;
    QSet<QString> seen;
    for (const QString& part : numbers.split(QLatin1Char(','))) {
        const QString number = part.trimmed();
        if (!number.isEmpty() && !seen.contains(number)) {
            seen.insert(number);
            list.append(number);
        }
    }
    if (list.size() > MostNumbersAtOnce)
        return word(Refusal::TooManyNumbers);
    const QString success = lost ? Reply::MarkLostSuccessfully : Reply::MarkFoundSuccessfully;
    return writeFrame(success, [&](Storage& storage) -> QStringList {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return {*refusal};
        if (list.isEmpty())
            return {Wire::word(Refusal::NoSuchBook), QString()};
        Storage::WriteTransaction transaction(storage);
        const QString now = ServerClock::nowStamp();
        int changed = 0;
        for (const QString& number : std::as_const(list)) {
            if (!storage.lockBook(number))
                return {};
            const std::optional<BookRow> book = storage.book(number);
            if (!book)
                return {Wire::word(Refusal::NoSuchBook), number};
            // A copy a reader has is not missing from the shelf for lack of a check-in.
            if (lost && book->lent)
                return {Wire::word(Refusal::BookOnLoan), number};
            if (!lost && !book->lost)
                return {Wire::word(Refusal::BookNotLost), number};
            if (lost && book->lost)
                continue;
            if (!(lost ? storage.markLost(number, now) : storage.markSeen(number, now))
                || !audit(storage, {lost ? AuditAction::MarkLost : AuditAction::MarkFound, {}, number, book->title}))
                return {};
            ++changed;
        }
        if (!transaction.commit())
            return {};
        return {success, QString::number(changed)};
    });
}
