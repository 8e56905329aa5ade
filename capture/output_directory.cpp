#include "capture/output_directory.h"

#include "port/process.h"
#include "port/system.h"

[[gnu::hot]] std::string PathProblem(const std::vector<port::PathComponent>& components,
                                     bool more) {
    for (std::size_t i = 0; i < components.size(); ++i) {
        const port::PathComponent& component = components[i];
        const bool last = i + 1 == components.size() && !more;
        const std::string what = last ? "it" : component.path;
        if (!component.trustedOwner)
            return "another user owns " + what;
        // A link's own mode means nothing; what it leads to is looked at
        // next. In a sticky directory no one else may move or remove what
        // root or this user owns: the component below it, whose owner is
        // checked next (one yet to be made will be the manager's).
        const bool above = i + 1 < components.size() || more;
        if (!component.link && component.othersMayWrite && !(component.sticky && above))
            return "others may write to " + what;
    }
    return std::string();
}

namespace {

// The components of the path, checked; false with *problem set (or empty
// for the system's refusal). *missing: the path checked lacks its last
// component (which alone is made).
[[gnu::hot]] bool CheckPath(const char* path, bool* missing, std::string* problem) {
    std::vector<port::PathComponent> components;
    if (!port::ReadPathComponents(path, &components, missing))
        return false;
    *problem = PathProblem(components, *missing);
    return problem->empty();
}

} // namespace

[[gnu::hot]] port::Handle OpenOutputDirectory(const std::string& directory, std::string* problem) {
    problem->clear();
    const char* path = directory.empty() ? "." : directory.c_str();
    bool missing = false;
    port::UniqueDirectory opened(port::OpenDirectory(path));
    if (!opened) {
        // Made only below a path that is checked, never through a link
        // planted above it.
        if (!CheckPath(path, &missing, problem) || !missing || !port::MakeDirectory(path))
            return port::kNullHandle;
        opened.Reset(port::OpenDirectory(path));
        if (!opened)
            return port::kNullHandle;
    }
    // Once the path is checked no one else can change it: the directory
    // opened is the one checked when it is the one at the path now.
    if (!CheckPath(path, &missing, problem))
        return port::kNullHandle;
    if (missing || !port::DirectoryStillAtPath(opened.Get(), path)) {
        *problem = "it was replaced while it was checked";
        return port::kNullHandle;
    }
    return opened.Release();
}

bool MakeOutputDirectory(const std::string& directory, std::string* problem) {
    return port::UniqueDirectory(OpenOutputDirectory(directory, problem)).Get() !=
           port::kNullHandle;
}

std::string OutputFileName(std::string_view name) {
    std::string file(name);
    for (char& c : file) {
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!kept)
            c = '_';
    }
    return file + ".log";
}

std::string OutputPath(const OutputSettings& output, std::string_view name) {
    std::string path = output.directory;
    if (!path.empty() && path.back() != '/' && path.back() != port::kPathSeparator)
        path += port::kPathSeparator;
    return path + OutputFileName(name);
}
