#include "postgresstatements.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <vector>

namespace {

// Type OIDs of the columns the schema uses (pg_type.dat).
enum : Oid {
    BoolOid = 16,
    ByteaOid = 17,
    Int8Oid = 20,
    Int2Oid = 21,
    Int4Oid = 23,
    OidOid = 26,
    Float4Oid = 700,
    Float8Oid = 701,
    NumericOid = 1700,
};

// A row of a result in text format, with values as the SQLite side gives them: whole numbers as
// qlonglong, text as QString, bytes as QByteArray, NULL as a null variant.
class PostgresRow final : public SqlRow
{
public:
    PostgresRow(const PGresult* result, int row)
        : m_result(result)
        , m_row(row)
    {
    }

    QVariant value(int column) const override
    {
        if (column < 0 || column >= PQnfields(m_result) || PQgetisnull(m_result, m_row, column))
            return QVariant();
        const char* text = PQgetvalue(m_result, m_row, column);
        const int length = PQgetlength(m_result, m_row, column);
        switch (PQftype(m_result, column)) {
        case BoolOid:
            return text[0] == 't';
        case Int2Oid:
        case Int4Oid:
        case Int8Oid:
        case OidOid:
            return qlonglong(std::strtoll(text, nullptr, 10));
        case Float4Oid:
        case Float8Oid:
            return std::strtod(text, nullptr);
        case NumericOid: {
            // A sum of whole numbers is numeric too; keep it whole when it is.
            const QByteArray digits(text, length);
            bool whole = false;
            const qlonglong number = digits.toLongLong(&whole);
            return whole ? QVariant(number) : QVariant(digits.toDouble());
        }
        case ByteaOid: {
            size_t size = 0;
            unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &size);
            const QByteArray copy(reinterpret_cast<const char*>(bytes), qsizetype(size));
            PQfreemem(bytes);
            return copy;
        }
        default:
            return QString::fromUtf8(text, length);
        }
    }

private:
    const PGresult* m_result;
    int m_row;
};

// Owns a PGresult.
struct ResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// The values as libpq takes them: text for everything but bytes, which go as binary.
class BoundValues
{
public:
    explicit BoundValues(const QVariantList& values)
    {
        const auto count = size_t(values.size());
        m_texts.resize(count);
        m_pointers.resize(count, nullptr);
        m_lengths.resize(count, 0);
        m_formats.resize(count, 0);
        for (size_t i = 0; i < count; ++i) {
            const QVariant& value = values[qsizetype(i)];
            QByteArray& text = m_texts[i];
            using Kind = PreparedStatements::ValueKind;
            switch (PreparedStatements::kindOf(value)) {
            case Kind::Null:
                continue;
            case Kind::Whole: // a bool as 1 or 0, which both integer and boolean columns take
                text = QByteArray::number(value.toLongLong());
                break;
            case Kind::Real:
                text = QByteArray::number(value.toDouble(), 'g', 17);
                break;
            case Kind::Bytes:
                text = value.toByteArray();
                m_formats[i] = 1;
                break;
            case Kind::Text:
                text = value.toString().toUtf8(); // a null QString becomes empty text
                break;
            }
            m_pointers[i] = text.constData();
            m_lengths[i] = int(text.size());
        }
    }

    int count() const { return int(m_pointers.size()); }
    const char* const* pointers() const { return m_pointers.data(); }
    const int* lengths() const { return m_lengths.data(); }
    const int* formats() const { return m_formats.data(); }

private:
    std::vector<QByteArray> m_texts;
    std::vector<const char*> m_pointers;
    std::vector<int> m_lengths;
    std::vector<int> m_formats;
};

