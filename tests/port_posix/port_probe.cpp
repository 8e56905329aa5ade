// A tiny program the process tests start with StartProgram. It writes what it
// received and where it runs to the file named by its first argument:
//   arg <text>            one line per argv entry, argv[0] first
//   cwd <path>
//   fd <n> <target>       one line per open descriptor
//   leader <0|1>          whether it leads its own session
//   sigign <hex>          SigIgn and SigBlk of /proc/self/status
//   sigblk <hex>
// and exits with status 0.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    std::string report;
    for (int i = 0; i < argc; ++i)
        report += std::string("arg ") + argv[i] + "\n";

    char cwd[4096];
    if (getcwd(cwd, sizeof cwd))
        report += std::string("cwd ") + cwd + "\n";

    // Descriptors, before this program opens anything of its own.
    DIR* fds = opendir("/proc/self/fd");
    if (fds) {
        const int own = dirfd(fds);
        while (const dirent* entry = readdir(fds)) {
            if (entry->d_name[0] == '.')
                continue;
            const int fd = std::atoi(entry->d_name);
            if (fd == own)
                continue;
            char target[4096] = {};
            std::string link = std::string("/proc/self/fd/") + entry->d_name;
            ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            report += "fd " + std::to_string(fd) + " " + (n > 0 ? target : "?") + "\n";
        }
        closedir(fds);
    }

    report += std::string("leader ") + (getsid(0) == getpid() ? "1" : "0") + "\n";

    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, status)) {
            if (std::strncmp(line, "SigIgn:", 7) == 0)
                report += std::string("sigign ") + (line + 8);
            else if (std::strncmp(line, "SigBlk:", 7) == 0)
                report += std::string("sigblk ") + (line + 8);
        }
        std::fclose(status);
    }

    FILE* out = std::fopen(argv[1], "w");
    if (!out)
        return 3;
    std::fputs(report.c_str(), out);
    std::fclose(out);
    return 0;
}
