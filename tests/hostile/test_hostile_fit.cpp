// Hostile FIT files: cut anywhere, damaged bytes, sizes that claim far more
// than there is, floods of definitions, bytes that come a few at a time. Each
// case ends in samples the whole file would also give, or a clear error at
// byte 0 -- never a crash, a hang or a huge allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/diagnostic.h"
#include "formats/fit_log.h"
#include "formats/fit_writer.h"

using namespace lorvane;
using lorvane::test::FitWriter;

namespace {

const std::string kName = "hostile input";

struct Collect : SampleSink {
    std::vector<Sample> samples;
    bool sample(const Sample& s) override {
        samples.push_back(s);
        return true;
    }
};

// Bytes handed out a few at a time, of a size not known beforehand (a pipe).
class Trickle final : public ByteSource {
public:
    Trickle(std::string_view bytes, std::size_t step) : ByteSource(kName), bytes_(bytes), step_(step) {}
    std::size_t read(char* dst, std::size_t n) override {
        const std::size_t k = std::min({n, step_, bytes_.size() - pos_});
        std::memcpy(dst, bytes_.data() + pos_, k);
        pos_ += k;
        return k;
    }
    std::uint64_t size() const override { return 0; }

private:
    std::string_view bytes_;
    std::size_t step_, pos_ = 0;
};

struct Outcome {
    std::vector<Sample> samples;
    bool ok = false;
    FitLogInfo info;
    Diagnostic error;
};

Outcome run(ByteSource& src) {
    Collect c;
    Outcome o;
    try {
        o.info = readFitLog(src, c);
        o.ok = true;
    } catch (const LoadError& e) {
        o.error = e.diagnostic();
    }
    o.samples = std::move(c.samples);
    return o;
}

Outcome run(std::string_view bytes) {
    MemorySource src(bytes, kName);
    return run(src);
}

// Every sample is sound; failing, the error is a Syntax error at byte 0 naming the file.
void expectSound(const Outcome& o, std::size_t size, const std::string& what) {
    if (!o.ok) {
        EXPECT_EQ(o.error.kind, ErrorKind::Syntax) << what;
        EXPECT_EQ(o.error.offset, 0) << what;
        EXPECT_EQ(o.error.file, kName) << what;
        EXPECT_FALSE(o.error.message.empty()) << what;
        return;
    }
    if (!o.info.damage.empty()) {
        ASSERT_TRUE(o.info.damageOffset >= 0 && o.info.damageOffset <= static_cast<std::int64_t>(size)) << what;
    }
    std::int64_t last = -1;
    for (std::size_t i = 0; i < o.samples.size(); ++i) {
        const Sample& s = o.samples[i];
        ASSERT_EQ(s.index, static_cast<std::int32_t>(i)) << what;
        ASSERT_TRUE(s.lat >= -5400 && s.lat <= 5400 && s.lon >= -10800 && s.lon <= 10800) << what;
        ASSERT_EQ(s.time, static_cast<double>(s.clock) / 1000.0) << what;
        ASSERT_TRUE(s.offset > last && s.offset < static_cast<std::int64_t>(size)) << what;
        last = s.offset;
    }
}

// A file of every kind of message the reader meets.
std::string writtenFile() {
    const std::uint32_t t0 = 1'000'000'000;
    FitWriter w;
    w.define(0, 0, {{1, 2, 0x84}, {2, 2, 0x84}});
    w.data(0, {1, 2530});
    w.define(1, 20, {FitWriter::kTime, FitWriter::kLat, FitWriter::kLon, FitWriter::kSpeed});
    w.define(2, 20, {FitWriter::kLat, FitWriter::kLon, FitWriter::kEnhancedSpeed}, true, {3, 1});
    for (std::uint32_t i = 0; i < 12; ++i) {
        w.data(1, {t0 + 3 * i, FitWriter::semicircles(45.5 + i * 1e-4), FitWriter::semicircles(-73.25), 1000 + i});
        w.compressed(2, (t0 + 3 * i + 1) & 31, {FitWriter::semicircles(45.5), FitWriter::semicircles(-73.25), 7});
    }
    w.define(3, 21, {{253, 4, 0x86}, {0, 1, 0x00}, {1, 1, 0x00}});
    w.data(3, {t0 + 40, 0, 4});
    return w.finish();
}

} // namespace

