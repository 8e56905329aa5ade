#include "capture/output_file.h"

#include "capture/output_directory.h"
#include "common/text.h"
#include "port/process.h"
#include "port/system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr int kAcquireTurns = 1000;

// The writes made in one hold of the lock, at most, while the program
// writes on: others wait no longer than that.
constexpr int kEmitsPerLock = 32;

std::string ErrorText(std::uint32_t error) {
    return "error " + std::to_string(error);
}

// Where the directory part of an output file's path ends; npos for a bare
// name.
std::size_t DirectoryEnd(const std::string& path) {
    return path.find_last_of(std::string("/") + port::kPathSeparator);
}

// The directory part of an output file's path; empty for a bare name.
std::string DirectoryOf(const std::string& path) {
    const std::size_t cut = DirectoryEnd(path);
    return cut == std::string::npos ? std::string() : path.substr(0, cut == 0 ? 1 : cut);
}

// The file's name in its directory.
std::string NameOf(const std::string& path) {
    const std::size_t cut = DirectoryEnd(path);
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The length of `data` up to and with its last line end; 0 without one.
// (memchr from line to line: a byte-by-byte scan of a long line costs more
// than the rest of the capture.)
[[gnu::hot]] std::size_t WholeLines(const char* data, std::size_t length) {
    std::size_t whole = 0;
    while (const void* end = std::memchr(data + whole, '\n', length - whole))
        whole = static_cast<std::size_t>(static_cast<const char*>(end) - data) + 1;
    return whole;
}

// BackupPath into `out`, which has room for the path and 12 more bytes.
[[gnu::hot]] void NumberedPath(const std::string& path, std::uint32_t n, char* out) {
    std::memcpy(out, path.data(), path.size());
    char* end = out + path.size();
    if (n > 0) {
        char digits[11];
        int count = 0;
        for (; n > 0; n /= 10)
            digits[count++] = static_cast<char>('0' + n % 10);
        *end++ = '.';
        while (count > 0)
            *end++ = digits[--count];
    }
    *end = '\0';
}

} // namespace

std::string BackupPath(const std::string& path, std::uint32_t n) {
    return n == 0 ? path : path + "." + std::to_string(n);
}

OutputFile::OutputFile(CaptureSettings settings)
    : settings_(std::move(settings)), directory_(DirectoryOf(settings_.path)),
      name_(NameOf(settings_.path)) {
    settings_.maxBytes = std::max(settings_.maxBytes, kMinOutputMaxBytes);
}

void OutputFile::Prepare() {
    std::string problem;
    directoryHeld_.Reset(OpenOutputDirectory(directory_, &problem));
}

[[gnu::hot]] const char* OutputFile::DirectoryPath() const {
    return directory_.empty() ? "." : directory_.c_str();
}

[[gnu::hot]] void OutputFile::Close() {
    file_.Reset(); // which gives the lock back
    locked_ = false;
}

[[gnu::hot]] bool OutputFile::Open() {
    std::string problem;
    directoryHeld_.Reset(OpenOutputDirectory(directory_, &problem));
    if (!directoryHeld_) {
        lostWhy_ = !problem.empty() ? "output directory: " + problem : ErrorText(port::LastError());
        return false;
    }
    file_.Reset(port::OpenOutputFile(directoryHeld_.Get(), name_.c_str()));
    if (!file_) {
        lostWhy_ = ErrorText(port::LastError());
        return false;
    }
    return true;
}

[[gnu::hot]] bool OutputFile::Acquire() {
    if (locked_)
        return true;
    // Another capture process may rotate the file while this one waits for
    // its lock: then the new file is opened. Each turn lost is another's
    // progress; only a path replaced for good runs out of turns.
    for (int turn = 0; turn < kAcquireTurns; ++turn) {
        if (!file_ && !Open())
            return false;
        if (!port::LockFile(file_.Get())) {
            lostWhy_ = ErrorText(port::LastError());
            Close();
            return false;
        }
        if (port::OutputFileStillThere(file_.Get(), directoryHeld_.Get(), name_.c_str(), &size_) &&
            port::DirectoryStillAtPath(directoryHeld_.Get(), DirectoryPath())) {
            if (size_ == 0)
                lineSoFar_ = 0;
            locked_ = true;
            emitsLocked_ = 0;
            return true;
        }
        // Renamed, removed or replaced since it was opened.
        Close();
        lineSoFar_ = 0;
    }
    lostWhy_ = "the file kept being replaced";
    return false;
}

