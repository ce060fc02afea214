#pragma once

#include "records.h"

// The account record, with the level conversions the windows use.
class UserInfo : public AccountRecord
{
public:
    UserInfo() = default;
    UserInfo(const QString& id, const QString& name, const QString& permission, const QString& password,
             const QString& studentNumber, const QString& phoneNumber, const QString& email, const QString& userInfo);

    // The record the main window holds while nobody is logged in; its level "public" has code -1,
    // so it passes no permission check.
    static UserInfo guest();
    // Built from the eight strings that follow "PASS"; the caller has checked there are eight.
    static UserInfo fromRecord(const QStringList& record) { return UserInfo(AccountRecord::from(record)); }
    explicit UserInfo(const AccountRecord& record)
        : AccountRecord(record)
    {
    }

    QString getPermissionName(int code) const;
    int getPermissionCode(const QString& englishName) const;
    QString degradePermission(const QString& englishName) const;
    QString escalatePermission(const QString& englishName) const;
    // True when this record's level reaches the given level.
    bool checkPermission(const QString& englishName) const;
    QString permissionToEnglish(const QString& chineseName) const;
    QString permissionToChinese(const QString& englishName) const;
};
