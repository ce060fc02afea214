#pragma once

#include <QString>

// The client's TLS choice, kept in client.ini (see ClientSettings) beside the address file (hostIP.txt
// stays as it is); unlike the other settings, the dialog and the first connection write it:
//   [tls] enabled, port, fingerprint (the pinned SHA-256 fingerprint of the server's certificate).
// Without the file, or with TLS off, the client speaks the plain protocol as documented.
struct TlsSettings {
    static constexpr quint16 DefaultPort = 9443;

    bool enabled = false;
    quint16 port = DefaultPort;
    QString fingerprint; // empty: not trusted yet; the next connection asks

    // client.ini in the folder of the address file.
    static QString pathBeside(const QString& addressFile);
    static TlsSettings load(const QString& iniPath);
    // Writes only the [tls] keys; other sections of the file stay.
    void save(const QString& iniPath) const;
};
