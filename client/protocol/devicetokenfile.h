#pragma once

#include <QString>

// The device tokens the server gave this PC's logins, one per server and account, in client.ini
// beside the address file ([devices]). Presented at the next login of that account here, a token
// keeps guesses at the account from elsewhere from locking its owner out at this PC. It is no
// credential: the password is needed as ever.
namespace DeviceTokenFile {

QString load(const QString& iniPath, const QString& host, quint16 port, const QString& account);
void save(const QString& iniPath, const QString& host, quint16 port, const QString& account, const QString& token);

} // namespace DeviceTokenFile