TEST(HostileFit, CutAnywhereKeepsTheSamplesBefore) {
    const std::string file = writtenFile();
    const Outcome full = run(file);
    ASSERT_TRUE(full.ok);
    ASSERT_EQ(full.samples.size(), 24u);
    for (std::size_t n = 0; n < file.size(); ++n) {
        const std::string what = "cut at " + std::to_string(n);
        const Outcome o = run(std::string_view(file).substr(0, n));
        expectSound(o, n, what);
        if (n < 12) {
            EXPECT_FALSE(o.ok) << what;
            continue;
        }
        ASSERT_TRUE(o.ok) << what;
        EXPECT_FALSE(o.info.damage.empty()) << what;
        EXPECT_FALSE(o.info.crcChecked) << what;
        ASSERT_LE(o.samples.size(), full.samples.size()) << what;
        for (std::size_t i = 0; i < o.samples.size(); ++i) {
            ASSERT_EQ(o.samples[i].clock, full.samples[i].clock) << what;
            ASSERT_EQ(o.samples[i].lat, full.samples[i].lat) << what;
            ASSERT_EQ(o.samples[i].offset, full.samples[i].offset) << what;
        }
    }
    // The same bytes a few at a time, from a source of unknown size.
    for (std::size_t step : {1, 3, 7, 64}) {
        Trickle src(file, step);
        const Outcome o = run(src);
        ASSERT_TRUE(o.ok);
        EXPECT_TRUE(o.info.crcChecked) << step;
        EXPECT_EQ(o.samples.size(), full.samples.size()) << step;
    }
}

TEST(HostileFit, DamagedBytes) {
    const std::string base = writtenFile();
    std::mt19937 rng(2026);
    for (int round = 0; round < 3000; ++round) {
        std::string b = base;
        const int hits = 1 + static_cast<int>(rng() % 6);
        for (int h = 0; h < hits; ++h) {
            const std::size_t at = rng() % b.size();
            switch (rng() % 4) {
            case 0: b[at] = static_cast<char>(rng() & 0xff); break;
            case 1: b[at] = static_cast<char>(b[at] ^ (1 << (rng() % 8))); break;
            case 2: b.erase(at, 1 + rng() % 20); break;
            default: b.insert(at, std::string(1 + rng() % 5, "\x00\x40\x80\xff\x14\x7f\x60"[rng() % 7])); break;
            }
        }
        expectSound(run(b), b.size(), "round " + std::to_string(round));
    }
}

TEST(HostileFit, SizesClaimingMoreThanThereIs) {
    const auto started = std::chrono::steady_clock::now();
    // A data size of 4 GB on a file of a few hundred bytes.
    std::string huge = writtenFile();
    std::memset(huge.data() + 4, 0xFF, 4);
    Outcome o = run(huge);
    expectSound(o, huge.size(), "4 GB data size");
    EXPECT_EQ(o.samples.size(), 24u);
    EXPECT_FALSE(o.info.damage.empty());

    // Definitions of 255 fields of 255 bytes and 255 developer fields, over
    // and over, then a data message cut short: messages of 130 KB each.
    FitWriter w;
    std::vector<FitWriter::Field> wide(255, FitWriter::Field{7, 255, 0x0D});
    for (int i = 0; i < 200; ++i) w.define(i % 16, 65535, wide, i % 2, std::vector<std::uint8_t>(255, 255));
    w.raw("\x05");
    w.raw(std::string(1000, '\xEE'));
    const std::string defs = w.finish();
    o = run(defs);
    expectSound(o, defs.size(), "wide definitions");
    EXPECT_TRUE(o.ok);
    EXPECT_FALSE(o.info.damage.empty());

    // A million one-byte records of a definition without fields, then a
    // flood of compressed headers that never had a full timestamp.
    FitWriter flood;
    flood.define(0, 20, {});
    std::string body(1'000'000, '\0');
    body += std::string(1'000'000, '\x80');
    flood.raw(body);
    const std::string f = flood.finish();
    Trickle src(f, 4093);
    o = run(src);
    expectSound(o, f.size(), "flood");
    EXPECT_TRUE(o.ok && o.info.crcChecked);
    EXPECT_EQ(o.info.records, 2'000'000);
    EXPECT_EQ(o.info.recordsWithoutPosition, 2'000'000);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}