// The statement with its "?" parameters numbered as PostgreSQL writes them ($1, $2, ...); a "?"
// inside a quoted string, a quoted name or a comment stays.
QByteArray numberedParameters(const QString& sql)
{
    const QByteArray text = sql.toUtf8();
    QByteArray out;
    out.reserve(text.size() + 16);
    int number = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            // A quoted string or name, with the quote doubled inside it; E'...' also escapes with '\'.
            const bool backslashes = c == '\'' && i > 0 && (text[i - 1] == 'E' || text[i - 1] == 'e');
            out += c;
            for (++i; i < n; ++i) {
                out += text[i];
                if (backslashes && text[i] == '\\' && i + 1 < n) {
                    out += text[++i];
                } else if (text[i] == c) {
                    if (i + 1 < n && text[i + 1] == c)
                        out += text[++i];
                    else
                        break;
                }
            }
        } else if (c == '-' && i + 1 < n && text[i + 1] == '-') {
            const qsizetype end = text.indexOf('\n', i);
            const qsizetype stop = end < 0 ? n : end;
            out += text.mid(i, stop - i);
            i = stop - 1;
        } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
            const qsizetype end = text.indexOf("*/", i + 2);
            const qsizetype stop = end < 0 ? n : end + 2;
            out += text.mid(i, stop - i);
            i = stop - 1;
        } else if (c == '?') {
            out += '$';
            out += QByteArray::number(++number);
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

PostgresStatements::PostgresStatements(pg_conn* handle)
    : m_handle(handle)
{
}

QString PostgresStatements::errorText() const
{
    return QString::fromUtf8(PQerrorMessage(m_handle)).trimmed();
}

const PostgresStatements::Statement* PostgresStatements::prepared(const QString& sql, Failure* failure)
{
    if (const auto it = m_statements.find(sql); it != m_statements.end())
        return &it->second;
    Statement statement;
    statement.text = numberedParameters(sql);
    // A statement that matches text is planned for the text it is given: a plan made for no text in
    // particular either walks a million titles or sorts a hundred thousand matches. Every other one is
    // prepared once, and PostgreSQL keeps a plan for it after a few runs.
    if (sql.contains(QLatin1String("LIKE")) || sql.contains(QLatin1String("@>")))
        return &m_statements.emplace(sql, std::move(statement)).first->second;
    statement.name = QByteArrayLiteral("library_") + QByteArray::number(++m_serial);
    // No parameter types: PostgreSQL infers each from where it stands, as it does for a PREPARE.
    const Result result(PQprepare(m_handle, statement.name.constData(), statement.text.constData(), 0, nullptr));
    if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
        *failure = {QStringLiteral("prepare"),
                    (result ? QString::fromUtf8(PQresultErrorMessage(result.get())).trimmed() : errorText())
                        + QStringLiteral(" in ") + sql};
        return nullptr;
    }
    return &m_statements.emplace(sql, std::move(statement)).first->second;
}

bool PostgresStatements::run(const QString& sql, const QVariantList& values, const RowHandler* row, int* rowsAffected,
                             Failure* failure)
{
    if (rowsAffected)
        *rowsAffected = 0;
    const Statement* statement = prepared(sql, failure);
    if (!statement)
        return false;
    const BoundValues bound(values);
    const int sent = statement->name.isEmpty()
        ? PQsendQueryParams(m_handle, statement->text.constData(), bound.count(), nullptr, bound.pointers(),
                            bound.lengths(), bound.formats(), 0)
        : PQsendQueryPrepared(m_handle, statement->name.constData(), bound.count(), bound.pointers(), bound.lengths(),
                              bound.formats(), 0);
    if (!sent) {
        *failure = {QStringLiteral("query"), errorText() + QStringLiteral(" in ") + sql};
        return false;
    }
    if (row)
        PQsetSingleRowMode(m_handle);
    // Every result is read, also after a failure: the connection takes no other query until then.
    bool ok = true;
    while (const Result result{PQgetResult(m_handle)}) {
        const PGresult* r = result.get();
        switch (PQresultStatus(r)) {
        case PGRES_SINGLE_TUPLE:
        case PGRES_TUPLES_OK:
            for (int i = 0; ok && row && i < PQntuples(r); ++i)
                (*row)(PostgresRow(r, i));
            [[fallthrough]];
        case PGRES_COMMAND_OK:
            if (rowsAffected && *PQcmdTuples(const_cast<PGresult*>(r)))
                *rowsAffected = std::atoi(PQcmdTuples(const_cast<PGresult*>(r)));
            break;
        default:
            if (ok)
                *failure = {QStringLiteral("query"),
                            QString::fromUtf8(PQresultErrorMessage(r)).trimmed() + QStringLiteral(" in ") + sql};
            ok = false;
            break;
        }
    }
    if (!ok && rowsAffected)
        *rowsAffected = 0;
    return ok;
}

bool PostgresStatements::execute(const QString& sql, Failure* failure)
{
    const QByteArray text = sql.toUtf8();
    const Result result(PQexec(m_handle, text.constData()));
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        *failure = {QStringLiteral("query"),
                    (result ? QString::fromUtf8(PQresultErrorMessage(result.get())).trimmed() : errorText())
                        + QStringLiteral(" in ") + sql};
        return false;
    }
    // A COMMIT of a transaction in which a statement failed rolls back and still reports success.
    if (qstrcmp(PQcmdStatus(result.get()), "ROLLBACK") == 0 && !sql.startsWith(QLatin1String("ROLLBACK"))) {
        *failure = {QStringLiteral("commit"), QStringLiteral("the transaction was rolled back")};
        return false;
    }
    return true;
}
