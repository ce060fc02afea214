#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

// The network a peer's address belongs to, as the registration limits count it: the /24 of an IPv4
// address, the /64 of an IPv6 one (a single IPv6 host commonly holds a whole /64). IPv4 peers of a
// dual-stack socket ("::ffff:192.0.2.7") count as IPv4.
namespace PeerNetwork {

// "192.0.2.0/24", "2001:db8:1:2::/64"; empty for a text that is no address.
QString of(const QString& peer);

// An address or a network typed by staff: "192.0.2.7", "192.0.2.0/24", "2001:db8::/64".
struct Range {
    QHostAddress address;
    int prefix = -1; // -1: the address alone
    bool contains(const QString& peer) const;
};
std::optional<Range> parse(const QString& text);

} // namespace PeerNetwork
