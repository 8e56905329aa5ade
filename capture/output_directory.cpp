#include "capture/output_directory.h"

#include "port/file.h"

[[gnu::hot]] bool MakeOutputDirectory(const std::string& directory, const char** problem) {
    *problem = nullptr;
    port::PathInfo info{};
    if (!port::ReadPathInfo(directory.c_str(), true, &info)) {
        // Missing (or out of sight): made anew, as this user's own.
        return port::MakeDirectory(directory.c_str());
    }
    if (!info.directory)
        return port::MakeDirectory(directory.c_str()); // says why it is none
    if (info.otherOwner)
        *problem = "another user owns it";
    else if (info.othersMayWrite)
        *problem = "others may write to it";
    return *problem == nullptr;
}
