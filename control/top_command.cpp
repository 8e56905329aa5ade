#include "control/top_command.h"

#include "console/console.h"
#include "control/control_protocol.h"
#include "control/control_server.h"

#include <string_view>

void TopCommand(ArgReader*) {
    const std::string table = FormatStatusTable(CollectStatus());
    std::string_view rest = table;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        WriteLogLine(std::string(rest.substr(0, end)));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
}