[[gnu::hot]] void OutputFile::Emit(const Piece* pieces, int count) {
    std::size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += pieces[i].length;
    if (total == 0 && lost_ == 0)
        return;
    if (!Acquire()) {
        lost_ += total;
        return;
    }
    bool ok = PutLossNote();
    for (int i = 0; i < count; ++i) {
        if (ok)
            ok = Put(pieces[i].data, pieces[i].length);
        else
            lost_ += pieces[i].length;
    }
    // Held on while the program writes on, but not for ever.
    if (++emitsLocked_ >= kEmitsPerLock)
        Release();
}

[[gnu::hot]] void OutputFile::Release() {
    if (locked_)
        port::UnlockFile(file_.Get());
    locked_ = false;
}

[[gnu::hot]] bool OutputFile::Locked() const {
    return locked_;
}

[[gnu::hot]] bool OutputFile::Put(const char* data, std::size_t length) {
    const std::uint64_t limit = settings_.maxBytes;
    while (length > 0) {
        if (!locked_ && !Acquire()) {
            lost_ += length;
            return false;
        }
        const char* end = static_cast<const char*>(std::memchr(data, '\n', length));
        const std::size_t piece =
            end != nullptr ? static_cast<std::size_t>(end - data) + 1 : length;
        const std::uint64_t room = limit > size_ ? limit - size_ : 0;
        // A line that does not fit starts the next file, unless it is longer
        // than a file: such a line is cut where the file is full.
        const bool longLine =
            lineSoFar_ == 0 ? piece > room && size_ == 0 : lineSoFar_ + piece > limit;
        std::size_t cut = piece;
        std::uint64_t full = limit; // what the file may hold after this write
        if (longLine ? room == 0 : lineSoFar_ == 0 && piece > room) {
            if (Rotate())
                continue;
            // Not rotated: the file grows on, to twice its limit; past it,
            // what comes is dropped until a rotation works.
            full = 2 * limit;
            if (size_ + piece > full) {
                lost_ += length;
                lostWhy_ = rotateWhy_;
                return false;
            }
        } else if (longLine) {
            cut = static_cast<std::size_t>(std::min<std::uint64_t>(piece, room));
        }
        if (cut == piece && end != nullptr && size_ + piece < full) {
            // The whole lines after it that fit go with it, in one write.
            const std::uint64_t left = full - size_ - piece;
            cut +=
                WholeLines(data + piece,
                           static_cast<std::size_t>(std::min<std::uint64_t>(length - piece, left)));
        }
        std::uint32_t written = 0;
        const bool ok =
            port::AppendToFile(file_.Get(), data, static_cast<std::uint32_t>(cut), &written);
        size_ += written;
        if (written > 0 && data[written - 1] == '\n')
            lineSoFar_ = 0;
        else if (written > 0)
            lineSoFar_ =
                written > piece ? written - WholeLines(data, written) : lineSoFar_ + written;
        if (!ok) {
            lostWhy_ = ErrorText(port::LastError());
            lost_ += length - written;
            Close(); // opened again for the next bytes
            return false;
        }
        data += cut;
        length -= cut;
    }
    return true;
}

[[gnu::hot]] bool OutputFile::PutLossNote() {
    if (lost_ == 0)
        return true;
    char note[96];
    std::snprintf(note, sizeof note, "%llu bytes of output were lost",
                  static_cast<unsigned long long>(lost_));
    const std::string line = NoteLine(note + (" (" + lostWhy_ + ")"));
    const std::uint64_t lost = lost_;
    lost_ = 0;
    if (Put(line.data(), line.size()))
        return true;
    lost_ = lost; // still owed; the note's own bytes are no output
    return false;
}

std::string OutputFile::NoteLine(const std::string& text) const {
    return std::string(lineSoFar_ > 0 ? "\n" : "") +
           (settings_.timestamps ? TimeStamp() + " " : std::string()) + "zelkappmgr: " + text +
           "\n";
}

void OutputFile::PutNote(const std::string& text) {
    const std::string line = NoteLine(text);
    std::uint32_t written = 0;
    port::AppendToFile(file_.Get(), line.data(), static_cast<std::uint32_t>(line.size()), &written);
    size_ += written;
    if (written == line.size())
        lineSoFar_ = 0;
}

