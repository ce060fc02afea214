#include "messages.h"

#include <array>

namespace Query {

int fieldCount(const QString& code)
{
    static const std::array<std::pair<QLatin1String, int>, 14> counts{{
        {BookSearching, 7},
        {UserLogin, 2},
        {UserRegister, 7},
        {UserInfoUpdate, 6},
        {SearchUser, 1},
        {UnconfirmUser, 0},
        {DeleteUser, 1},
        {EscalateUser, 2},
        {DegradeUser, 2},
        {UserBorrowBook, 1},
        {ReturnBook, Reply::BorrowedBookRowSize + 1},
        {BorrowBook, Reply::BookRowSize + 1},
        {DeleteBook, Reply::BookRowSize},
        {AddBook, 7},
    }};
    for (const auto& [name, count] : counts) {
        if (code == name)
            return count;
    }
    return -1;
}

} // namespace Query

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

QStringList BookQuery::fields() const
{
    return {title, author, number, yearFrom, yearTo, type, press};
}

BookQuery BookQuery::fromFields(const QStringList& f)
{
    return {f[0], f[1], f[2], f[3], f[4], f[5], f[6]};
}

QStringList LoginQuery::fields() const
{
    return {userId, password};
}

LoginQuery LoginQuery::fromFields(const QStringList& f)
{
    return {f[0], f[1]};
}

QStringList UserRegisterQuery::fields() const
{
    return {userId, password, name, studentNumber, phoneNumber, email, userInfo};
}

UserRegisterQuery UserRegisterQuery::fromFields(const QStringList& f)
{
    return {f[0], f[1], f[2], f[3], f[4], f[5], f[6]};
}

QStringList UserUpdateQuery::fields() const
{
    return {userId, newPassword, name, phoneNumber, email, userInfo};
}

UserUpdateQuery UserUpdateQuery::fromFields(const QStringList& f)
{
    return {f[0], f[1], f[2], f[3], f[4], f[5]};
}

QStringList SearchUserQuery::fields() const
{
    return {text};
}

SearchUserQuery SearchUserQuery::fromFields(const QStringList& f)
{
    return {f[0]};
}

QStringList DeleteUserQuery::fields() const
{
    return {userId};
}

DeleteUserQuery DeleteUserQuery::fromFields(const QStringList& f)
{
    return {f[0]};
}

QStringList LevelChangeQuery::fields() const
{
    return {userId, displayedLevel};
}

LevelChangeQuery LevelChangeQuery::fromFields(const QStringList& f)
{
    return {f[0], f[1]};
}

QStringList UserBorrowBookQuery::fields() const
{
    return {userId};
}

UserBorrowBookQuery UserBorrowBookQuery::fromFields(const QStringList& f)
{
    return {f[0]};
}

QStringList ReturnBookQuery::fields() const
{
    return borrowedRow + QStringList{userId};
}

ReturnBookQuery ReturnBookQuery::fromFields(const QStringList& f)
{
    return {f.mid(0, Reply::BorrowedBookRowSize), f.value(Reply::BorrowedBookRowSize)};
}

QStringList BorrowBookQuery::fields() const
{
    return book + QStringList{userId};
}

BorrowBookQuery BorrowBookQuery::fromFields(const QStringList& f)
{
    return {f.mid(0, Reply::BookRowSize), f.value(Reply::BookRowSize)};
}

QStringList AddBookQuery::fields() const
{
    return {title, author, type, number, year, press, permission};
}

AddBookQuery AddBookQuery::fromFields(const QStringList& f)
{
    return {f[0], f[1], f[2], f[3], f[4], f[5], f[6]};
}

namespace Wire {

std::optional<DecodedRequest> decodeRequest(const QByteArray& body)
{
    const std::optional<QStringList> values = decodeBody(body);
    if (!values || values->isEmpty())
        return std::nullopt;
    const QString code = values->first();
    if (Query::fieldCount(code) != values->size() - 1)
        return std::nullopt;
    return DecodedRequest{code, values->mid(1)};
}

} // namespace Wire
