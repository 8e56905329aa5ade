#include "port/tcp_listeners.h"

namespace port {

namespace {

constexpr AddressBytes kAnyAddress{}; // ::

bool IsIpv4(const AddressBytes& address) {
    for (int i = 0; i < 10; ++i)
        if (address[i] != 0)
            return false;
    return address[10] == 0xFF && address[11] == 0xFF;
}

// 0.0.0.0 in IPv6 form.
AddressBytes AnyIpv4() {
    static constexpr std::uint8_t kZero[4] = {0, 0, 0, 0};
    return Ipv4Address(kZero);
}

} // namespace

AddressBytes Ipv4Address(const std::uint8_t* bytes) {
    AddressBytes address{};
    address[10] = 0xFF;
    address[11] = 0xFF;
    for (int i = 0; i < 4; ++i)
        address[12 + i] = bytes[i];
    return address;
}

std::vector<std::size_t> ListenersTaking(const std::vector<TcpListenerRow>& rows,
                                         const AddressBytes& host, std::uint16_t port) {
    std::vector<std::size_t> exact;
    std::vector<std::size_t> wildcard;
    const AddressBytes anyIpv4 = AnyIpv4();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TcpListenerRow& row = rows[i];
        if (row.port != port)
            continue;
        if (row.address == host)
            exact.push_back(i);
        else if (row.address == kAnyAddress || (IsIpv4(host) && row.address == anyIpv4))
            wildcard.push_back(i);
    }
    return exact.empty() ? wildcard : exact;
}

} // namespace port
