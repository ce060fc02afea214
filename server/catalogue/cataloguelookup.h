#pragma once

#include "records.h"

#include <QList>
#include <QString>
#include <QStringList>

// Copy cataloguing: asks other libraries' catalogues for a title over Z39.50 or SRU (YAZ's ZOOM), one
// target after another, on the calling thread. Each target has its own timeout, so a target that
// hangs costs only that request.
class CatalogueLookup
{
public:
    struct Target {
        QString name; // as configured, and as the reply names it
        QString address; // "host:port/database", or the SRU base URL
        bool sru = false;
    };
    // "z3950.loc.gov:7090/Voyager, sru:https://example.org/sru": comma-separated, in order.
    static QList<Target> targetsFrom(const QString& setting);

    struct Result {
        QList<CatalogueRecord> records; // from the first target that has the book
        QStringList errors; // "target: why" for each target that did not answer
        bool answered = false; // some target answered (with records or without)
    };
    // An ISBN is looked for as one (either form); any other text as a title.
    static Result find(const QList<Target>& targets, const QString& text, int timeoutSeconds, int maxRecords);
};
