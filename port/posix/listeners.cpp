// Listening sockets on Linux: the LISTEN rows (state 0A) of /proc/net/tcp
// and /proc/net/tcp6, whose inodes are looked for among the descriptors of
// the processes asked about (/proc/<pid>/fd/N reads "socket:[inode]").
#include "port/probe.h"

#include "port/posix/backend.h"
#include "port/posix/proc_files.h"
#include "port/posix/unique_fd.h"
#include "port/tcp_listeners.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

namespace port {

namespace {

constexpr unsigned kListenState = 0x0A;

// The address of a row: the kernel prints each 32-bit word of it as the
// number its bytes make in this machine's order, so the number's bytes in
// memory are the address's.
bool ParseAddress(const char* hex, bool ipv6, AddressBytes* address) {
    const std::size_t words = ipv6 ? 4 : 1;
    if (std::strlen(hex) != words * 8)
        return false;
    std::uint8_t bytes[16];
    for (std::size_t i = 0; i < words; ++i) {
        char word[9];
        std::memcpy(word, hex + 8 * i, 8);
        word[8] = '\0';
        const auto value = static_cast<std::uint32_t>(std::strtoul(word, nullptr, 16));
        std::memcpy(bytes + 4 * i, &value, 4);
    }
    if (ipv6)
        std::memcpy(address->data(), bytes, 16);
    else
        *address = Ipv4Address(bytes);
    return true;
}

// Appends the listening rows of one table and their inodes. False when it
// cannot be read.
bool ReadTable(const char* path, bool ipv6, std::vector<TcpListenerRow>* rows,
               std::vector<unsigned long>* inodes) {
    std::string text;
    if (!posix::ReadWholeFile(AT_FDCWD, path, 0, &text))
        return false;
    std::size_t start = text.find('\n'); // past the heading
    while (start != std::string::npos && start + 1 < text.size()) {
        const std::size_t end = text.find('\n', start + 1);
        const std::string line = text.substr(start + 1, end - start - 1);
        start = end;
        char local[40];
        unsigned port = 0;
        unsigned state = 0;
        unsigned long inode = 0;
        // "sl: local:port remote:port st tx:rx tr:when retransmits uid timeout inode ..."
        if (std::sscanf(line.c_str(), " %*u: %39[0-9A-Fa-f]:%x %*s %x %*s %*s %*s %*u %*u %lu",
                        local, &port, &state, &inode) != 4 ||
            state != kListenState)
            continue;
        TcpListenerRow row{};
        row.port = static_cast<std::uint16_t>(port);
        if (!ParseAddress(local, ipv6, &row.address))
            continue;
        rows->push_back(row);
        inodes->push_back(inode);
    }
    return true;
}

// True when the process holds a descriptor of one of the sockets.
bool HoldsSocket(std::uint32_t processId, const std::vector<unsigned long>& sockets) {
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%u/fd", processId);
    const posix::UniqueDir directory(::opendir(path));
    if (!directory)
        return false;
    bool holds = false;
    while (!holds) {
        const dirent* entry = ::readdir(directory.Get());
        if (entry == nullptr)
            break;
        char target[64];
        const ssize_t length =
            ::readlinkat(::dirfd(directory.Get()), entry->d_name, target, sizeof target - 1);
        if (length <= 0)
            continue;
        target[length] = '\0';
        unsigned long inode = 0;
        char close = 0;
        if (std::sscanf(target, "socket:[%lu%c", &inode, &close) != 2 || close != ']')
            continue;
        for (unsigned long socket : sockets)
            holds = holds || socket == inode;
    }
    return holds;
}

} // namespace

Listener FindListener(const char* host, std::uint16_t port,
                      const std::vector<std::uint32_t>& processIds) {
    AddressBytes address{};
    std::uint8_t v4[4];
    if (::inet_pton(AF_INET, host, v4) == 1) {
        address = Ipv4Address(v4);
    } else if (::inet_pton(AF_INET6, host, address.data()) != 1) {
        posix::SetError(EINVAL);
        return Listener::Unknown;
    }
    std::vector<TcpListenerRow> rows;
    std::vector<unsigned long> inodes;
    const bool ipv4Read = ReadTable("/proc/net/tcp", false, &rows, &inodes);
    const bool ipv6Read = ReadTable("/proc/net/tcp6", true, &rows, &inodes);
    if (!ipv4Read && !ipv6Read)
        return Listener::Unknown;
    std::vector<unsigned long> taking;
    for (std::size_t row : ListenersTaking(rows, address, port))
        taking.push_back(inodes[row]);
    if (taking.empty())
        return Listener::None;
    for (std::uint32_t processId : processIds)
        if (HoldsSocket(processId, taking))
            return Listener::Own;
    return Listener::Other;
}

} // namespace port
