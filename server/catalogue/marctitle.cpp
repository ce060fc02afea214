#include "marctitle.h"

#include <QRegularExpression>

namespace {

// A heading without the ISBD punctuation that joins it to the next element.
QString clean(QString text)
{
    static const QRegularExpression trailing(QStringLiteral("[\\s/:;,=.]+$"));
    // MARC-8 and many catalogues write accents as combining marks: stored composed (NFC), as typed.
    text = text.normalized(QString::NormalizationForm_C).simplified();
    // An initial's or abbreviation's full stop ("Jr.") is part of it; a lone trailing one is not.
    text.remove(trailing);
    return text;
}

QString firstOf(const MarcRecord& record, const QList<std::pair<const char*, const char*>>& places)
{
    for (const auto& [tag, code] : places) {
        const QString value = clean(record.value(QLatin1String(tag), QLatin1String(code)));
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

QString fourDigits(const QString& text)
{
    static const QRegularExpression year(QStringLiteral("(\\d{4})"));
    const QRegularExpressionMatch match = year.match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

MarcTitle MarcTitle::from(const MarcRecord& record, MarcRecord::Syntax syntax)
{
    MarcTitle t;
    if (syntax == MarcRecord::Syntax::Marc21) {
        const QString a = clean(record.value(QStringLiteral("245"), QStringLiteral("a")));
        const QString b = clean(record.value(QStringLiteral("245"), QStringLiteral("b")));
        t.title = b.isEmpty() ? a : a + QStringLiteral(" : ") + b;
        t.author = firstOf(record, {{"100", "a"}, {"110", "a"}, {"700", "a"}});
        t.publisher = firstOf(record, {{"264", "b"}, {"260", "b"}});
        t.year = fourDigits(firstOf(record, {{"264", "c"}, {"260", "c"}}));
        if (t.year.isEmpty())
            t.year = fourDigits(record.controlField(QStringLiteral("008")).mid(7, 4));
        t.isbnText = record.value(QStringLiteral("020"), QStringLiteral("a"));
        t.type = firstOf(record, {{"082", "a"}, {"050", "a"}, {"650", "a"}});
        for (const char* tag : {"952", "852"}) {
            for (const MarcRecord::Field& field : record.fields) {
                if (field.tag == QLatin1String(tag) && !field.subfield(QStringLiteral("p")).trimmed().isEmpty())
                    t.copies.append(
                        {field.subfield(QStringLiteral("p")).trimmed(), field.subfield(QStringLiteral("y")).trimmed()});
            }
            if (!t.copies.isEmpty())
                break;
        }
    } else {
        t.title = clean(record.value(QStringLiteral("200"), QStringLiteral("a")));
        t.author = firstOf(record, {{"700", "a"}, {"701", "a"}, {"200", "f"}});
        t.publisher = firstOf(record, {{"210", "c"}, {"214", "c"}});
        t.year = fourDigits(firstOf(record, {{"210", "d"}, {"214", "d"}}));
        t.isbnText = record.value(QStringLiteral("010"), QStringLiteral("a"));
        t.type = firstOf(record, {{"690", "a"}, {"606", "a"}});
        for (const MarcRecord::Field& field : record.fields) {
            if (field.tag == QLatin1String("995") && !field.subfield(QStringLiteral("f")).trimmed().isEmpty())
                t.copies.append(
                    {field.subfield(QStringLiteral("f")).trimmed(), field.subfield(QStringLiteral("r")).trimmed()});
        }
    }
    // "9787020002207 (pbk.)": the number is the first word.
    t.isbnText = t.isbnText.simplified().section(QLatin1Char(' '), 0, 0);
    return t;
}

QStringList MarcTitle::holdingsTags(MarcRecord::Syntax syntax)
{
    return syntax == MarcRecord::Syntax::Marc21 ? QStringList{QStringLiteral("952"), QStringLiteral("852")}
                                                : QStringList{QStringLiteral("995")};
}

MarcRecord::Field MarcTitle::holdingsField(MarcRecord::Syntax syntax, const Copy& copy)
{
    MarcRecord::Field field;
    field.indicators = QStringLiteral("  ");
    if (syntax == MarcRecord::Syntax::Marc21) {
        field.tag = QStringLiteral("952");
        field.subfields = {{QStringLiteral("p"), copy.number}, {QStringLiteral("y"), copy.permission}};
    } else {
        field.tag = QStringLiteral("995");
        field.subfields = {{QStringLiteral("f"), copy.number}, {QStringLiteral("r"), copy.permission}};
    }
    return field;
}

MarcRecord MarcTitle::recordOf(const MarcTitle& t, const QString& isbn)
{
    MarcRecord record;
    record.leader = QStringLiteral("00000nam a2200000 a 4500");
    const auto add = [&](const char* tag, const char* indicators, const QList<std::pair<QString, QString>>& subfields) {
        MarcRecord::Field field;
        field.tag = QLatin1String(tag);
        field.indicators = QLatin1String(indicators);
        for (const auto& [code, value] : subfields) {
            if (!value.isEmpty())
                field.subfields.append({code, value});
        }
        if (!field.subfields.isEmpty())
            record.fields.append(field);
    };
    if (!isbn.isEmpty())
        add("020", "  ", {{QStringLiteral("a"), isbn}});
    add("100", "1 ", {{QStringLiteral("a"), t.author}});
    add("245", "00", {{QStringLiteral("a"), t.title}});
    add("260", "  ", {{QStringLiteral("b"), t.publisher}, {QStringLiteral("c"), t.year}});
    add("650", " 4", {{QStringLiteral("a"), t.type}});
    return record;
}
