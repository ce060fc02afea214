#pragma once

#include <QString>

// The server's address lives in a two-line text file in the working directory: host, then port.
// Every operation reads it afresh, and reading also rewrites it in its normal form ("host\nport",
// no line ending at the end), so the file exists after the first operation.
struct ServerAddress {
    QString host;
    quint16 port = 0;
};

namespace ServerAddressFile {

QString defaultPath(); // "hostIP.txt"
constexpr quint16 DefaultPort = 9999;

// Reads the file (missing or empty: 127.0.0.1; missing or bad port, or one outside 1..65535: 9999),
// removes every space, rewrites the file and returns the address to connect to.
ServerAddress load(const QString& path = defaultPath());

// The texts the address dialog shows. Like load(), but the port is checked before spaces are
// removed, and the file is rewritten with what is returned.
struct Texts {
    QString host;
    QString port;
};
Texts loadForDialog(const QString& path = defaultPath());

// Writes what the dialog's editors hold: a bad port becomes "9999", spaces are removed.
void save(const QString& hostText, const QString& portText, const QString& path = defaultPath());

} // namespace ServerAddressFile
