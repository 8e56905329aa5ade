// Listening sockets on Windows: GetExtendedTcpTable's listener tables for
// IPv4 and IPv6, whose rows carry the id of the process that owns each
// (Wine gives 0 for every one: there the owner is not known).
#include "port/probe.h"

#include "port/tcp_listeners.h"
#include "port/win32/native.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After the socket headers: iphlpapi.h needs their types.
#include <iphlpapi.h>

#include <algorithm>
#include <cstring>

namespace port {

namespace {

// The table of one family (AF_INET or AF_INET6): its rows and their
// owners. False when it cannot be read.
bool ReadTable(ULONG family, std::vector<TcpListenerRow>* rows, std::vector<DWORD>* owners) {
    std::vector<char> buffer(16384);
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size);
        result = ::GetExtendedTcpTable(buffer.data(), &size, FALSE, family,
                                       TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    if (result != NO_ERROR) {
        ::SetLastError(result);
        return false;
    }
    if (family == AF_INET) {
        const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCPROW_OWNER_PID& row = table->table[i];
            std::uint8_t bytes[4];
            std::memcpy(bytes, &row.dwLocalAddr, 4); // network order in memory
            rows->push_back(
                TcpListenerRow{Ipv4Address(bytes), ::ntohs(static_cast<u_short>(row.dwLocalPort))});
            owners->push_back(row.dwOwningPid);
        }
    } else {
        const auto* table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(buffer.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCP6ROW_OWNER_PID& row = table->table[i];
            TcpListenerRow listener{};
            std::memcpy(listener.address.data(), row.ucLocalAddr, 16);
            listener.port = ::ntohs(static_cast<u_short>(row.dwLocalPort));
            rows->push_back(listener);
            owners->push_back(row.dwOwningPid);
        }
    }
    return true;
}

} // namespace

Listener FindListener(const char* host, std::uint16_t port,
                      const std::vector<std::uint32_t>& processIds) {
    AddressBytes address{};
    in_addr v4{};
    if (::inet_pton(AF_INET, host, &v4) == 1) {
        address = Ipv4Address(reinterpret_cast<const std::uint8_t*>(&v4));
    } else if (::inet_pton(AF_INET6, host, address.data()) != 1) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return Listener::Unknown;
    }
    std::vector<TcpListenerRow> rows;
    std::vector<DWORD> owners;
    const bool ipv4Read = ReadTable(AF_INET, &rows, &owners);
    const bool ipv6Read = ReadTable(AF_INET6, &rows, &owners);
    if (!ipv4Read && !ipv6Read)
        return Listener::Unknown;
    const std::vector<std::size_t> taking = ListenersTaking(rows, address, port);
    if (taking.empty())
        return Listener::None;
    bool ownerUntold = false;
    for (std::size_t row : taking) {
        if (std::find(processIds.begin(), processIds.end(), owners[row]) != processIds.end())
            return Listener::Own;
        // No socket belongs to process 0 (the idle process): it is the
        // owner where the system does not tell one (Wine).
        ownerUntold = ownerUntold || owners[row] == 0;
    }
    return ownerUntold ? Listener::Unknown : Listener::Other;
}

} // namespace port
