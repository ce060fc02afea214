#include "messages.h"

namespace Query {

int fieldCount(const QString& code)
{
    int count = -1;
    Wire::visitRequestType(code, [&](auto request) { count = decltype(request)::FieldCount; });
    return count;
}

} // namespace Query

namespace StatisticsReport {

int rowSize(const QString& report)
{
    if (report == LoansByMonth || report == TopTitles)
        return 5;
    if (report == NeverBorrowed || report == OverdueRate)
        return 4;
    if (report == ByLevel || report == ByType)
        return 3;
    return 0;
}

} // namespace StatisticsReport

namespace Reply {

QByteArray word(const QString& replyWord)
{
    return Wire::encodeFrame({replyWord});
}

QByteArray loginPass(const QStringList& accountRecord)
{
    return Wire::encodeFrame(QStringList{QString(Pass)} + accountRecord);
}

QByteArray row(const QStringList& values)
{
    return Wire::encodeFrame(values);
}

QString wordOf(const QStringList& frame)
{
    return frame.isEmpty() ? QString() : frame.first();
}

std::optional<QStringList> accountAfterPass(const QStringList& frame)
{
    if (frame.size() != 1 + AccountRecordSize || frame.first() != Pass)
        return std::nullopt;
    return frame.mid(1);
}

std::optional<QStringList> rowOf(const QStringList& frame, int size)
{
    if (frame.size() != size)
        return std::nullopt;
    return frame;
}

} // namespace Reply

namespace Wire {

std::optional<DecodedRequest> decodeRequest(const QByteArray& body)
{
    const std::optional<QStringList> values = decodeBody(body);
    if (!values || values->isEmpty())
        return std::nullopt;
    const QString code = values->first();
    int expected = -1, extensions = 0;
    bool takesToken = true;
    visitRequestType(code, [&](auto request) {
        using Request = decltype(request);
        expected = Request::FieldCount;
        extensions = ExtensionCount<Request>::value;
        takesToken = TokenTaken<Request>::value;
    });
    const int extra = int(values->size()) - 1 - expected;
    if (expected < 0 || extra < 0 || extra > extensions + (takesToken ? 1 : 0))
        return std::nullopt;
    DecodedRequest request{code, values->mid(1, expected), values->mid(1 + expected), std::nullopt};
    if (takesToken && extra > 0)
        request.token = request.extensions.takeLast();
    return request;
}

} // namespace Wire
