#include "formchecks.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpressionValidator>

namespace FormChecks {

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

QString problemText(const AccountFields::Finding& finding)
{
    using AccountFields::Field;
    using AccountFields::Problem;
    const Field field = finding.field;
    const int max = AccountFields::maxLength(field);
    switch (finding.problem) {
    case Problem::Empty:
        return field == Field::Id ? QStringLiteral("请填写用户名。") : QStringLiteral("请填写密码。");
    case Problem::TooShort:
        return QStringLiteral("密码至少需要 %1 个字符。").arg(AccountFields::MinPasswordLength);
    case Problem::TooLong:
        switch (field) {
        case Field::Id:
            return QStringLiteral("用户名最多 %1 个字符。").arg(max);
        case Field::Password:
            return QStringLiteral("密码最多 %1 个字符。").arg(max);
        case Field::Name:
            return QStringLiteral("姓名最多 %1 个字符。").arg(max);
        case Field::StudentNumber:
            return QStringLiteral("学号最多 %1 个字符。").arg(max);
        case Field::Phone:
            return QStringLiteral("电话最多 %1 个字符。").arg(max);
        case Field::Email:
            return QStringLiteral("邮箱最多 %1 个字符。").arg(max);
        case Field::Notes:
            return QStringLiteral("备注最多 %1 个字符。").arg(max);
        }
        break;
    case Problem::ControlCharacter:
        return field == Field::Id ? QStringLiteral("用户名不能含有控制字符。")
                                  : QStringLiteral("填写的内容含有控制字符，请删除后再试。");
    case Problem::SpaceAtEnd:
        return QStringLiteral("用户名的开头和结尾不能是空格。");
    case Problem::NotAnEmail:
        return QStringLiteral("邮箱地址的格式不对（例如 name@example.com）。");
    }
    return QString();
}

QString userIdProblem(const QString& id)
{
    const std::optional<AccountFields::Problem> problem = AccountFields::problemOf(AccountFields::Field::Id, id);
    return problem ? problemText({AccountFields::Field::Id, *problem}) : QString();
}

QString passwordProblem(const QString& password)
{
    const std::optional<AccountFields::Problem> problem =
        AccountFields::problemOf(AccountFields::Field::Password, password);
    return problem ? problemText({AccountFields::Field::Password, *problem}) : QString();
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
