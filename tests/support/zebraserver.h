#pragma once

#include <QProcess>
#include <QTemporaryDir>

// A real Z39.50 and SRU server on loopback for the tests: Zebra indexes MARC records that a test
// writes as MARCXML (turned into ISO 2709 by yaz-marcdump), and zebrasrv answers both protocols on
// a free port, with titles indexed through ICU (Chinese titles are searchable) and CQL mapped to
// Bib-1 (YAZ's pqf.properties). The database is "Default".
class ZebraServer
{
public:
    ZebraServer();
    ~ZebraServer();
    ZebraServer(const ZebraServer&) = delete;
    ZebraServer& operator=(const ZebraServer&) = delete;

    // Why Zebra cannot run here (a reason to skip), or an empty string.
    static QString unavailableReason();

    // Indexes MARCXML records, MARC 21 or UNIMARC (each has its own field map). Before start().
    bool addRecords(const QByteArray& marcXml, bool unimarc);
    bool start();
    quint16 port() const { return m_port; }
    QString errorText() const { return m_error; }

    // yaz-marcdump turning MARCXML into ISO 2709, with its further options (e.g. "-t", "marc8").
    static QByteArray iso2709(const QByteArray& marcXml, const QStringList& options, QString* error);

private:
    bool run(const QString& program, const QStringList& arguments);

    QTemporaryDir m_dir;
    QProcess m_server;
    quint16 m_port = 0;
    int m_files = 0;
    QString m_error;
};
