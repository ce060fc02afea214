#include "refusals.h"

#include "clientwords.h"
#include "loginsession.h"

#include <QHash>
#include <QMessageBox>

namespace Refusals {
namespace {

const QHash<QString, QString>& table()
{
    static const QHash<QString, QString> messages{
        {QStringLiteral("NOT_LOGGED_IN"), QStringLiteral("您还没有登录，或登录已失效，请重新登录。")},
        {QStringLiteral("SESSION_EXPIRED"), QStringLiteral("登录已失效，请重新登录。")},
        {QStringLiteral("ADMIN_REQUIRED"), QStringLiteral("此操作需要管理员权限。")},
        {QStringLiteral("SUPER_ADMIN_REQUIRED"), QStringLiteral("只有超级管理员可以设立、降级或删除管理员。")},
        {QStringLiteral("WRONG_PASSWORD"), QStringLiteral("密码错误。")},
        {QStringLiteral("TOO_MANY_ATTEMPTS"), QStringLiteral("登录尝试过多，请%1再试。")},
        {QStringLiteral("TOO_MANY_ATTEMPTS_FROM_ADDRESS"), QStringLiteral("这台电脑登录失败次数过多，请%1再试。")},
        {QStringLiteral("TOO_MANY_ATTEMPTS_FOR_ACCOUNT"), QStringLiteral("该账号登录失败次数过多，请%1再试。")},
        {QStringLiteral("NO_SUCH_USER"), QStringLiteral("该用户不存在（可能已被删除）。")},
        {QStringLiteral("NO_SUCH_BOOK"), QStringLiteral("书库中没有这本书（可能已被删除）。")},
        {QStringLiteral("ACCOUNT_UNCONFIRMED"), QStringLiteral("账号尚未经图书馆确认，暂时不能借书。")},
        {QStringLiteral("PERMISSION_TOO_LOW"), QStringLiteral("您的权限不足以借阅这本书。")},
        {QStringLiteral("BOOK_ALREADY_LENT"), QStringLiteral("这本书刚被借出了。")},
        {QStringLiteral("BORROW_LIMIT_REACHED"), QStringLiteral("您的借书数量已达上限，请先归还一些书。")},
        {QStringLiteral("NOT_BORROWED_BY_USER"), QStringLiteral("这本书不在您的借阅记录中。")},
        {QStringLiteral("BOOK_ON_LOAN"), QStringLiteral("这本书尚未归还，不能删除。")},
        {QStringLiteral("USER_HAS_LOANS"), QStringLiteral("该用户还有未归还的书，不能删除。")},
        {QStringLiteral("SUPER_ADMIN_PROTECTED"), QStringLiteral("超级管理员账号不能删除、降级或升级。")},
        {QStringLiteral("STALE_LEVEL"), QStringLiteral("该用户的权限已被更改，请重新搜索后再试。")},
        {QStringLiteral("MISSING_TITLE_OR_NUMBER"), QStringLiteral("书名和书号不能为空。")},
        {QStringLiteral("BOOK_NUMBER_EXISTS"), QStringLiteral("该书号已存在。")},
        {QStringLiteral("UNKNOWN_PERMISSION"), QStringLiteral("借阅权限无效。")},
        {QStringLiteral("RECORD_TOO_LONG"), QStringLiteral("填写的内容过长。")},
        {QStringLiteral("SERVER_ERROR"), QStringLiteral("服务器出错，请稍后再试。")},
        {QStringLiteral("LOGIN_AGAIN"), QStringLiteral("登录时间过久：请重新登录后再修改密码。")},
        {QStringLiteral("PASSWORD_CHANGE_REQUIRED"), QStringLiteral("请先在个人信息中设置新密码。")},
        {QStringLiteral("LOAN_OVERDUE"), QStringLiteral("您有逾期未还的书，请先归还。")},
        {QStringLiteral("BOOK_ON_HOLD"), QStringLiteral("这本书已被他人预约。")},
        {QStringLiteral("RENEW_LIMIT_REACHED"), QStringLiteral("这本书的续借次数已用完。")},
        {QStringLiteral("BOOK_NOT_ON_LOAN"), QStringLiteral("这本书不在借出状态。")},
        {QStringLiteral("ALREADY_BORROWED_BY_USER"), QStringLiteral("这本书正由该读者借阅，不需要预约。")},
        {QStringLiteral("HOLD_EXISTS"), QStringLiteral("已经预约过这本书了。")},
        {QStringLiteral("NO_SUCH_HOLD"), QStringLiteral("没有这本书的预约。")},
    };
    return messages;
}

} // namespace

bool isLoginThrottle(const QString& word)
{
    return word == ClientWords::TooManyAttempts || word == ClientWords::TooManyAttemptsFromAddress
        || word == ClientWords::TooManyAttemptsForAccount;
}

bool isKnown(const QString& word)
{
    return table().contains(word);
}

QString message(const QString& word, const QString& detail)
{
    const auto found = table().constFind(word);
    if (found == table().constEnd())
        return QStringLiteral("服务器拒绝了请求（%1）。").arg(word);
    if (!isLoginThrottle(word))
        return *found;
    bool ok = false;
    const qint64 seconds = detail.toLongLong(&ok);
    return found->arg(ok && seconds > 0 ? QStringLiteral(" %1 秒后").arg(seconds) : QStringLiteral("稍后"));
}

QString loginEndedMessage()
{
    return QStringLiteral("登录已结束，请重新登录。");
}

void report(QWidget* parent, const QStringList& frame)
{
    const QString word = frame.value(0);
    LoginSession& session = LoginSession::instance();
    if (word == ClientWords::SessionExpired || word == ClientWords::NotLoggedIn) {
        if (session.state() == LoginSession::State::Lost)
            return;
        if (session.markLost()) {
            QMessageBox::warning(parent, QStringLiteral("Error!"), loginEndedMessage());
            session.announceLost();
            return;
        }
    }
    QMessageBox::warning(parent, QStringLiteral("Error!"), message(word, frame.value(1)));
    if (word == ClientWords::PasswordChangeRequired)
        session.announcePasswordChangeRequired();
}

} // namespace Refusals
