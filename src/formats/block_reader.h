// Reads a file in large blocks, never a byte or a line at a time from the
// operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lorvane {

class BlockReader {
public:
    // Opens `path`; throws LoadError ("File not found", a folder, no access).
    explicit BlockReader(const std::string& path);
    ~BlockReader();
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // Size of the file when it was opened (0 for a pipe or the like).
    std::uint64_t size() const { return size_; }
    // Reads up to n bytes; returns 0 at the end of the file. Throws on a read error.
    std::size_t read(char* dst, std::size_t n);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

inline constexpr std::size_t kReadBlock = 4u << 20;

} // namespace lorvane
