// NOTIFY_SOCKET values -> the address of the service manager's socket: only
// an absolute path or an '@' name that fits is taken, and the address then
// holds exactly its bytes (the '@' as a zero byte), its length counting
// them and a path's terminator.
#include "port/posix/backend.h"
#include "require.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/un.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const std::size_t length = std::strlen(value.c_str()); // up to a zero byte
    sockaddr_un address{};
    socklen_t taken = 0;
    const bool path = value[0] == '/';
    Require(port::posix::NotifyAddress(value.c_str(), &address, &taken) ==
                ((path || value[0] == '@') && length < sizeof address.sun_path),
            "taken exactly when it is a path or a name that fits");
    Require(taken == 0 || (taken == offsetof(sockaddr_un, sun_path) + length + (path ? 1 : 0) &&
                           address.sun_path[0] == (path ? '/' : '\0') &&
                           std::memcmp(address.sun_path + 1, value.data() + 1, length - 1) == 0 &&
                           (!path || address.sun_path[length] == '\0')),
            "the address holds the bytes and its length counts them");
    return 0;
}
