#include "labelitem.h"

#include <QStringList>

LabelItem LabelItem::book(const QString& number, const QString& title, const QString& type)
{
    LabelItem item;
    item.number = number;
    item.title = title;
    item.type = type;
    return item;
}

LabelItem LabelItem::reader(const QString& id, const QString& name, const QString& level)
{
    LabelItem item;
    item.kind = Kind::Reader;
    item.number = id;
    item.name = name;
    item.level = level;
    return item;
}

QList<LabelItem> LabelItem::parseList(const QString& text, QList<int>* lines)
{
    static const QLatin1String readerPrefix("reader:");
    QList<LabelItem> items;
    const QStringList all = text.split(QLatin1Char('\n'));
    for (int i = 0; i < all.size(); ++i) {
        QString line = all.at(i);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char('\t'));
        // A book number may hold inner spaces; only the ends are trimmed.
        const QString first = fields.value(0).trimmed();
        if (first.startsWith(readerPrefix))
            items << reader(first.mid(readerPrefix.size()).trimmed(), fields.value(1).trimmed(),
                            fields.value(2).trimmed());
        else
            items << book(first, fields.value(1).trimmed(), fields.value(2).trimmed());
        if (lines)
            lines->append(i + 1);
    }
    return items;
}
