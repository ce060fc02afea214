#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// One bibliographic record in MARC form (MARC 21 or UNIMARC), its text in UTF-8 whatever it was read
// from. Reading and writing go through YAZ (ISO 2709, MARC-8) and Qt's XML reader (MARCXML).
struct MarcRecord {
    enum class Syntax { Marc21, Unimarc };

    struct Field {
        QString tag;
        QString indicators; // two characters; empty for a control field
        QString data; // a control field's text
        QList<std::pair<QString, QString>> subfields; // code, value
        bool isControl() const { return tag < QLatin1String("010"); }
        QString subfield(const QString& code) const;
    };

    QString leader;
    QList<Field> fields;

    // The first value of the subfield in the first field of the tag that has it; empty when none.
    QString value(const QString& tag, const QString& code) const;
    QString controlField(const QString& tag) const;
    // Every value of the subfield in every field of the tag, in order.
    QStringList values(const QString& tag, const QString& code) const;
    bool hasField(const QString& tag) const;
    void removeFields(const QStringList& tags);

    // MARC 21 or UNIMARC by the record's own shape: a title in 245 is MARC 21, one in 200 UNIMARC.
    Syntax shapeSyntax() const;

    // One ISO 2709 record (the bytes up to and including its terminator). MARC 21 records whose leader
    // says MARC-8 are converted to UTF-8. nullopt, with why, for a broken record.
    static std::optional<MarcRecord> fromIso2709(const QByteArray& bytes, QString* error);

    // The record as ISO 2709 in UTF-8 (leader position 9 "a"), and as a MARCXML <record> element.
    QByteArray toIso2709() const;
    QByteArray toMarcXml() const;
};

// One record of a MARCXML document: read, or why not.
struct MarcXmlEntry {
    std::optional<MarcRecord> record;
    QString error;
};
// The records of a MARCXML document (a collection or a single record), in order. A document that is
// not well-formed is read record by record, so that one broken record costs that record only.
QList<MarcXmlEntry> readMarcXml(const QByteArray& xml);

// The records of an ISO 2709 stream, cut at the record terminators; the length in each leader is
// checked against where the record ends.
QList<QByteArray> splitIso2709(const QByteArray& stream);
