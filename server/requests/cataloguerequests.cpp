#include "cataloguerequests.h"

#include "cataloguelookup.h"
#include "serversettings.h"

// The most characters of a title looked for.
constexpr int MaxLookupText = 200;

HandlerReply CatalogueRequests::lookup(const CatalogueLookupQuery& query)
{
    bool staff = false;
    QString error;
    if (!read([&](Storage& storage) { staff = !adminRefusal(storage); }, &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    if (!staff)
        return refusedStream(Refusal::AdminRequired);
    const QString text = query.text.simplified();
    if (text.isEmpty() || text.size() > MaxLookupText)
        return refusedStream(QStringLiteral("an empty or overlong text"));
    const ServerSettings& settings = context().settings;
    // No database connection is held while the targets answer: this thread waits alone.
    const CatalogueLookup::Result result =
        CatalogueLookup::find(CatalogueLookup::targetsFrom(settings.cataloguingTargets), text,
                              settings.cataloguingTimeoutSeconds, settings.cataloguingMaxRecords);
    if (!result.answered) {
        const QString why = result.errors.isEmpty() ? QStringLiteral("no [cataloguing] targets are set")
                                                    : result.errors.join(QStringLiteral("; "));
        return {{Reply::row({Wire::word(Refusal::CatalogueUnreachable), why.left(2000)})},
                Wire::word(Refusal::CatalogueUnreachable) + QStringLiteral(" (") + why + QLatin1Char(')')};
    }
    HandlerReply reply =
        rowStream<CatalogueRecord>(result.records, [](const CatalogueRecord& r) { return r.fields(); });
    if (!result.errors.isEmpty())
        reply.outcome += QStringLiteral(" (") + result.errors.join(QStringLiteral("; ")) + QLatin1Char(')');
    return reply;
}
