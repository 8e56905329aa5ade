// The environment a program of another user's account starts from: the
// account's own variables, a plain PATH and the locale, nothing else of the
// manager's.
#include "port/posix/backend.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(AccountEnvironment, TheAccountsVariablesAPlainPathAndTheLocaleOnly) {
    port::posix::Account account;
    account.name = "web";
    account.home = "/srv/web";
    account.shell = "/bin/dash";
    const char* const inherited[] = {"DB_PASSWORD=secret",
                                     "PATH=/root/bin:/usr/bin",
                                     "HOME=/root",
                                     "ZELKAPPMGR_RUNTIME_DIR=/run/zelk",
                                     "LANG=de_DE.UTF-8",
                                     "LC_TIME=en_GB.UTF-8",
                                     "LC_=not a locale variable",
                                     "LCX=nor this",
                                     "TZ=Europe/Berlin",
                                     "TZDIR=/usr/share/zoneinfo",
                                     "no equals sign",
                                     nullptr};
    EXPECT_EQ(
        (std::vector<std::string>{"HOME=/srv/web", "USER=web", "LOGNAME=web", "SHELL=/bin/dash",
                                  port::posix::kPlainPath, "LANG=de_DE.UTF-8",
                                  "LC_TIME=en_GB.UTF-8", "TZ=Europe/Berlin"}),
        port::posix::AccountEnvironment(account, inherited));
}

} // namespace
