#include "auditwords.h"

#include "levels.h"
#include "vocabulary.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

QString chineseName(AuditAction action)
{
    switch (action) {
    case AuditAction::Register:
        return QStringLiteral("注册");
    case AuditAction::UpdateAccount:
        return QStringLiteral("修改个人信息");
    case AuditAction::DeleteAccount:
        return QStringLiteral("删除用户");
    case AuditAction::RaiseLevel:
        return QStringLiteral("升级");
    case AuditAction::LowerLevel:
        return QStringLiteral("降级");
    case AuditAction::AddBook:
        return QStringLiteral("增添书籍");
    case AuditAction::DeleteBook:
        return QStringLiteral("删除书籍");
    case AuditAction::BorrowBook:
        return QStringLiteral("借出");
    case AuditAction::ReturnBook:
        return QStringLiteral("归还");
    case AuditAction::RenewBook:
        return QStringLiteral("续借");
    case AuditAction::PlaceHold:
        return QStringLiteral("预约");
    case AuditAction::CancelHold:
        return QStringLiteral("取消预约");
    case AuditAction::CheckinBook:
        return QStringLiteral("柜台归还");
    case AuditAction::DeleteUnconfirmed:
        return QStringLiteral("删除未审核用户");
    case AuditAction::ExpireUnconfirmed:
        return QStringLiteral("未审核用户过期");
    case AuditAction::EditAccount:
        return QStringLiteral("修改读者资料");
    case AuditAction::ResetPassword:
        return QStringLiteral("重置密码");
    case AuditAction::ImportCatalogue:
        return QStringLiteral("导入书目");
    case AuditAction::ImportReaders:
        return QStringLiteral("导入读者");
    case AuditAction::StartInventory:
        return QStringLiteral("开始盘点");
    case AuditAction::MarkLost:
        return QStringLiteral("登记丢失");
    case AuditAction::MarkFound:
        return QStringLiteral("找回");
    case AuditAction::EditBook:
        return QStringLiteral("编辑书籍");
    }
    return {};
}

QDateTime stored(const QString& text)
{
    QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!at.isValid())
        at = QDateTime::fromString(text, Qt::ISODate);
    return at;
}

// A time inside a note (the due date of a loan): local, to the minute.
QString localMinute(const QString& text)
{
    const QDateTime at = stored(text);
    if (at.isValid() && at.timeSpec() != Qt::LocalTime)
        return at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    const QDateTime shown = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return shown.isValid() ? shown.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : text;
}

} // namespace

QString AuditWords::action(const QString& word)
{
    for (std::size_t i = 0; i < Wire::auditActionSpellings.size(); ++i) {
        if (word == Wire::auditActionSpellings[i])
            return chineseName(AuditAction(i));
    }
    return word;
}

QString AuditWords::note(const QString& detail)
{
    static const QRegularExpression due(QStringLiteral("^due (\\S+)$"));
    static const QRegularExpression overdue(QStringLiteral("^(\\d+) days overdue(?:, kept for (.+))?$"));
    static const QRegularExpression levels(QStringLiteral("^(\\S+(?: \\S+)?) -> (\\S+(?: \\S+)?)$"));
    static const QRegularExpression accounts(QStringLiteral("^(\\d+) accounts$"));
    QRegularExpressionMatch match;
    if ((match = due.match(detail)).hasMatch())
        return QStringLiteral("到期 %1").arg(localMinute(match.captured(1)));
    if ((match = overdue.match(detail)).hasMatch()) {
        QString text = match.captured(1) == QLatin1String("0") ? QStringLiteral("按时归还")
                                                               : QStringLiteral("逾期 %1 天").arg(match.captured(1));
        if (match.hasCaptured(2) && !match.captured(2).isEmpty())
            text += QStringLiteral("，留给 %1").arg(match.captured(2));
        return text;
    }
    if ((match = levels.match(detail)).hasMatch())
        return QStringLiteral("%1 → %2").arg(Levels::toChinese(match.captured(1)),
                                             Levels::toChinese(match.captured(2)));
    if ((match = accounts.match(detail)).hasMatch())
        return QStringLiteral("%1 个账号").arg(match.captured(1));
    if (detail == QLatin1String("password changed"))
        return QStringLiteral("修改了密码");
    return detail;
}

QString AuditWords::time(const QString& at)
{
    const QDateTime time = stored(at);
    if (time.isValid() && time.timeSpec() != Qt::LocalTime)
        return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return at;
}
