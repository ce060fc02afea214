#pragma once

#include "noticekind.h"

#include <QHash>
#include <QString>

// The words of each kind of notice: a subject line, an empty line, then the body, with placeholders
// in braces ({library}, {name}, {userId}, {books}, {count}, {pickupUntil}). A library words them its
// own way in a folder of files named as the built-in ones (due-soon.txt, overdue.txt, hold-ready.txt);
// a file that is missing or unreadable leaves the built-in text of its kind.
class NoticeTemplates
{
public:
    explicit NoticeTemplates(const QString& folder = {});

    struct Text {
        QString subject, body;
    };
    // Placeholders are filled in one pass: a value that holds braces stays as it is. An unknown
    // placeholder stays too, so a misspelt one shows in the message instead of vanishing.
    Text render(NoticeKind kind, const QHash<QString, QString>& values) const;

    static QString fileName(NoticeKind kind);
    // Where each template came from, for the log: the library's file or "built-in".
    QString origin(NoticeKind kind) const;

private:
    QHash<int, QString> m_texts;
    QHash<int, QString> m_origins;
};
