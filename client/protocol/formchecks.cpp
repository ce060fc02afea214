#include "formchecks.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpressionValidator>

namespace FormChecks {
namespace {

// Characters, not UTF-16 units: a name outside the basic plane counts once.
int characterCount(const QString& text)
{
    return int(text.toUcs4().size());
}

} // namespace

void limitToYear(QLineEdit* edit)
{
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,4}")), edit));
}

bool isYearOrEmpty(const QString& text)
{
    static const QRegularExpression year(QStringLiteral("^(\\d{4})?$"));
    return year.match(text).hasMatch();
}

QString yearMessage()
{
    return QStringLiteral("年份请填写四位数字，例如 2024。");
}

QString userIdProblem(const QString& id)
{
    if (id.isEmpty())
        return QStringLiteral("请填写用户名。");
    if (characterCount(id) > MaxIdLength)
        return QStringLiteral("用户名最多 %1 个字符。").arg(MaxIdLength);
    if (id.front().isSpace() || id.back().isSpace())
        return QStringLiteral("用户名的开头和结尾不能是空格。");
    for (const uint c : id.toUcs4()) {
        if (!QChar::isPrint(c))
            return QStringLiteral("用户名不能含有控制字符。");
    }
    return QString();
}

QString passwordProblem(const QString& password)
{
    if (password.isEmpty())
        return QStringLiteral("请填写密码。");
    if (characterCount(password) < MinPasswordLength)
        return QStringLiteral("密码至少需要 %1 个字符。").arg(MinPasswordLength);
    return QString();
}

void setTabOrder(std::initializer_list<QWidget*> widgets)
{
    QWidget* previous = nullptr;
    for (QWidget* widget : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

bool confirm(QWidget* parent, const QString& question)
{
    return QMessageBox::question(parent, QStringLiteral("确认"), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No)
        == QMessageBox::Yes;
}

} // namespace FormChecks
