// A small FIT file writer for the tests: definition and data messages in
// either byte order, compressed-timestamp data messages, developer fields
// (filled with 0xAB), a 12 or 14 byte header and the file CRC.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace lorvane::test {

// CRC-16 with the reflected polynomial 0xA001, a bit at a time.
inline std::uint16_t fitCrc(std::string_view bytes) {
    std::uint16_t crc = 0;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

class FitWriter {
public:
    explicit FitWriter(int headerSize = 14) : headerSize_(headerSize) {}

    struct Field {
        std::uint8_t number, size, baseType;
    };
    // Record fields as devices write them.
    static constexpr Field kTime{253, 4, 0x86}, kLat{0, 4, 0x85}, kLon{1, 4, 0x85}, kSpeed{6, 2, 0x84},
        kEnhancedSpeed{73, 4, 0x86};

    void define(int local, std::uint16_t global, std::vector<Field> fields, bool bigEndian = false,
                std::vector<std::uint8_t> developerSizes = {}) {
        body_ += static_cast<char>(0x40 | local | (developerSizes.empty() ? 0 : 0x20));
        body_ += '\0';
        body_ += static_cast<char>(bigEndian ? 1 : 0);
        put(global, 2, bigEndian);
        body_ += static_cast<char>(fields.size());
        for (const Field& f : fields) {
            body_ += static_cast<char>(f.number);
            body_ += static_cast<char>(f.size);
            body_ += static_cast<char>(f.baseType);
        }
        if (!developerSizes.empty()) {
            body_ += static_cast<char>(developerSizes.size());
            for (std::size_t i = 0; i < developerSizes.size(); ++i) {
                body_ += static_cast<char>(i);
                body_ += static_cast<char>(developerSizes[i]);
                body_ += '\0';
            }
        }
        locals_[local] = Local{std::move(fields), bigEndian, std::move(developerSizes)};
    }
    // A data message; returns its byte offset in the finished file.
    std::size_t data(int local, std::initializer_list<std::uint64_t> values) {
        return message(static_cast<std::uint8_t>(local), local, values);
    }
    // A data message with a compressed-timestamp header (local 0-3, offset 0-31).
    std::size_t compressed(int local, int timeOffset, std::initializer_list<std::uint64_t> values) {
        return message(static_cast<std::uint8_t>(0x80 | (local << 5) | timeOffset), local, values);
    }
    void raw(std::string_view bytes) { body_ += bytes; }
    std::size_t size() const { return headerSize_ + body_.size(); }

    std::string finish() const {
        std::string f;
        f += static_cast<char>(headerSize_);
        f += static_cast<char>(0x20);
        f += '\x08';
        f += '\x08';
        for (int i = 0; i < 4; ++i) f += static_cast<char>((body_.size() >> (8 * i)) & 0xFF);
        f += ".FIT";
        if (headerSize_ == 14) {
            const std::uint16_t h = fitCrc(f);
            f += static_cast<char>(h & 0xFF);
            f += static_cast<char>(h >> 8);
        }
        f += body_;
        const std::uint16_t c = fitCrc(f);
        f += static_cast<char>(c & 0xFF);
        f += static_cast<char>(c >> 8);
        return f;
    }

    // Semicircles of a position in degrees.
    static std::uint64_t semicircles(double degrees) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(degrees * 2147483648.0 / 180.0));
    }

private:
    struct Local {
        std::vector<Field> fields;
        bool bigEndian = false;
        std::vector<std::uint8_t> developerSizes;
    };

    void put(std::uint64_t v, int size, bool bigEndian) {
        for (int i = 0; i < size; ++i) {
            const int shift = 8 * (bigEndian ? size - 1 - i : i);
            body_ += static_cast<char>(shift < 64 ? (v >> shift) & 0xFF : 0);
        }
    }
    std::size_t message(std::uint8_t header, int local, std::initializer_list<std::uint64_t> values) {
        const std::size_t at = size();
        const Local& l = locals_[local];
        body_ += static_cast<char>(header);
        auto v = values.begin();
        for (const Field& f : l.fields) put(v != values.end() ? *v++ : 0, f.size, l.bigEndian);
        for (std::uint8_t s : l.developerSizes) body_.append(s, '\xAB');
        return at;
    }

    std::string body_;
    std::array<Local, 16> locals_;
    int headerSize_ = 14;
};

} // namespace lorvane::test
