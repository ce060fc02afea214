#pragma once

#include <QString>
#include <QStringList>

// The account record the server sends after "PASS": eight strings in wire order.
struct UserInfo {
    QString id, name, permission, password, studentNumber, phoneNumber, email, userInfo;

    QStringList fields() const { return {id, name, permission, password, studentNumber, phoneNumber, email, userInfo}; }
};
