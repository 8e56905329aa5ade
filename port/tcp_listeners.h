// Which listening sockets of the system's table take a connection to an
// address: the rule both back ends apply to the rows they read (Linux:
// /proc/net/tcp and tcp6; Windows: GetExtendedTcpTable).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace port {

// An address in IPv6 form: an IPv4 address a.b.c.d as ::ffff:a.b.c.d.
using AddressBytes = std::array<std::uint8_t, 16>;

// The IPv4 address whose four bytes (in network order) are `bytes`.
AddressBytes Ipv4Address(const std::uint8_t* bytes);

// A listening socket: the local address and port it is bound to.
struct TcpListenerRow {
    AddressBytes address;
    std::uint16_t port;
};

// The rows that take a connection to `host` on `port`, as the system
// chooses among them: those bound to that very address, else those bound
// to a wildcard that covers it (0.0.0.0 for an IPv4 address; :: for both
// families, as a dual-stack socket takes IPv4 too). Their indices, in
// table order.
std::vector<std::size_t> ListenersTaking(const std::vector<TcpListenerRow>& rows,
                                         const AddressBytes& host, std::uint16_t port);

} // namespace port
