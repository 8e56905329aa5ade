#include "capture/output_file.h"

#include "common/text.h"
#include "port/system.h"

#include <algorithm>
#include <cstdio>
#include <utility>

std::string BackupPath(const std::string& path, std::uint32_t n) {
    return n == 0 ? path : path + "." + std::to_string(n);
}

OutputFile::OutputFile(CaptureSettings settings) : settings_(std::move(settings)) {
    settings_.maxBytes = std::max(settings_.maxBytes, kMinOutputMaxBytes);
}

bool OutputFile::Open() {
    file_.Reset(port::OpenAppendFile(settings_.path.c_str()));
    if (!file_ || !port::FileSize(file_.Get(), &size_)) {
        lostError_ = port::LastError();
        file_.Reset();
        return false;
    }
    if (size_ == 0)
        endsWithLine_ = true; // else as far as this process knows
    return true;
}

void OutputFile::Rotate() {
    file_.Reset();
    const std::string& path = settings_.path;
    if (settings_.backups == 0) {
        port::RemoveFile(path.c_str());
        return;
    }
    // The oldest is replaced by the one after it, and so on down.
    for (std::uint32_t n = settings_.backups; n > 1; --n)
        port::RenameFile(BackupPath(path, n - 1).c_str(), BackupPath(path, n).c_str());
    port::RenameFile(path.c_str(), BackupPath(path, 1).c_str());
}

bool OutputFile::Put(const char* data, std::size_t length) {
    while (length > 0) {
        if (!file_ && !Open()) {
            lost_ += length;
            return false;
        }
        const std::uint64_t room = settings_.maxBytes > size_ ? settings_.maxBytes - size_ : 0;
        std::size_t cut = length;
        bool rotate = false;
        if (length > room) {
            // What fits ends at its last line end; with none there, the file
            // is rotated first when it ends a line, else cut where it is full.
            cut = static_cast<std::size_t>(room);
            while (cut > 0 && data[cut - 1] != '\n')
                --cut;
            if (cut == 0 && !(endsWithLine_ && size_ > 0))
                cut = static_cast<std::size_t>(room);
            rotate = true;
        }
        std::uint32_t written = 0;
        const bool ok = cut == 0 || port::AppendToFile(file_.Get(), data,
                                                       static_cast<std::uint32_t>(cut), &written);
        size_ += written;
        if (written > 0)
            endsWithLine_ = data[written - 1] == '\n';
        if (!ok) {
            lostError_ = port::LastError();
            lost_ += length - written;
            file_.Reset(); // opened again for the next bytes
            return false;
        }
        data += cut;
        length -= cut;
        if (rotate)
            Rotate();
    }
    return true;
}

bool OutputFile::PutLossNote() {
    if (lost_ == 0)
        return true;
    char note[160];
    std::snprintf(note, sizeof note, "%szelkappmgr: %llu bytes of output were lost (error %u)\n",
                  endsWithLine_ ? "" : "\n", static_cast<unsigned long long>(lost_),
                  static_cast<unsigned>(lostError_));
    std::string line = settings_.timestamps ? TimeStamp() + " " + note : std::string(note);
    const std::uint64_t lost = lost_;
    lost_ = 0;
    if (Put(line.data(), line.size()))
        return true;
    lost_ = lost; // still owed; the note's own bytes are no output
    return false;
}

void OutputFile::Write(const char* data, std::size_t length) {
    if (!PutLossNote()) {
        lost_ += length;
        return;
    }
    if (!settings_.timestamps) {
        Put(data, length);
        return;
    }
    std::string stamped;
    stamped.reserve(length + 32);
    const std::string stamp = TimeStamp() + " ";
    for (std::size_t i = 0; i < length; ++i) {
        if (atLineStart_)
            stamped += stamp;
        stamped += data[i];
        atLineStart_ = data[i] == '\n';
    }
    Put(stamped.data(), stamped.size());
}

void OutputFile::Finish() {
    PutLossNote();
}
