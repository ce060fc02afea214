#pragma once

#include <QList>
#include <QString>

// What one label or card shows: a copy of a book, or a reader.
struct LabelItem {
    enum class Kind { Book, Reader };

    Kind kind = Kind::Book;
    QString number; // book number or reader ID: what the barcode holds
    QString title; // book
    QString type; // book
    QString name; // reader
    QString level; // reader, as shown (Chinese level name)

    static LabelItem book(const QString& number, const QString& title = QString(), const QString& type = QString());
    static LabelItem reader(const QString& id, const QString& name = QString(), const QString& level = QString());

    // A numbers file: one book number, or "reader:ID", per line; optional further fields after a tab
    // (a book's title and type, a reader's name and level). Blank lines and lines starting with "#"
    // are skipped. `lines` gets each item's line number, for messages.
    static QList<LabelItem> parseList(const QString& text, QList<int>* lines = nullptr);
};
