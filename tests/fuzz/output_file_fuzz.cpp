// A program's output in writes of any size -> the output file and its
// rotation, over the fake port's files. The input describes the output (lines
// of many lengths, some longer than a file, and unfinished pieces), the sizes
// of the writes, the pauses that write an unfinished line as it stands, and
// the size limit. With room for every backup, the files, oldest first, hold
// exactly the output; each file ends at a line end unless the line it cuts is
// longer than the limit; and none passes twice the limit.
#include "capture/output_file.h"
#include "fake_port.h"
#include "require.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Enough output for a dozen rotations, little enough to stay quick.
constexpr std::size_t kMostOutput = 64 << 10;

// The output the input describes: lines made of a running count, so that
// any byte lost, doubled or moved shows.
std::string Output(const std::uint8_t* data, std::size_t size) {
    std::string text;
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < size && text.size() < kMostOutput; ++i) {
        const std::uint8_t c = data[i];
        std::size_t length = c < 200 ? c * 23u % 300 : c < 250 ? (c - 199u) * 400 : c;
        while (length-- > 0)
            text += static_cast<char>('a' + count++ % 26);
        if (c < 250)
            text += '\n';
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    fake::Reset();
    const std::uint64_t limit = kMinOutputMaxBytes + (data[0] % 8) * 1024;
    const std::string output = Output(data + 2, size - 2);
    // Two consecutive files hold more than the limit: this many keep all.
    const auto backups = static_cast<std::uint32_t>(2 * output.size() / limit + 2);
    {
        OutputFile file(CaptureSettings{"o.log", limit, backups, false});
        std::size_t at = 0;
        for (std::size_t i = 1; at < output.size(); ++i) {
            const std::uint8_t c = data[i % size];
            const std::size_t piece =
                std::min<std::size_t>(output.size() - at, c * 97u % 20000 + 1);
            file.Write(output.data() + at, piece);
            at += piece;
            if (c % 16 == (data[1] & 15)) // a pause: the unfinished line is written
                file.Flush();
        }
        file.Finish();
    }

    const auto& files = fake::Get().files;
    std::vector<std::string> kept;
    for (std::uint32_t n = backups; n > 0; --n)
        if (files.count(BackupPath("o.log", n)) != 0)
            kept.push_back(files.at(BackupPath("o.log", n)));
    kept.push_back(files.count("o.log") != 0 ? files.at("o.log") : std::string());
    Require(files.count(BackupPath("o.log", backups)) == 0, "no backup was dropped");

    std::string all;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const std::string& text = kept[k];
        Require(text.size() <= 2 * limit, "no file passes twice the limit");
        all += text;
        if (k + 1 == kept.size() || text.empty() || text.back() == '\n')
            continue;
        // Cut inside a line: only one longer than the limit.
        const std::size_t begin = all.rfind('\n') == std::string::npos ? 0 : all.rfind('\n') + 1;
        const std::size_t end = output.find('\n', all.size());
        const std::size_t line = (end == std::string::npos ? output.size() : end + 1) - begin;
        Require(line > limit, "a file ends inside a line only when the line is longer than a file");
    }
    Require(all == output, "the files hold exactly the output");
    return 0;
}
