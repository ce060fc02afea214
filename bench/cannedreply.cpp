#include "cannedreply.h"

#include "frame.h"

#include <QStringList>

QByteArray cannedBookReply()
{
    const QStringList book{QStringLiteral("红楼梦"),   QStringLiteral("曹雪芹 高鹗"),
                           QStringLiteral("古典小说"), QStringLiteral("人民文学出版社"),
                           QStringLiteral("1996"),     QStringLiteral("I242.4/0001-1"),
                           QStringLiteral("空闲"),     QStringLiteral("Guest")};
    return Wire::encodeFrame(book) + Wire::endOfStreamFrame();
}
