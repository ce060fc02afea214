#include "serveraddressfile.h"

#include <QFile>
#include <QTextStream>

namespace ServerAddressFile {
namespace {

const QString defaultPortText = QString::number(DefaultPort);

// Port numbers outside 1..65535 would be truncated to 16 bits by the socket: treat them as bad.
bool toPort(const QString& text, quint16* port = nullptr)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < 1 || value > 65535)
        return false;
    if (port)
        *port = quint16(value);
    return true;
}

QString withoutSpaces(QString text)
{
    return text.remove(QLatin1Char(' '));
}

Texts readRaw(const QString& path)
{
    Texts texts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {QStringLiteral("127.0.0.1"), QString()};
    QTextStream in(&file);
    texts.host = in.atEnd() ? QStringLiteral("127.0.0.1") : in.readLine();
    if (!in.atEnd())
        texts.port = in.readLine();
    return texts;
}

void write(const Texts& texts, const QString& path)
{
    // The values in memory are used whether or not the write succeeds.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QTextStream out(&file);
    out << texts.host << '\n' << texts.port;
}

} // namespace

QString defaultPath()
{
    return QStringLiteral("hostIP.txt");
}

ServerAddress load(const QString& path)
{
    Texts texts = readRaw(path);
    texts.host = withoutSpaces(texts.host);
    texts.port = withoutSpaces(texts.port);
    ServerAddress address{texts.host, DefaultPort};
    if (!toPort(texts.port, &address.port))
        texts.port = defaultPortText;
    write(texts, path);
    return address;
}

Texts loadForDialog(const QString& path)
{
    Texts texts = readRaw(path);
    if (!toPort(texts.port))
        texts.port = defaultPortText;
    texts.host = withoutSpaces(texts.host);
    texts.port = withoutSpaces(texts.port);
    write(texts, path);
    return texts;
}

void save(const QString& hostText, const QString& portText, const QString& path)
{
    Texts texts{hostText, portText};
    if (!toPort(texts.port))
        texts.port = defaultPortText;
    texts.host = withoutSpaces(texts.host);
    texts.port = withoutSpaces(texts.port);
    write(texts, path);
}

} // namespace ServerAddressFile
