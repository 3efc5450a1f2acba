// The bytes a reader reads, and the block buffer it reads them through.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace lorvane {

// Where a reader's bytes come from: a file, memory, anything that can hand
// out its bytes in order. The name is what errors call it (a file's path).
class ByteSource {
public:
    explicit ByteSource(std::string name) : name_(std::move(name)) {}
    virtual ~ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Reads up to n bytes; returns 0 at the end. Throws LoadError on a read error.
    virtual std::size_t read(char* dst, std::size_t n) = 0;
    // Total size when known (0 for a pipe or the like).
    virtual std::uint64_t size() const = 0;
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

// A file, read in large blocks, never a byte or a line at a time from the
// operating system.
class FileSource final : public ByteSource {
public:
    // Opens `path`; throws LoadError ("File not found", a folder, no access).
    explicit FileSource(const std::string& path);
    ~FileSource() override;

    std::size_t read(char* dst, std::size_t n) override;
    std::uint64_t size() const override { return size_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Bytes already in memory (they must outlive the source).
class MemorySource final : public ByteSource {
public:
    MemorySource(std::string_view bytes, std::string name) : ByteSource(std::move(name)), bytes_(bytes) {}

    std::size_t read(char* dst, std::size_t n) override {
        const std::size_t k = std::min(n, bytes_.size() - pos_);
        if (k) std::memcpy(dst, bytes_.data() + pos_, k);
        pos_ += k;
        return k;
    }
    std::uint64_t size() const override { return bytes_.size(); }

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

// Everything the source holds, at most maxBytes ("File too large" beyond).
std::string readAll(ByteSource& in, std::size_t maxBytes);

// Small enough that a block just read is still in the processor's cache when
// it is parsed, large enough that the system calls cost nothing.
inline constexpr std::size_t kReadBlock = 256u << 10;

// A byte buffer that is not zeroed when it is made or grown.
class RawBuffer {
public:
    explicit RawBuffer(std::size_t n) : data_(std::make_unique_for_overwrite<char[]>(n)), size_(n) {}
    char* data() { return data_.get(); }
    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    // Grows to `n` bytes keeping the first `keep`.
    void grow(std::size_t n, std::size_t keep) {
        auto bigger = std::make_unique_for_overwrite<char[]>(n);
        std::memcpy(bigger.get(), data_.get(), keep);
        data_ = std::move(bigger);
        size_ = n;
    }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_;
};

class SampleSink;

// The unread part of a file, [begin, end) of a buffer refilled block by block.
// Reports progress to the sink after every block; a sink that says stop
// cancels the load.
class BlockBuffer {
public:
    BlockBuffer(ByteSource& reader, SampleSink& sink)
        : reader_(reader), sink_(sink), buf_(initialSize(reader.size())) {}

    const char* data() const { return buf_.data(); }
    std::size_t begin() const { return begin_; }
    std::size_t end() const { return end_; }
    std::size_t available() const { return end_ - begin_; }
    void consume(std::size_t n) { begin_ += n; }
    // File offset of the first unread byte.
    std::uint64_t offset() const { return base_ + begin_; }
    bool eof() const { return eof_; }
    const ByteSource& reader() const { return reader_; }

    // Moves the unread bytes to the front of the buffer (growing it when they
    // fill it) and reads the next block. Returns false at the end of the file.
    // `moved` receives how far the unread bytes moved down.
    bool fill(std::size_t* moved = nullptr);

private:
    // A small file needs no whole block (a file of unknown size gets one).
    static std::size_t initialSize(std::uint64_t fileSize) {
        if (fileSize == 0 || fileSize >= kReadBlock) return kReadBlock;
        return std::max<std::size_t>(static_cast<std::size_t>(fileSize) + 1, 4096);
    }

    ByteSource& reader_;
    SampleSink& sink_;
    RawBuffer buf_;
    std::size_t begin_ = 0, end_ = 0;
    std::uint64_t base_ = 0, done_ = 0;
    bool eof_ = false;
};

} // namespace lorvane
