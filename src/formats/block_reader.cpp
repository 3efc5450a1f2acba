#include "formats/block_reader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "formats/diagnostic.h"
#include "formats/sample.h"

namespace lorvane {

FileSource::FileSource(const std::string& path) : ByteSource(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        if (errno == ENOENT || errno == ENOTDIR || path.empty()) fail(ErrorKind::NotFound, kFileNotFound, path);
        fail(ErrorKind::InputOutput, std::string("Cannot open file: ") + std::strerror(errno), path);
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            fail(ErrorKind::InputOutput, "Is a folder, not a file", path);
        }
        if (S_ISREG(st.st_mode)) size_ = static_cast<std::uint64_t>(st.st_size);
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t FileSource::read(char* dst, std::size_t n) {
    for (;;) {
        ssize_t got = ::read(fd_, dst, n);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno == EINTR) continue;
        fail(ErrorKind::InputOutput, std::string("Read error: ") + std::strerror(errno), name());
    }
}

std::string readAll(ByteSource& in, std::size_t maxBytes) {
    std::string data;
    const std::uint64_t known = in.size();
    if (known > maxBytes) fail(ErrorKind::Invalid, "File too large", in.name());
    if (known) data.reserve(static_cast<std::size_t>(known));
    char buf[1 << 16];
    for (;;) {
        const std::size_t got = in.read(buf, sizeof buf);
        if (got == 0) break;
        if (data.size() + got > maxBytes) fail(ErrorKind::Invalid, "File too large", in.name());
        data.append(buf, got);
    }
    return data;
}

bool BlockBuffer::fill(std::size_t* moved) {
    if (moved) *moved = begin_;
    if (eof_) {
        if (moved) *moved = 0;
        return false;
    }
    if (begin_ > 0) {
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        base_ += begin_;
        begin_ = 0;
    }
    if (end_ == buf_.size()) buf_.grow(buf_.size() * 2, end_);
    std::size_t got = reader_.read(buf_.data() + end_, buf_.size() - end_);
    if (got == 0) {
        eof_ = true;
        return false;
    }
    end_ += got;
    done_ += got;
    if (!sink_.progress(done_, reader_.size())) fail(ErrorKind::Cancelled, "Load cancelled", reader_.name());
    return true;
}

} // namespace lorvane
