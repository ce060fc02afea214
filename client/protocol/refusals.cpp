#include "refusals.h"

#include "loginsession.h"
#include "vocabulary.h"

#include <QMessageBox>

namespace Refusals {

QString message(Refusal refusal)
{
    switch (refusal) {
    case Refusal::NotLoggedIn:
        return QStringLiteral("您还没有登录，或登录已失效，请重新登录。");
    case Refusal::SessionExpired:
        return QStringLiteral("登录已失效，请重新登录。");
    case Refusal::AdminRequired:
        return QStringLiteral("此操作需要管理员权限。");
    case Refusal::SuperAdminRequired:
        return QStringLiteral("只有超级管理员可以设立、降级或删除管理员。");
    case Refusal::WrongPassword:
        return QStringLiteral("密码错误。");
    case Refusal::TooManyAttempts:
        return QStringLiteral("登录尝试过多，请%1再试。");
    case Refusal::TooManyAttemptsFromAddress:
        return QStringLiteral("这台电脑登录失败次数过多，请%1再试。");
    case Refusal::TooManyAttemptsForAccount:
        return QStringLiteral("该账号登录失败次数过多，请%1再试。");
    case Refusal::NoSuchUser:
        return QStringLiteral("该用户不存在（可能已被删除）。");
    case Refusal::NoSuchBook:
        return QStringLiteral("书库中没有这本书（可能已被删除）。");
    case Refusal::AccountUnconfirmed:
        return QStringLiteral("账号尚未经图书馆确认，暂时不能借书。");
    case Refusal::PermissionTooLow:
        return QStringLiteral("您的权限不足以借阅这本书。");
    case Refusal::BookAlreadyLent:
        return QStringLiteral("这本书刚被借出了。");
    case Refusal::BorrowLimitReached:
        return QStringLiteral("您的借书数量已达上限，请先归还一些书。");
    case Refusal::NotBorrowedByUser:
        return QStringLiteral("这本书不在您的借阅记录中。");
    case Refusal::BookOnLoan:
        return QStringLiteral("这本书尚未归还，不能删除。");
    case Refusal::UserHasLoans:
        return QStringLiteral("该用户还有未归还的书，不能删除。");
    case Refusal::SuperAdminProtected:
        return QStringLiteral("超级管理员账号不能删除、降级或升级。");
    case Refusal::StaleLevel:
        return QStringLiteral("该用户的权限已被更改，请重新搜索后再试。");
    case Refusal::MissingTitleOrNumber:
        return QStringLiteral("书名和书号不能为空。");
    case Refusal::BookNumberExists:
        return QStringLiteral("该书号已存在。");
    case Refusal::UnknownPermission:
        return QStringLiteral("借阅权限无效。");
    case Refusal::RecordTooLong:
        return QStringLiteral("填写的内容过长。");
    case Refusal::ServerError:
        return QStringLiteral("服务器出错，请稍后再试。");
    case Refusal::LoginAgain:
        return QStringLiteral("登录时间过久：请重新登录后再修改密码。");
    case Refusal::PasswordChangeRequired:
        return QStringLiteral("请先在个人信息中设置新密码。");
    case Refusal::LoanOverdue:
        return QStringLiteral("您有逾期未还的书，请先归还。");
    case Refusal::BookOnHold:
        return QStringLiteral("这本书已被他人预约。");
    case Refusal::RenewLimitReached:
        return QStringLiteral("这本书的续借次数已用完。");
    case Refusal::BookNotOnLoan:
        return QStringLiteral("这本书不在借出状态。");
    case Refusal::AlreadyBorrowedByUser:
        return QStringLiteral("这本书正由该读者借阅，不需要预约。");
    case Refusal::HoldExists:
        return QStringLiteral("已经预约过这本书了。");
    case Refusal::NoSuchHold:
        return QStringLiteral("没有这本书的预约。");
    case Refusal::CurrentPasswordRequired:
        return QStringLiteral("修改密码需要填写当前密码。");
    case Refusal::InvalidAccountField:
        return QStringLiteral("填写的内容不符合要求（长度、控制字符或邮箱格式），请检查后再试。");
    case Refusal::IdConfusable:
        return QStringLiteral("这个用户名与已有的用户名太相像（大小写、全角半角、重音或外形相近的字母），"
                              "或混用了不同文字，请换一个。");
    case Refusal::IdTaken:
        return QStringLiteral("用户名或学号已被使用。");
    case Refusal::RegistrationClosed:
        return QStringLiteral("等待确认的新账号太多，暂停注册，请稍后再试或联系图书馆。");
    case Refusal::TooManyRegistrations:
        return QStringLiteral("这台电脑所在的网络最近注册的账号太多，请一小时后再试。");
    case Refusal::BadIsbn:
        return QStringLiteral("ISBN 无效（应为10位或13位，校验位正确）。");
    case Refusal::BadCount:
        return QStringLiteral("册数应在 1 到 500 之间。");
    case Refusal::CatalogueUnreachable:
        return QStringLiteral("联合编目服务器都无法连接，请手工填写。");
    case Refusal::HoldLimitReached:
        return QStringLiteral("预约数量已达上限，请先取消一些预约。");
    case Refusal::RenewTooEarly:
        return QStringLiteral("还不能续借：临近到期时才能续借%1。");
    case Refusal::BadNetwork:
        return QStringLiteral("请填写一个地址或网段，例如 192.0.2.7 或 192.0.2.0/24。");
    case Refusal::NoSuchNotice:
        return QStringLiteral("没有这条待发送的通知（可能已经发出或已过时）。");
    case Refusal::BookLost:
        return QStringLiteral("这本书已登记为丢失，不能借阅或预约。");
    case Refusal::BookNotLost:
        return QStringLiteral("这本书没有登记为丢失。");
    case Refusal::UnknownReport:
        return QStringLiteral("服务器不认识这种统计。");
    case Refusal::BadPeriod:
        return QStringLiteral("日期无效，或统计期间过长。");
    case Refusal::NoSuchInventory:
        return QStringLiteral("没有这次盘点（可能已被删除）。");
    case Refusal::TooManyNumbers:
        return QStringLiteral("一次提交的书号过多，请分批提交。");
    }
    return QString();
}

bool isLoginThrottle(const QString& word)
{
    const std::optional<Refusal> refusal = Wire::refusalNamed(word);
    return refusal && Wire::isLoginThrottle(*refusal);
}

bool isKnown(const QString& word)
{
    return Wire::refusalNamed(word).has_value();
}

QString aboutReader(const QString& word, const QString& detail)
{
    QString text = message(word, detail);
    text.replace(QStringLiteral("您的"), QStringLiteral("该读者的"));
    text.replace(QStringLiteral("您"), QStringLiteral("该读者"));
    return text;
}

QString message(const QString& word, const QString& detail)
{
    const std::optional<Refusal> refusal = Wire::refusalNamed(word);
    if (!refusal)
        return QStringLiteral("服务器拒绝了请求（%1）。").arg(word);
    if (*refusal == Refusal::RenewTooEarly) {
        const QString firstDay = detail.left(16); // the date and the time to the minute
        return message(*refusal).arg(firstDay.isEmpty() ? QString() : QStringLiteral("（从 %1 起）").arg(firstDay));
    }
    // The taken number of a run of copies, the copy on the shelf to borrow instead, the targets' errors.
    if ((*refusal == Refusal::BookNumberExists || *refusal == Refusal::BookNotOnLoan
         || *refusal == Refusal::CatalogueUnreachable)
        && !detail.isEmpty())
        return message(*refusal) + QStringLiteral("（%1）").arg(detail.left(300));
    if (!Wire::isLoginThrottle(*refusal))
        return message(*refusal);
    bool ok = false;
    const qint64 seconds = detail.toLongLong(&ok);
    return message(*refusal).arg(ok && seconds > 0 ? QStringLiteral(" %1 秒后").arg(seconds) : QStringLiteral("稍后"));
}

QString loginEndedMessage()
{
    return QStringLiteral("登录已结束，请重新登录。");
}

void report(QWidget* parent, const QStringList& frame)
{
    const QString word = frame.value(0);
    const std::optional<Refusal> refusal = Wire::refusalNamed(word);
    LoginSession& session = LoginSession::instance();
    if (refusal == Refusal::SessionExpired || refusal == Refusal::NotLoggedIn) {
        if (session.state() == LoginSession::State::Lost)
            return;
        if (session.markLost()) {
            QMessageBox::warning(parent, QStringLiteral("Error!"), loginEndedMessage());
            session.announceLost();
            return;
        }
    }
    QMessageBox::warning(parent, QStringLiteral("Error!"), message(word, frame.value(1)));
    if (refusal == Refusal::PasswordChangeRequired)
        session.announcePasswordChangeRequired();
}

} // namespace Refusals
