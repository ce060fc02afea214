#pragma once

#include <QString>

// The client's own settings: client.ini (INI format) in the working directory, beside hostIP.txt.
// Read afresh by each operation, like the address file, so an edit counts from the next exchange.
class ClientSettings
{
public:
    static constexpr int DefaultTimeoutSeconds = 15;

    explicit ClientSettings(const QString& path = defaultPath());

    static QString defaultPath(); // "client.ini"

    // [network] timeoutSeconds: how long one exchange may wait for the server. A missing, non-numeric
    // or non-positive value gives the default.
    int timeoutSeconds() const { return m_timeoutSeconds; }

private:
    int m_timeoutSeconds = DefaultTimeoutSeconds;
};
