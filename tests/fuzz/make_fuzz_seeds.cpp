// Writes valid frames into a directory, one file each, as the fuzzers' seed corpus.
#include "messages.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_fuzz_seeds frames|bodies DIR\n");
        return 2;
    }
    const bool bodiesOnly = QByteArray(argv[1]) == "bodies";
    QDir dir(QString::fromLocal8Bit(argv[2]));
    dir.mkpath(QStringLiteral("."));
    const QStringList book{"红楼梦", "曹雪芹", "小说", "人民文学出版社", "1982", "I242.4/1", "空闲", "VIP"};
    QList<QByteArray> frames{
        Wire::encodeRequest(BookQuery{"红楼", "", "", "1900", "2000", "", ""}),
        Wire::encodeRequest(ReturnBookQuery{LoanRecord::from(book.mid(0, 6) + QStringList{"2026-12-07 10:00"}), "u"}),
        Wire::encodeRequest(BorrowBookQuery{BookRecord::from(book), "u"}),
        Reply::loginPass({"u", "n", "VIP", "p", "s", "t", "e", "i"}) + Wire::endOfStreamFrame(),
        Reply::row(book) + Reply::row(book) + Wire::endOfStreamFrame(),
        Wire::encodeFrame({QString()}) + Wire::endOfStreamFrame(),
    };
    // Every request the protocol knows, with and without the token our client adds.
    Wire::forEachRequestType([&](auto request) {
        using Request = decltype(request);
        QStringList fields;
        for (int i = 0; i < Request::FieldCount; ++i)
            fields.append(i % 2 ? QStringLiteral("书%1").arg(i) : QStringLiteral("f%1").arg(i));
        // Requests that share their fields with others are read as the shared record: copied into the
        // request itself, so that the request's own code is sent.
        using Fields = decltype(Request::from(fields));
        Request typed;
        static_cast<Fields&>(typed) = Request::from(fields);
        frames.append(Wire::encodeRequest(typed));
        frames.append(Wire::encodeRequest(typed, QStringLiteral("t0k3n")));
    });
    int n = 0;
    for (const QByteArray& frame : frames) {
        QFile file(dir.filePath(QStringLiteral("seed-%1").arg(n++)));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        // The frame reader's fuzzer takes one leading byte that picks how the input is split.
        file.write(bodiesOnly ? frame.mid(2) : QByteArray(1, char(n)) + frame);
    }
    return 0;
}
