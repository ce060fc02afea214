#include "userinfo.h"

#include "levels.h"

UserInfo::UserInfo(const QString& id, const QString& name, const QString& permission, const QString& password,
                   const QString& studentNumber, const QString& phoneNumber, const QString& email,
                   const QString& userInfo)
    : AccountRecord{id, name, permission, password, studentNumber, phoneNumber, email, userInfo}
{
}

UserInfo UserInfo::guest()
{
    const QString zeros = QStringLiteral("000000");
    return {QStringLiteral("Guest"),
            QStringLiteral("Guest"),
            QStringLiteral("public"),
            QStringLiteral("482916"),
            zeros,
            zeros,
            zeros,
            QString()};
}

QString UserInfo::getPermissionName(int code) const
{
    return Levels::englishName(code);
}

int UserInfo::getPermissionCode(const QString& englishName) const
{
    return Levels::code(englishName);
}

QString UserInfo::degradePermission(const QString& englishName) const
{
    return Levels::lowered(englishName);
}

QString UserInfo::escalatePermission(const QString& englishName) const
{
    return Levels::raised(englishName);
}

bool UserInfo::checkPermission(const QString& englishName) const
{
    return Levels::code(permission) >= Levels::code(englishName);
}

QString UserInfo::permissionToEnglish(const QString& chineseName) const
{
    return Levels::toEnglish(chineseName);
}

QString UserInfo::permissionToChinese(const QString& englishName) const
{
    return Levels::toChinese(englishName);
}
