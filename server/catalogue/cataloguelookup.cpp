#include "cataloguelookup.h"

#include "isbn.h"
#include "marcrecord.h"
#include "marctitle.h"

#include <yaz/zoom.h>

namespace {

// A PQF or CQL term in quotes.
QByteArray quoted(const QString& text)
{
    QString term = text;
    term.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    term.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return '"' + term.toUtf8() + '"';
}

struct Options {
    ZOOM_options o = ZOOM_options_create();
    ~Options() { ZOOM_options_destroy(o); }
    void set(const char* name, const QByteArray& value) { ZOOM_options_set(o, name, value.constData()); }
};
struct Connection {
    ZOOM_connection c;
    explicit Connection(ZOOM_options options)
        : c(ZOOM_connection_create(options))
    {
    }
    ~Connection() { ZOOM_connection_destroy(c); }
    // "why", or an empty string when the last operation succeeded.
    QString error() const
    {
        const char* message = nullptr;
        const char* detail = nullptr;
        if (ZOOM_connection_error(c, &message, &detail) == ZOOM_ERROR_NONE)
            return QString();
        QString why = QString::fromUtf8(message ? message : "error");
        if (detail && *detail)
            why += QStringLiteral(" (") + QString::fromUtf8(detail) + QLatin1Char(')');
        return why;
    }
};
struct Query {
    ZOOM_query q = ZOOM_query_create();
    ~Query() { ZOOM_query_destroy(q); }
};
struct ResultSet {
    ZOOM_resultset r = nullptr;
    ~ResultSet() { ZOOM_resultset_destroy(r); }
};

// The record's syntax by its own shape when that is plain (a title in 245 or in 200): targets send
// UNIMARC records under the syntax asked for. Otherwise as the target reports it.
MarcRecord::Syntax syntaxOf(ZOOM_record record, const MarcRecord& marc)
{
    if (marc.hasField(QStringLiteral("245")) != marc.hasField(QStringLiteral("200")))
        return marc.shapeSyntax();
    const char* reported = ZOOM_record_get(record, "syntax", nullptr);
    const QString syntax = QString::fromLatin1(reported ? reported : "").toLower();
    if (syntax.contains(QLatin1String("unimarc")))
        return MarcRecord::Syntax::Unimarc;
    if (syntax.contains(QLatin1String("usmarc")) || syntax.contains(QLatin1String("marc21")))
        return MarcRecord::Syntax::Marc21;
    return marc.shapeSyntax();
}

std::optional<MarcRecord> marcOf(ZOOM_record record)
{
    int length = 0;
    const char* raw = ZOOM_record_get(record, "raw", &length);
    if (!raw || length <= 0)
        return std::nullopt;
    const QByteArray bytes(raw, length);
    if (bytes.trimmed().startsWith('<')) {
        const QList<MarcXmlEntry> entries = readMarcXml(bytes);
        if (entries.isEmpty() || !entries.first().record)
            return std::nullopt;
        return entries.first().record;
    }
    QString error;
    return MarcRecord::fromIso2709(bytes, &error);
}

// Searches one target; the records it has, or nullopt with why when it did not answer.
std::optional<QList<CatalogueRecord>> ask(const CatalogueLookup::Target& target, const QString& text,
                                          int timeoutSeconds, int maxRecords, QString* why)
{
    Options options;
    options.set("timeout", QByteArray::number(timeoutSeconds));
    options.set("preferredRecordSyntax", "usmarc");
    options.set("elementSetName", "F");
    options.set("count", QByteArray::number(maxRecords));
    if (target.sru) {
        options.set("sru", "get");
        options.set("schema", "marcxml");
    }
    Connection connection(options.o);
    ZOOM_connection_connect(connection.c, target.address.toUtf8().constData(), 0);
    if (const QString error = connection.error(); !error.isEmpty()) {
        *why = error;
        return std::nullopt;
    }
    const std::optional<QString> isbn = Isbn::normalised(text);
    // Catalogues hold the ISBN as printed: ISBN-13, or ISBN-10 for books from before 2007.
    QList<QByteArray> pqf, cql;
    if (isbn) {
        QString digits = text;
        digits.remove(QLatin1Char('-')).remove(QLatin1Char(' '));
        pqf << "@attr 1=7 " + isbn->toLatin1();
        cql << "bath.isbn=" + isbn->toLatin1();
        if (digits != *isbn) {
            pqf << "@attr 1=7 " + digits.toLatin1();
            cql << "bath.isbn=" + digits.toLatin1();
        }
    } else {
        pqf << "@attr 1=4 " + quoted(text.simplified());
        cql << "dc.title=" + quoted(text.simplified());
    }
    QList<CatalogueRecord> found;
    QString lastError;
    bool searched = false;
    for (qsizetype i = 0; i < pqf.size() && found.isEmpty(); ++i) {
        ResultSet results;
        // SRU is asked in CQL first; a server that does not map the index is asked in PQF.
        if (target.sru) {
            Query query;
            ZOOM_query_cql(query.q, cql[i].constData());
            results.r = ZOOM_connection_search(connection.c, query.q);
            lastError = connection.error();
        }
        // A CQL index the server does not map may find nothing instead of failing: PQF then.
        if (target.sru && lastError.isEmpty() && ZOOM_resultset_size(results.r) == 0)
            lastError = QStringLiteral("no hits in CQL");
        if (!target.sru || !lastError.isEmpty()) {
            ZOOM_resultset_destroy(results.r);
            Query query;
            if (ZOOM_query_prefix(query.q, pqf[i].constData()) != 0) {
                *why = QStringLiteral("cannot form the query");
                return std::nullopt;
            }
            results.r = ZOOM_connection_search(connection.c, query.q);
            lastError = connection.error();
        }
        if (!lastError.isEmpty())
            continue;
        searched = true;
        const size_t size = std::min<size_t>(ZOOM_resultset_size(results.r), size_t(maxRecords));
        for (size_t at = 0; at < size; ++at) {
            ZOOM_record record = ZOOM_resultset_record(results.r, at);
            if (!record)
                break;
            const std::optional<MarcRecord> marc = marcOf(record);
            if (!marc)
                continue;
            const MarcTitle title = MarcTitle::from(*marc, syntaxOf(record, *marc));
            if (title.title.isEmpty())
                continue;
            const QString recordIsbn = Isbn::normalised(title.isbnText).value_or(title.isbnText);
            found.append({title.title, title.author, title.type, title.publisher, title.year, recordIsbn, target.name});
        }
        if (const QString error = connection.error(); !error.isEmpty() && found.isEmpty()) {
            lastError = error;
            searched = false;
        }
    }
    if (!searched) {
        *why = lastError;
        return std::nullopt;
    }
    return found;
}

} // namespace

QList<CatalogueLookup::Target> CatalogueLookup::targetsFrom(const QString& setting)
{
    QList<Target> targets;
    for (const QString& part : setting.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = part.trimmed();
        if (name.isEmpty())
            continue;
        Target target{name, name, false};
        if (name.startsWith(QLatin1String("sru:"), Qt::CaseInsensitive)) {
            target.address = name.mid(4).trimmed();
            target.sru = true;
        }
        targets.append(target);
    }
    return targets;
}

CatalogueLookup::Result CatalogueLookup::find(const QList<Target>& targets, const QString& text, int timeoutSeconds,
                                              int maxRecords)
{
    Result result;
    for (const Target& target : targets) {
        QString why;
        const std::optional<QList<CatalogueRecord>> records = ask(target, text, timeoutSeconds, maxRecords, &why);
        if (!records) {
            result.errors.append(target.name + QStringLiteral(": ") + why);
            continue;
        }
        result.answered = true;
        if (!records->isEmpty()) {
            result.records = *records;
            break;
        }
    }
    return result;
}
