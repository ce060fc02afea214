#include "peernetwork.h"

#include <QPair>

namespace PeerNetwork {
namespace {

QHostAddress plain(const QString& text)
{
    QHostAddress address(text);
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4) : address;
}

} // namespace

QString of(const QString& peer)
{
    const QHostAddress address = plain(peer);
    if (address.isNull())
        return QString();
    const bool isIpv4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    const int prefix = isIpv4 ? 24 : 64;
    // The network's own address: the host part zeroed.
    if (isIpv4)
        return QHostAddress(address.toIPv4Address() & 0xFFFFFF00u).toString() + QStringLiteral("/24");
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = prefix / 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

std::optional<Range> parse(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.size() > 64)
        return std::nullopt;
    if (!trimmed.contains(QLatin1Char('/'))) {
        const QHostAddress address = plain(trimmed);
        if (address.isNull())
            return std::nullopt;
        return Range{address, -1};
    }
    const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(trimmed);
    if (subnet.first.isNull() || subnet.second < 0)
        return std::nullopt;
    // Too wide a net would take the whole library's registrations with it.
    const bool isIpv4 = subnet.first.protocol() == QAbstractSocket::IPv4Protocol;
    if (subnet.second < (isIpv4 ? 16 : 48))
        return std::nullopt;
    return Range{subnet.first, subnet.second};
}

bool Range::contains(const QString& peer) const
{
    const QHostAddress candidate = plain(peer);
    if (candidate.isNull())
        return false;
    if (prefix < 0)
        return candidate.isEqual(address);
    return candidate.isInSubnet(address, prefix);
}

} // namespace PeerNetwork
