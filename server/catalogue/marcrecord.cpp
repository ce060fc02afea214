#include "marcrecord.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <yaz/marcdisp.h>
#include <yaz/wrbuf.h>
#include <yaz/yaz-iconv.h>

#include <memory>

namespace {

constexpr char RecordTerminator = 0x1d;

struct MarcHandle {
    yaz_marc_t mt = yaz_marc_create();
    ~MarcHandle() { yaz_marc_destroy(mt); }
};
struct WrbufHandle {
    WRBUF buf = wrbuf_alloc();
    ~WrbufHandle() { wrbuf_destroy(buf); }
    QByteArray bytes() const { return QByteArray(wrbuf_buf(buf), qsizetype(wrbuf_len(buf))); }
};

// Whether the directory of an ISO 2709 record lists the tag (a MARC 21 title: 245).
bool directoryHas(const QByteArray& record, const char* tag)
{
    for (qsizetype at = 24; at + 12 <= record.size() && record.at(at) != 0x1e; at += 12) {
        if (record.mid(at, 3) == tag)
            return true;
    }
    return false;
}

// The element's name without a namespace prefix ("marc:record" is a record).
QStringView localName(const QXmlStreamReader& xml)
{
    const QStringView name = xml.qualifiedName();
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.mid(colon + 1);
}

// Reads the <record> the reader stands on into `record`; false with why on anything unexpected.
bool readXmlRecord(QXmlStreamReader& xml, MarcRecord& record, QString* error)
{
    while (xml.readNextStartElement()) {
        const QStringView name = localName(xml);
        if (name == QLatin1String("leader")) {
            record.leader = xml.readElementText();
        } else if (name == QLatin1String("controlfield")) {
            MarcRecord::Field field;
            field.tag = xml.attributes().value(QLatin1String("tag")).toString();
            field.data = xml.readElementText();
            record.fields.append(field);
        } else if (name == QLatin1String("datafield")) {
            MarcRecord::Field field;
            const QXmlStreamAttributes attributes = xml.attributes();
            field.tag = attributes.value(QLatin1String("tag")).toString();
            field.indicators = QString(attributes.value(QLatin1String("ind1")).toString() + QLatin1Char(' ')).left(1)
                + QString(attributes.value(QLatin1String("ind2")).toString() + QLatin1Char(' ')).left(1);
            while (xml.readNextStartElement()) {
                if (localName(xml) != QLatin1String("subfield")) {
                    xml.skipCurrentElement();
                    continue;
                }
                const QString code = xml.attributes().value(QLatin1String("code")).toString();
                field.subfields.append({code, xml.readElementText()});
            }
            record.fields.append(field);
        } else {
            xml.skipCurrentElement();
        }
        if (xml.hasError())
            break;
    }
    if (xml.hasError()) {
        *error = xml.errorString();
        return false;
    }
    for (const MarcRecord::Field& field : std::as_const(record.fields)) {
        if (field.tag.size() != 3) {
            *error = QStringLiteral("a field without a three-character tag");
            return false;
        }
    }
    return true;
}

} // namespace

QString MarcRecord::Field::subfield(const QString& code) const
{
    for (const auto& [c, value] : subfields) {
        if (c == code)
            return value;
    }
    return QString();
}

QString MarcRecord::value(const QString& tag, const QString& code) const
{
    for (const Field& field : fields) {
        if (field.tag != tag)
            continue;
        const QString found = field.subfield(code);
        if (!found.trimmed().isEmpty())
            return found;
    }
    return QString();
}

QString MarcRecord::controlField(const QString& tag) const
{
    for (const Field& field : fields) {
        if (field.tag == tag)
            return field.data;
    }
    return QString();
}

QStringList MarcRecord::values(const QString& tag, const QString& code) const
{
    QStringList found;
    for (const Field& field : fields) {
        if (field.tag != tag)
            continue;
        for (const auto& [c, value] : field.subfields) {
            if (c == code)
                found.append(value);
        }
    }
    return found;
}

bool MarcRecord::hasField(const QString& tag) const
{
    return std::any_of(fields.cbegin(), fields.cend(), [&](const Field& f) { return f.tag == tag; });
}

void MarcRecord::removeFields(const QStringList& tags)
{
    fields.removeIf([&](const Field& f) { return tags.contains(f.tag); });
}

MarcRecord::Syntax MarcRecord::shapeSyntax() const
{
    if (hasField(QStringLiteral("245")))
        return Syntax::Marc21;
    return hasField(QStringLiteral("200")) ? Syntax::Unimarc : Syntax::Marc21;
}

