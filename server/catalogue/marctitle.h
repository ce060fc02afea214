#pragma once

#include "marcrecord.h"

// What the catalogue takes from a MARC record, and the record it writes for a title.
struct MarcTitle {
    QString title, author, type, publisher, year;
    QString isbnText; // as the record gives it (020 $a or 010 $a), before any check
    struct Copy {
        QString number, permission; // the barcode; the permission as written (may be empty)
    };
    QList<Copy> copies; // the holdings: 952/852 $p (MARC 21), 995 $f (UNIMARC)

    // MARC 21: 245 $a $b; 100, 110 or 700 $a; 264 or 260 $b and $c (or 008/07-10); 020 $a; 082 $a,
    // 050 $a or the first 650 $a. UNIMARC: 200 $a; 700, 701 $a or 200 $f; 210 or 214 $c and $d;
    // 010 $a; 690 $a or 606 $a. Trailing ISBD punctuation (" /", " :", ...) is removed.
    static MarcTitle from(const MarcRecord& record, MarcRecord::Syntax syntax);

    // The holdings fields of a syntax, which an export replaces by the copies of today.
    static QStringList holdingsTags(MarcRecord::Syntax syntax);
    // The copy's holdings field: 952 $p number $y permission, or 995 $f number $r permission.
    static MarcRecord::Field holdingsField(MarcRecord::Syntax syntax, const Copy& copy);
    // A MARC 21 record made from the fields (a title that came without one), without holdings.
    static MarcRecord recordOf(const MarcTitle& title, const QString& isbn);
};
