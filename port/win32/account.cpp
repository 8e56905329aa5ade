#include "port/win32/account.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <sddl.h>

namespace port::win32 {

std::string UserSid() {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened))
        return std::string();
    const ScopedHandle owner(opened);
    const HANDLE token = owner.Get();
    std::string result;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
        char* text = nullptr;
        if (::ConvertSidToStringSidA(user->User.Sid, &text)) {
            result = text;
            ::LocalFree(text);
        }
    }
    return result;
}

} // namespace port::win32
