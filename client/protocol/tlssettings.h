#pragma once

#include <QString>

#include <QStringList>

// The client's TLS choice, kept in client.ini (see ClientSettings) beside the address file (hostIP.txt
// stays as it is); unlike the other settings, the dialog and the first connection write it:
//   [tls] enabled, port, fingerprint (the pinned SHA-256 fingerprint of the server's certificate),
//   plainServers (servers without a TLS port whose plain port the user accepted, "host:port").
// TLS is on unless the file turns it off: passwords do not cross the network in clear text unless
// the user agreed to it for that server.
struct TlsSettings {
    static constexpr quint16 DefaultPort = 9443;

    bool enabled = true;
    quint16 port = DefaultPort;
    QString fingerprint; // empty: not trusted yet; the next connection asks
    QStringList plainServers;

    static QString serverName(const QString& host, quint16 port);
    bool plainAccepted(const QString& host, quint16 plainPort) const
    {
        return plainServers.contains(serverName(host, plainPort));
    }

    // client.ini in the folder of the address file.
    static QString pathBeside(const QString& addressFile);
    static TlsSettings load(const QString& iniPath);
    // Writes only the [tls] keys; other sections of the file stay.
    void save(const QString& iniPath) const;
};
