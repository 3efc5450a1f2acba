// Shared pieces of the fuzz targets: the readers take a path, so each input is
// handed to them through an anonymous in-memory file.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/sample.h"

namespace lorvane::fuzz {

// An anonymous in-memory file holding the input; path() opens it by name.
class MemFile {
public:
    MemFile(const std::uint8_t* data, std::size_t size) {
        fd_ = memfd_create("lorvane-fuzz", 0);
        if (fd_ < 0) std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemFile() { ::close(fd_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// Checks what a reader hands on and keeps the values alive.
class CheckingSink : public SampleSink {
public:
    bool sample(const Sample& s) override {
        // Indices run from 0 without gaps.
        if (s.index != expected_) std::abort();
        ++expected_;
        sum_ += s.lat + s.lon + s.time + s.sats;
        return true;
    }
    double sum() const { return sum_; }

private:
    std::int32_t expected_ = 0;
    double sum_ = 0;
};

} // namespace lorvane::fuzz
