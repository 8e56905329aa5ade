// Bytes from a client -> the request framing; from the manager -> the reply
// reader. A request line is found alike however its bytes arrive, holds no
// line end and is never longer than a request; an encoded reply reads back
// alike, and each of its parts reads as incomplete.
#include "control/control_protocol.h"
#include "require.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string line;
    const RequestLine whole = FindRequestLine(bytes, true, &line);
    Require(whole != RequestLine::Incomplete, "all the bytes, ended, are never incomplete");
    Require(whole != RequestLine::Complete ||
                (line.size() <= kMaxRequestLength && line.find('\n') == std::string::npos &&
                 bytes.substr(0, line.size()) == line),
            "a request line begins the bytes, is short enough and holds no line feed");
    for (std::size_t n = 0; n < size; ++n) {
        std::string part;
        const RequestLine state = FindRequestLine(bytes.substr(0, n), false, &part);
        Require(state != RequestLine::TooLong || whole == RequestLine::TooLong,
                "a part is too long only when the whole is");
        if (state == RequestLine::Complete) {
            Require(part == line, "a line found early is the line of all the bytes");
            break;
        }
    }
    const ControlRequest request = DecodeRequest(line);
    std::string again;
    // (A CR at the end of a line is taken as part of its line end.)
    Require(request.kind != ControlRequest::Kind::Send || line.back() == '\r' ||
                (FindRequestLine(EncodeSendRequest(request.line), false, &again) ==
                     RequestLine::Complete &&
                 DecodeRequest(again).line == request.line),
            "a send request encodes and reads back alike");

    std::vector<std::string> lines; // the payload: the input cut at its line feeds
    for (std::size_t start = 0, end; (end = bytes.find('\n', start)) != bytes.npos; start = end + 1)
        lines.emplace_back(bytes.substr(start, end - start));
    const std::string reply = EncodeOkReply(lines);
    ControlReply read;
    Require(DecodeReply(reply, &read) == ReplyState::Complete && read.lines == lines,
            "an ok reply reads back alike");
    for (std::size_t n = 0; n < reply.size(); n += 1 + n / 8)
        Require(DecodeReply(std::string_view(reply).substr(0, n), &read) == ReplyState::Incomplete,
                "a part of a reply is incomplete");
    DecodeReply(bytes, &read); // whatever a peer sends is read without harm
    return 0;
}
