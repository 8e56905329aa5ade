// Arguments (the input cut at its zero bytes) -> the capture process's
// reading of them. What is read is written back by CaptureArguments to
// what reads alike; what is refused leaves the settings as they were.
#include "capture/capture_arguments.h"
#include "require.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

bool Same(const CaptureSettings& a, const CaptureSettings& b) {
    return a.path == b.path && a.maxBytes == b.maxBytes && a.backups == b.backups &&
           a.timestamps == b.timestamps && a.readyLine.text == b.readyLine.text &&
           (a.readyLine.text.empty() || a.readyLine.name == b.readyLine.name);
}

bool Parse(const std::vector<std::string>& words, CaptureSettings* settings) {
    std::vector<const char*> arguments;
    for (const std::string& word : words)
        arguments.push_back(word.c_str());
    arguments.push_back(nullptr);
    return ParseCaptureArguments(static_cast<int>(words.size()), arguments.data(), settings);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size; ++i)
        data[i] == 0 ? words.emplace_back() : words.back() += static_cast<char>(data[i]);
    const CaptureSettings before{"unchanged", 1, 2, true, {"app", "ready"}};
    CaptureSettings read = before, again;
    if (Parse(words, &read))
        Require(read.maxBytes <= kMaxOutputMaxBytes && Parse(CaptureArguments(read), &again) &&
                    Same(again, read),
                "what is read is within bounds and written back to what reads alike");
    else
        Require(Same(read, before), "arguments that are refused change nothing");
    return 0;
}