[[gnu::hot]] bool OutputFile::Rotate() {
    // The clock is read only after a failure: code that only a failure
    // runs stays out of memory.
    if (rotateFailed_ && port::NowMs() - rotateFailedMs_ < kRotateRetryMs)
        return false;
    if (RenameBackups()) {
        Close();
        size_ = 0;
        lineSoFar_ = 0;
        rotateFailed_ = false;
        return true;
    }
    rotateWhy_ = ErrorText(port::LastError());
    rotateFailedMs_ = port::NowMs();
    if (!rotateFailed_)
        PutNote("could not rotate " + settings_.path + " (" + rotateWhy_ +
                "); it grows on, to twice its limit");
    rotateFailed_ = true;
    return false;
}

[[gnu::hot]] bool OutputFile::RenameBackups() {
    // In the directory held: the file is there (a lock was taken on it).
    const port::Handle directory = directoryHeld_.Get();
    const std::string& name = name_;
    if (settings_.backups == 0)
        return port::RemoveFile(directory, name.c_str());
    // The oldest is replaced by the one after it, and so on down; what is
    // no regular file (a directory, a link) is never moved. (The names are
    // made in place: a rotation runs no more code than it must.)
    char from[4096];
    char to[4096];
    if (name.size() + 12 > sizeof from)
        return port::RenameFile(directory, name.c_str(), BackupPath(name, 1).c_str());
    for (std::uint32_t n = settings_.backups; n > 0; --n) {
        NumberedPath(name, n - 1, from);
        NumberedPath(name, n, to);
        port::PathInfo info{};
        if (n == 1 ? !port::RenameFile(directory, from, to)
                   : port::ReadPathInfo(from, false, &info, directory) && info.regularFile &&
                         !port::RenameFile(directory, from, to))
            return false;
    }
    return true;
}

const std::string& OutputFile::Stamped(const char* data, std::size_t length) {
    stamped_.clear();
    const std::string stamp = TimeStamp() + " ";
    for (std::size_t i = 0; i < length; ++i) {
        if (atLineStart_)
            stamped_ += stamp;
        stamped_ += data[i];
        atLineStart_ = data[i] == '\n';
    }
    return stamped_;
}

[[gnu::hot]] void OutputFile::Write(const char* data, std::size_t length) {
    if (settings_.timestamps) {
        const std::string& stamped = Stamped(data, length);
        data = stamped.data();
        length = stamped.size();
    }
    const std::size_t whole = WholeLines(data, length);
    const std::size_t rest = length - whole;
    Piece pieces[3];
    int count = 0;
    if (whole == 0 && heldLength_ + rest <= kHeldBytes) {
        // Still no line end: held on.
    } else if (heldLength_ > 0) {
        // The held start of a line goes with its end, together when they fit.
        const std::size_t first =
            whole > 0 ? static_cast<std::size_t>(
                            static_cast<const char*>(std::memchr(data, '\n', whole)) - data) +
                            1
                      : 0;
        if (first > 0 && heldLength_ + first <= kHeldBytes) {
            std::memcpy(held_ + heldLength_, data, first);
            pieces[count++] = {held_, heldLength_ + first};
            pieces[count++] = {data + first, whole - first};
        } else {
            pieces[count++] = {held_, heldLength_};
            pieces[count++] = {data, whole};
        }
    } else {
        pieces[count++] = {data, whole};
    }
    // The unfinished end: held back, unless it is too long for that.
    const bool holdRest = rest <= kHeldBytes && (count > 0 || heldLength_ + rest <= kHeldBytes);
    if (!holdRest)
        pieces[count++] = {data + whole, rest};
    if (count > 0) {
        Emit(pieces, count);
        heldLength_ = 0;
    }
    if (holdRest && rest > 0) {
        std::memcpy(held_ + heldLength_, data + whole, rest);
        heldLength_ += rest;
    }
}

[[gnu::hot]] bool OutputFile::Holding() const {
    return heldLength_ > 0;
}

void OutputFile::Flush() {
    if (heldLength_ == 0)
        return;
    const Piece piece{held_, heldLength_};
    Emit(&piece, 1);
    heldLength_ = 0;
}

void OutputFile::Finish() {
    Flush();
    Emit(nullptr, 0);
}
