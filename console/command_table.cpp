#include "console/command_table.h"

#include "common/text.h"
#include "console/arg_reader.h"
#include "console/input_line.h"

#include <cstring>
#include <vector>

bool AddCommand(const char* name, const char* description, CommandHandler handler) {
    if (console.commandCount >= kCommandRows)
        return false;
    ConsoleCommand& row = console.commands[console.commandCount];
    row.name = name;
    row.description = description;
    row.handler = handler;
    ++console.commandCount;
    return true;
}

void FailCommand() {
    console.lineFailed = true;
}

bool ExecuteLine(const char* line) {
    console.lineFailed = false;
    if (AsciiCompareNoCase(line, "help", 4) == 0) {
        ShowHelp(line);
        return true;
    }
    ArgReader reader(line);
    const char* word = reader.NextToken();
    // A line of separators alone names no command: it is ignored.
    if (word == nullptr)
        return true;
    for (int i = 0; i < console.commandCount; ++i) {
        if (AsciiEqualNoCase(console.commands[i].name.c_str(), word)) {
            console.commands[i].handler(&reader);
            return !console.lineFailed;
        }
    }
    WriteLogLine("No such command");
    return false;
}

void ShowHelp(std::string) {
    WriteLogLine("Help Command list:");
    WriteLogLine("");
    for (int i = 0; i < console.commandCount; ++i)
        WriteLogLine(console.commands[i].name + " = " + console.commands[i].description);
}

void CompleteCommand() {
    const char* typed = InputText();
    const std::size_t n = static_cast<std::size_t>(InputLength());

    std::vector<const char*> candidates;
    if (AsciiCompareNoCase("help", typed, n) == 0)
        candidates.push_back("help");
    for (int i = 0; i < console.commandCount; ++i)
        if (AsciiCompareNoCase(console.commands[i].name.c_str(), typed, n) == 0)
            candidates.push_back(console.commands[i].name.c_str());

    if (candidates.empty()) {
        WriteLogLine("Could not find a matching console command");
        return;
    }
    if (candidates.size() > 1) {
        std::string message = "Multiple matches found:";
        for (const char* candidate : candidates) {
            message += ' ';
            message += candidate;
        }
        WriteLogLine(message);
        return;
    }

    // One candidate: it replaces the line, cut to what a slot can hold.
    ReplaceInputLine(candidates[0], std::strlen(candidates[0]));
}