std::optional<MarcRecord> MarcRecord::fromIso2709(const QByteArray& bytes, QString* error)
{
    if (bytes.size() < 25 || !bytes.endsWith(RecordTerminator)) {
        *error = QStringLiteral("not an ISO 2709 record (too short, or no record terminator)");
        return std::nullopt;
    }
    bool ok = false;
    const int length = bytes.left(5).toInt(&ok);
    if (!ok || length != bytes.size()) {
        *error = QStringLiteral("the leader's record length is not the record's");
        return std::nullopt;
    }
    MarcHandle marc;
    yaz_marc_xml(marc.mt, YAZ_MARC_MARCXML);
    // MARC 21 says MARC-8 with a blank at leader position 9; UNIMARC records here come in UTF-8.
    const bool marc8 = bytes.at(9) == ' ' && directoryHas(bytes, "245");
    yaz_iconv_t converter = nullptr;
    if (marc8) {
        converter = yaz_iconv_open("utf-8", "marc8");
        yaz_marc_iconv(marc.mt, converter);
    }
    WrbufHandle out;
    const int read = yaz_marc_decode_wrbuf(marc.mt, bytes.constData(), int(bytes.size()), out.buf);
    if (converter)
        yaz_iconv_close(converter);
    if (read <= 0) {
        *error = QStringLiteral("YAZ cannot decode the record");
        return std::nullopt;
    }
    const QList<MarcXmlEntry> parsed = readMarcXml(out.bytes());
    if (parsed.size() != 1 || !parsed.first().record) {
        *error = parsed.isEmpty() ? QStringLiteral("the record has no fields") : parsed.first().error;
        return std::nullopt;
    }
    MarcRecord record = *parsed.first().record;
    if (record.leader.size() >= 10)
        record.leader[9] = QLatin1Char('a');
    return record;
}

namespace {

// Every <record> of the text in order; false when the text is not well-formed XML.
bool readRecords(const QByteArray& text, QList<MarcXmlEntry>& entries)
{
    QXmlStreamReader xml(text);
    xml.setNamespaceProcessing(false);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && localName(xml) == QLatin1String("record")) {
            MarcXmlEntry entry;
            MarcRecord record;
            if (readXmlRecord(xml, record, &entry.error))
                entry.record = record;
            entries.append(entry);
        }
    }
    return !xml.hasError();
}

} // namespace

QList<MarcXmlEntry> readMarcXml(const QByteArray& xmlText)
{
    QList<MarcXmlEntry> entries;
    if (readRecords(xmlText, entries))
        return entries;
    // Not well-formed: each record on its own.
    entries.clear();
    static const QRegularExpression span(
        QStringLiteral("<(?:[A-Za-z_][\\w.-]*:)?record\\b[^>]*>.*?</(?:[A-Za-z_][\\w.-]*:)?record\\s*>"),
        QRegularExpression::DotMatchesEverythingOption);
    const QString text = QString::fromUtf8(xmlText);
    for (QRegularExpressionMatchIterator it = span.globalMatch(text); it.hasNext();) {
        QList<MarcXmlEntry> one;
        if (!readRecords(it.next().captured(0).toUtf8(), one) || one.size() != 1) {
            entries.append({std::nullopt, QStringLiteral("not well-formed XML")});
            continue;
        }
        entries.append(one.first());
    }
    if (entries.isEmpty())
        entries.append({std::nullopt, QStringLiteral("not well-formed XML, no record found")});
    return entries;
}

namespace {

// The record in a YAZ handle, for YAZ to write it out.
void fill(yaz_marc_t mt, const MarcRecord& record)
{
    QByteArray leader = record.leader.toLatin1().leftJustified(24, ' ', true);
    leader[9] = 'a';
    int indicatorLength = 2, identifierLength = 2, baseAddress = 0, dataEntry = 4, starting = 5, implementation = 0;
    yaz_marc_set_leader(mt, leader.constData(), &indicatorLength, &identifierLength, &baseAddress, &dataEntry,
                        &starting, &implementation);
    for (const MarcRecord::Field& field : record.fields) {
        const QByteArray tag = field.tag.toLatin1();
        if (field.isControl()) {
            const QByteArray data = field.data.toUtf8();
            yaz_marc_add_controlfield(mt, tag.constData(), data.constData(), size_t(data.size()));
            continue;
        }
        const QByteArray indicators = QString(field.indicators + QStringLiteral("  ")).left(2).toLatin1();
        yaz_marc_add_datafield(mt, tag.constData(), indicators.constData(), size_t(indicators.size()));
        for (const auto& [code, value] : field.subfields) {
            const QByteArray data = QString(code.left(1) + value).toUtf8();
            yaz_marc_add_subfield(mt, data.constData(), size_t(data.size()));
        }
    }
}

QByteArray written(const MarcRecord& record, int mode)
{
    MarcHandle marc;
    fill(marc.mt, record);
    yaz_marc_xml(marc.mt, mode);
    WrbufHandle out;
    if (yaz_marc_write_mode(marc.mt, out.buf) != 0)
        return QByteArray();
    return out.bytes();
}

} // namespace

QByteArray MarcRecord::toIso2709() const
{
    return written(*this, YAZ_MARC_ISO2709);
}

QByteArray MarcRecord::toMarcXml() const
{
    return written(*this, YAZ_MARC_MARCXML);
}

QList<QByteArray> splitIso2709(const QByteArray& stream)
{
    QList<QByteArray> records;
    qsizetype start = 0;
    while (start < stream.size()) {
        // Line breaks between records (some tools add them) are not part of any record.
        while (start < stream.size() && (stream.at(start) == '\n' || stream.at(start) == '\r'))
            ++start;
        if (start >= stream.size())
            break;
        const qsizetype end = stream.indexOf(RecordTerminator, start);
        if (end < 0) {
            records.append(stream.mid(start));
            break;
        }
        records.append(stream.mid(start, end - start + 1));
        start = end + 1;
    }
    return records;
}
