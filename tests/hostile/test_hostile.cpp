// Hostile input: truncated and damaged logs, absurd numbers, missing markers,
// the wrong kind of file, and files that change between the load and the lap
// choice. Each case must end in a sound result or a clear error that names the
// file (and the line where there is one) -- never a crash, a hang, or a
// reference file left partial or changed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/diagnostic.h"
#include "formats/start_finish.h"
#include "formats/text_log.h"
#include "laps/reference_lap.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"

namespace fs = std::filesystem;
using namespace lorvane;

namespace {

class Dir {
public:
    Dir() {
        std::string tmpl = (fs::temp_directory_path() / "lorvane-hostile-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        path_ = tmpl;
    }
    ~Dir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, ec);
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string write(const std::string& name, std::string_view bytes) const {
        const std::string p = file(name);
        std::ofstream f(p, std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!f) std::abort();
        return p;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path_)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// A small session, made once: two laps with a start and a finish gate.
const gen::Session& small() {
    static const gen::Session s = [] {
        gen::Options o;
        o.seed = 41;
        o.laps = 2;
        o.finishGate = false;
        o.binary.recordLength = 34;
        return gen::generate(o);
    }();
    return s;
}

std::string logName(LogKind kind) {
    return kind == LogKind::Text ? "run.zlg" : "run.wmx";
}
const std::string& logBytes(LogKind kind) {
    return kind == LogKind::Text ? small().zlg : small().wmx;
}

// A session with the generated gates in force and `bytes` written as its log.
struct Loaded {
    Dir dir;
    Session session;
    std::string gxr, log;
    LoadReport report;
    Loaded(LogKind kind, std::string_view bytes) {
        gxr = dir.write("track.gxr", small().gxr);
        if (!session.loadStartFinish(gxr).ok) std::abort();
        log = dir.write(logName(kind), bytes);
        SessionObserver quiet;
        report = session.loadLog(kind, log, quiet);
    }
};

// A load either succeeds or names the file it failed on.
void expectSoundOrNamed(const LoadReport& r, const std::string& path) {
    if (!r.ok) {
        EXPECT_FALSE(r.error.message.empty());
        EXPECT_EQ(r.error.file, path) << r.error.describe();
    }
}

// Laps of a damaged copy: no more than in the whole file, and every lap but
// the last one found has the same time (the damage can only end or cut the
// run of laps, not change one that lies before it).
void expectPrefixOfFullLaps(const std::vector<Lap>& got, const std::vector<Lap>& full, const std::string& what) {
    ASSERT_LE(got.size(), full.size()) << what;
    for (std::size_t i = 0; i + 1 < got.size(); ++i) EXPECT_EQ(got[i].time, full[i].time) << what << " lap " << i + 1;
}

template <class F>
void expectLoadError(F&& f, const std::string& file, std::string_view contains = {}) {
    try {
        f();
        ADD_FAILURE() << "no error for " << file;
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().file, file) << e.diagnostic().describe();
        if (!contains.empty()) {
            EXPECT_NE(e.diagnostic().message.find(contains), std::string::npos) << e.diagnostic().message;
        }
    }
}

// Text data lines: index of the first data line and the lines themselves.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}
std::string joinLines(const std::vector<std::string>& ls) {
    std::string out;
    for (const auto& l : ls) out += l + "\n";
    return out;
}
std::size_t dataStart(const std::vector<std::string>& ls) {
    for (std::size_t i = 0; i < ls.size(); ++i)
        if (ls[i].rfind("[data]", 0) == 0) return i + 1;
    std::abort();
}
int channelColumn(const std::vector<std::string>& ls, const std::string& name) {
    int n = 0;
    bool in = false;
    for (const auto& l : ls) {
        if (l == "[header]") {
            in = true;
            continue;
        }
        if (in && !l.empty() && l[0] == '[') break;
        if (in) {
            ++n;
            if (l == name) return n;
        }
    }
    std::abort();
}
std::string replaceField(const std::string& line, int column, const std::string& value) {
    std::vector<std::string> f;
    std::istringstream ss(line);
    for (std::string w; ss >> w;) f.push_back(w);
    f.at(static_cast<std::size_t>(column - 1)) = value;
    std::string out;
    for (std::size_t i = 0; i < f.size(); ++i) out += (i ? " " : "") + f[i];
    return out;
}

class ByKind : public ::testing::TestWithParam<LogKind> {};
INSTANTIATE_TEST_SUITE_P(Logs, ByKind, ::testing::Values(LogKind::Text, LogKind::Binary),
                         [](const auto& info) { return info.param == LogKind::Text ? "Text" : "Binary"; });

} // namespace

TEST(Hostile, GeneratedSessionLoadsWhole) {
    for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
        Loaded l(kind, logBytes(kind));
        ASSERT_TRUE(l.report.ok) << l.report.error.describe();
        EXPECT_EQ(l.report.lapCount, small().expectedLaps);
    }
}

// Every cut of the header, then cuts through the data at a prime stride, and
// the last bytes one by one.
TEST_P(ByKind, TruncatedAtManyPositions) {
    const LogKind kind = GetParam();
    const std::string& whole = logBytes(kind);
    Loaded full(kind, whole);
    ASSERT_TRUE(full.report.ok);
    const auto fullLaps = full.session.laps();

    std::vector<std::size_t> cuts;
    const std::size_t header = whole.find(kind == LogKind::Text ? "[data]" : "$") + 16;
    for (std::size_t i = 0; i <= header; ++i) cuts.push_back(i);
    for (std::size_t i = header; i < whole.size(); i += 997) cuts.push_back(i);
    for (std::size_t i = whole.size() - 80; i < whole.size(); ++i) cuts.push_back(i);

    // A binary log's records start after its header line and one more byte.
    const std::size_t data = whole.find("\r\n", whole.find('$')) + 3;
    const std::size_t record = static_cast<std::size_t>(small().recordLength);

    Dir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("t.gxr", small().gxr)).ok);
    SessionObserver quiet;
    for (std::size_t cut : cuts) {
        const std::string path = dir.write(logName(kind), std::string_view(whole).substr(0, cut));
        const LoadReport r = s.loadLog(kind, path, quiet);
        expectSoundOrNamed(r, path);
        if (!r.ok) continue;
        expectPrefixOfFullLaps(s.laps(), fullLaps, "cut at " + std::to_string(cut));
        // A binary log cut inside a record says so, whether or not the cut
        // record still held its fields.
        if (kind == LogKind::Binary && cut > data) {
            const bool mid = (cut - data) % record != 0;
            EXPECT_EQ(r.cutMidLine, mid) << "cut at " << cut;
            EXPECT_EQ(r.shortRecords, mid && (cut - data) % record < 12) << "cut at " << cut;
        }
    }
}

// Single flipped bytes and small bursts of random bytes anywhere in the file.
TEST_P(ByKind, FlippedBytes) {
    const LogKind kind = GetParam();
    const std::string& whole = logBytes(kind);
    Dir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("t.gxr", small().gxr)).ok);
    SessionObserver quiet;
    std::mt19937_64 rng(5);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = whole;
        const int flips = round < 150 ? 1 : 1 + static_cast<int>(rng() % 16);
        // Half the flips land in the first KB, where the header is.
        for (int k = 0; k < flips; ++k) {
            const std::size_t at = (rng() & 1) ? rng() % 1024 : rng() % bytes.size();
            bytes[at] = static_cast<char>(round < 150 ? bytes[at] ^ (1 << (rng() % 8)) : rng());
        }
        const std::string path = dir.write(logName(kind), bytes);
        const LoadReport r = s.loadLog(kind, path, quiet);
        expectSoundOrNamed(r, path);
        if (r.ok && s.laps().size() > 0) {
            // Whatever was accepted can be re-read.
            try {
                const auto ref = s.pickLap(static_cast<std::int32_t>(s.laps().size()));
                EXPECT_GE(ref.points.size(), 2u);
            } catch (const LoadError& e) {
                EXPECT_EQ(e.diagnostic().file, path) << e.diagnostic().describe();
            }
        }
    }
}

TEST_P(ByKind, FileOfZeros) {
    const LogKind kind = GetParam();
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{4096}, std::size_t{5u << 20}}) {
        Loaded l(kind, std::string(n, '\0'));
        expectSoundOrNamed(l.report, l.log);
        if (l.report.ok) {
            EXPECT_EQ(l.report.lapCount, 0);
        }
        if (kind == LogKind::Text) {
            EXPECT_FALSE(l.report.ok) << n << " zeros read as a text log";
        }
    }
}

TEST_P(ByKind, DirectoryOrUnreadableFile) {
    const LogKind kind = GetParam();
    Dir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("t.gxr", small().gxr)).ok);
    SessionObserver quiet;
    fs::create_directory(dir.file("folder.zlg"));
    LoadReport r = s.loadLog(kind, dir.file("folder.zlg"), quiet);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.file, dir.file("folder.zlg"));

    r = s.loadLog(kind, dir.file("absent.zlg"), quiet);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.file, dir.file("absent.zlg"));

    if (::geteuid() == 0) GTEST_SKIP() << "running as root: file modes do not stop reading";
    const std::string locked = dir.write("locked.zlg", logBytes(kind));
    ::chmod(locked.c_str(), 0);
    r = s.loadLog(kind, locked, quiet);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.file, locked);
}

TEST(Hostile, StartFinishFileDamaged) {
    Dir dir;
    const std::string good = small().gxr;
    auto check = [&](const std::string& text, const std::string& what) {
        Session s;
        const std::string path = dir.write("x.gxr", text);
        const StartFinishReport r = s.loadStartFinish(path);
        if (!r.ok) {
            EXPECT_FALSE(r.error.message.empty()) << what;
            EXPECT_EQ(r.error.file, path) << what;
            EXPECT_FALSE(s.hasStartFinish()) << what;
        }
        return r.ok;
    };
    for (std::size_t cut = 0; cut < good.size(); ++cut) check(good.substr(0, cut), "cut " + std::to_string(cut));
    EXPECT_FALSE(check(std::string(4096, '\0'), "zeros"));
    EXPECT_FALSE(check(small().wmx.substr(0, 3000), "binary log"));
    // Headers removed one by one.
    for (const char* marker : {"[Start finish]", "[Finish]"}) {
        std::string t = good;
        t.erase(t.find(marker), std::string(marker).size());
        EXPECT_FALSE(check(t, marker)) << "without " << marker;
    }
    // Directory and a line far over any sane length.
    Session s;
    fs::create_directory(dir.file("d.gxr"));
    const StartFinishReport r = s.loadStartFinish(dir.file("d.gxr"));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(check(std::string(20u << 20, 'x'), "one long line"));
}

// Gate coordinates that are not plain integers: the file is refused with the line.
TEST(Hostile, StartFinishNumbers) {
    Dir dir;
    const auto ls = lines(small().gxr);
    std::size_t gateLine = 0;
    for (std::size_t i = 0; i < ls.size(); ++i)
        if (ls[i] == "[Start finish]") gateLine = i + 1;
    ASSERT_GT(gateLine, 0u);
    for (const char* v : {"1e999", "nan", "inf", "-inf", "99999999999999999999999", "", "0x10", "1,5"}) {
        auto t = ls;
        t[gateLine] = replaceField(t[gateLine], 1, "#");
        t[gateLine].replace(t[gateLine].find('#'), 1, v);
        Session s;
        const std::string path = dir.write("n.gxr", joinLines(t));
        const StartFinishReport r = s.loadStartFinish(path);
        if (!r.ok) {
            EXPECT_EQ(r.error.file, path) << v;
            EXPECT_EQ(r.error.line, static_cast<std::int64_t>(gateLine + 1)) << v << ": " << r.error.describe();
        } else {
            EXPECT_TRUE(std::isfinite(s.gates().start.lat1) && std::isfinite(s.gates().start.long1)) << v;
        }
    }
}

// A reference file offered as the start/finish file: it opens with the
// start/finish file's lines, so it either gives the same gates or is refused.
TEST(Hostile, ReferenceFileAsStartFinishFile) {
    Loaded l(LogKind::Text, small().zlg);
    ASSERT_TRUE(l.report.ok);
    const auto ref = l.session.pickLap(1);
    const std::string refPath = l.dir.file("lap1.gxr.ref");
    l.session.saveLapRefFile(ref, refPath, false);

    Session other;
    const StartFinishReport r = other.loadStartFinish(refPath);
    if (r.ok) {
        EXPECT_EQ(other.gates().start.lat1, l.session.gates().start.lat1);
        EXPECT_EQ(other.gates().start.long2, l.session.gates().start.long2);
        EXPECT_EQ(other.hasFinishLine(), l.session.hasFinishLine());
    } else {
        EXPECT_EQ(r.error.file, refPath);
    }
}

TEST(Hostile, TextLogMissingMarkers) {
    const auto ls = lines(small().zlg);
    for (const char* marker : {"[header]", "[channel units]", "[comments]", "[data]"}) {
        auto t = ls;
        t.erase(std::find(t.begin(), t.end(), std::string(marker)));
        Loaded l(LogKind::Text, joinLines(t));
        expectSoundOrNamed(l.report, l.log);
        if (std::string(marker) == "[header]" || std::string(marker) == "[data]") {
            EXPECT_FALSE(l.report.ok) << marker;
        }
    }
    // A position channel missing from the list.
    for (const char* channel : {"Latitude", "Longitude", "Time", "Satellites"}) {
        auto t = ls;
        t.erase(std::find(t.begin(), t.end(), std::string(channel)));
        Loaded l(LogKind::Text, joinLines(t));
        expectSoundOrNamed(l.report, l.log);
    }
    // Only the header, no data; and the header alone without its end.
    const std::string head = small().zlg.substr(0, small().zlg.find("[data]"));
    Loaded noData(LogKind::Text, head);
    EXPECT_FALSE(noData.report.ok);
    EXPECT_EQ(noData.report.error.file, noData.log);
}

TEST(Hostile, BinaryLogWithoutMarker) {
    std::string bytes = small().wmx;
    std::replace(bytes.begin(), bytes.end(), '$', '#');
    Loaded l(LogKind::Binary, bytes);
    expectSoundOrNamed(l.report, l.log);
    if (l.report.ok) {
        EXPECT_EQ(l.report.lapCount, 0);
    }
}

// Absurd values in one data field: the load stops at that line with an error
// naming it, or reads the line as a plain number would be read.
TEST(Hostile, TextLogNumbers) {
    const auto ls = lines(small().zlg);
    const std::size_t first = dataStart(ls);
    const std::size_t at = first + 300; // well after the base point
    for (const char* channel : {"Latitude", "Longitude", "Time", "Satellites"}) {
        const int col = channelColumn(ls, channel);
        for (const char* v : {"1e999", "-1e999", "1e-999", "nan", "NaN", "inf", "-inf", "-0", "+0", "0x1p3", "1..2",
                              "--1", "1e", ".", "99999999999999999999999999999"}) {
            auto t = ls;
            t[at] = replaceField(t[at], col, v);
            Loaded l(LogKind::Text, joinLines(t));
            expectSoundOrNamed(l.report, l.log);
            if (!l.report.ok) {
                EXPECT_EQ(l.report.error.line, static_cast<std::int64_t>(at + 1))
                    << channel << "=" << v << ": " << l.report.error.describe();
            }
            // A position that does not convert must not slip through as a number.
            const bool position = std::string(channel) == "Latitude" || std::string(channel) == "Longitude";
            const bool absurd = std::string(v) == "nan" || std::string(v) == "inf" || std::string(v) == "1e999";
            if (position && absurd) {
                EXPECT_FALSE(l.report.ok) << channel << "=" << v << " accepted";
            }
        }
    }
}

TEST(Hostile, TextLogEmptyAndShortLines) {
    const auto ls = lines(small().zlg);
    const std::size_t at = dataStart(ls) + 200;
    const std::vector<std::string> odd = {"", " ", "\t", "   \t  ", "00", "00 102928.80", "\r", std::string(5000, ' ')};
    for (const auto& v : odd) {
        auto t = ls;
        t[at] = v;
        Loaded l(LogKind::Text, joinLines(t));
        expectSoundOrNamed(l.report, l.log);
        if (!l.report.ok) {
            EXPECT_EQ(l.report.error.line, static_cast<std::int64_t>(at + 1)) << l.report.error.describe();
        }
    }
    // Two blanks between fields: an empty field.
    auto t = ls;
    const auto sp = t[at].find(' ');
    t[at].insert(sp, " ");
    Loaded l(LogKind::Text, joinLines(t));
    expectSoundOrNamed(l.report, l.log);
}

// Binary data where text is expected, and text where binary is expected.
TEST(Hostile, WrongKindOfLog) {
    Loaded binAsText(LogKind::Text, small().wmx);
    EXPECT_FALSE(binAsText.report.ok);
    EXPECT_EQ(binAsText.report.error.file, binAsText.log);

    Loaded textAsBin(LogKind::Binary, small().zlg);
    expectSoundOrNamed(textAsBin.report, textAsBin.log);

    std::mt19937_64 rng(9);
    std::string noise(1u << 20, '\0');
    for (auto& c : noise) c = static_cast<char>(rng());
    for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
        Loaded l(kind, noise);
        expectSoundOrNamed(l.report, l.log);
    }
}

// A line of 50 MB ends the load with the line's number, inside the data and
// in a file without any line end.
TEST(Hostile, LineOfFiftyMegabytes) {
    const auto ls = lines(small().zlg);
    const std::size_t at = dataStart(ls) + 10;
    auto t = ls;
    t.resize(at + 1);
    t[at] = std::string(50u << 20, '7');
    t.push_back(ls[at + 1]);
    Loaded l(LogKind::Text, joinLines(t));
    ASSERT_FALSE(l.report.ok);
    EXPECT_EQ(l.report.error.message, "Line longer than 16 MB");
    EXPECT_EQ(l.report.error.file, l.log);
    EXPECT_EQ(l.report.error.line, static_cast<std::int64_t>(at + 1));

    Loaded oneLine(LogKind::Text, std::string(50u << 20, 'x'));
    ASSERT_FALSE(oneLine.report.ok);
    EXPECT_EQ(oneLine.report.error.message, "Line longer than 16 MB");
    EXPECT_EQ(oneLine.report.error.line, 1);

    // Just at the limit is still a line (and then not a valid header).
    Loaded atLimit(LogKind::Text, std::string(kMaxTextLine, 'x') + "\n");
    ASSERT_FALSE(atLimit.report.ok);
    EXPECT_NE(atLimit.report.error.message, "Line longer than 16 MB");
}

// The log is replaced on disk after the load. The lap choice re-reads it: it
// must either find the lap again or refuse, and a refused or failed choice
// must leave an existing reference file byte for byte as it was.
TEST_P(ByKind, LogChangesBeforeTheLapChoice) {
    const LogKind kind = GetParam();
    const std::string& whole = logBytes(kind);

    gen::Options o;
    o.seed = 77;
    o.laps = 1;
    o.binary.recordLength = 36;
    o.text.fillerChannels = 3;
    const gen::Session other = gen::generate(o);

    struct Change {
        const char* what;
        std::string bytes; // empty with `remove`: the file is deleted
        bool remove = false;
        bool folder = false;
    };
    const std::size_t lastLapByte = whole.size() - whole.size() / 5;
    std::vector<Change> changes = {
        {"truncated before the last lap ends", whole.substr(0, lastLapByte)},
        {"emptied", ""},
        {"zeros", std::string(whole.size(), '\0')},
        {"another session", kind == LogKind::Text ? other.zlg : other.wmx},
        {"the other kind of log", kind == LogKind::Text ? small().wmx : small().zlg},
        {"deleted", "", true},
        {"replaced by a folder", "", false, true},
        {"grown", whole + whole.substr(whole.size() / 2)},
    };
    if (kind == LogKind::Text) {
        auto ls = lines(whole);
        const int col = channelColumn(ls, "Latitude");
        const std::size_t tail = ls.size() - 20;
        ls[tail] = replaceField(ls[tail], col, "nan");
        changes.push_back({"a bad number in the last lap", joinLines(ls)});
    }

    for (const Change& c : changes) {
        SCOPED_TRACE(c.what);
        Loaded l(kind, whole);
        ASSERT_TRUE(l.report.ok);
        const auto lap = static_cast<std::int32_t>(l.session.laps().size());
        ASSERT_GE(lap, 1);
        const Lap chosen = l.session.laps().back();
        const std::string target = l.dir.file("LAP.REF");
        const std::string before = "an earlier reference file\r\n";
        l.dir.write("LAP.REF", before);

        std::error_code ec;
        fs::remove(l.log, ec);
        if (c.folder)
            fs::create_directory(l.log);
        else if (!c.remove)
            l.dir.write(logName(kind), c.bytes);

        const auto namesBefore = l.dir.names();
        try {
            const ReferenceLap ref = l.session.pickLap(lap);
            // A sound result: the lap's whole run of samples, thinned.
            EXPECT_EQ(static_cast<std::int64_t>(ref.points.size()),
                      thinnedPointCount(static_cast<std::int64_t>(chosen.endSample) - chosen.startSample + 1));
            l.session.saveLapRefFile(ref, target, false);
            EXPECT_NE(slurp(target), before);
        } catch (const LoadError& e) {
            EXPECT_EQ(e.diagnostic().file, l.log) << e.diagnostic().describe();
            EXPECT_EQ(slurp(target), before);
            EXPECT_EQ(l.dir.names(), namesBefore) << "a file was left behind";
        }
        EXPECT_FALSE(l.session.busy());
    }
}

// Writing the reference file fails: the earlier file is untouched and no
// temporary file is left next to it.
TEST(Hostile, ReferenceFileWriteFailures) {
    Loaded l(LogKind::Text, small().zlg);
    ASSERT_TRUE(l.report.ok);
    const ReferenceLap ref = l.session.pickLap(1);
    const std::string before = "kept\r\n";
    const std::string target = l.dir.write("KEEP.REF", before);

    // The target is read-only.
    fs::permissions(target, fs::perms::owner_read | fs::perms::group_read);
    auto names = l.dir.names();
    expectLoadError([&] { l.session.saveLapRefFile(ref, target, false); }, target);
    EXPECT_EQ(slurp(target), before);
    EXPECT_EQ(l.dir.names(), names);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // The target is a folder, or lies in a folder that does not exist.
    fs::create_directory(l.dir.file("AFOLDER.REF"));
    names = l.dir.names();
    EXPECT_THROW(l.session.saveLapRefFile(ref, l.dir.file("AFOLDER.REF"), false), LoadError);
    EXPECT_TRUE(fs::is_directory(l.dir.file("AFOLDER.REF")));
    EXPECT_EQ(l.dir.names(), names);
    EXPECT_THROW(l.session.saveLapRefFile(ref, l.dir.file("nowhere/LAP.REF"), false), LoadError);
    EXPECT_EQ(l.dir.names(), names);

    // A lap that does not exist.
    ReferenceLap bogus = ref;
    bogus.lap = 99;
    EXPECT_THROW(l.session.saveLapRefFile(bogus, target, false), LoadError);
    EXPECT_EQ(slurp(target), before);

    // And the normal case still works afterwards.
    l.session.saveLapRefFile(ref, target, false);
    EXPECT_NE(slurp(target), before);
}

// A target that is a symbolic link: the file it names is replaced, the link
// stays a link (also through a chain of links, and a link to a file that does
// not exist yet creates that file).
TEST(Hostile, ReferenceFileThroughSymbolicLinks) {
    Loaded l(LogKind::Text, small().zlg);
    ASSERT_TRUE(l.report.ok);
    const ReferenceLap ref = l.session.pickLap(1);
    fs::create_directory(l.dir.file("real"));
    const std::string real = l.dir.write("real/LAP.REF", "old\r\n");
    const std::string link = l.dir.file("LAP.REF");
    fs::create_symlink("real/LAP.REF", link);
    const std::string chain = l.dir.file("CHAIN.REF");
    fs::create_symlink(link, chain);

    l.session.saveLapRefFile(ref, chain, false);
    EXPECT_TRUE(fs::is_symlink(chain));
    EXPECT_TRUE(fs::is_symlink(link));
    const std::string written = slurp(real);
    EXPECT_NE(written, "old\r\n");
    EXPECT_NE(written.find("[Start finish]"), std::string::npos);

    const std::string dangling = l.dir.file("NEW.REF");
    fs::create_symlink("real/NEW.REF", dangling);
    l.session.saveLapRefFile(ref, dangling, false);
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(slurp(l.dir.file("real/NEW.REF")), written);

    // A loop of links is refused and creates nothing.
    fs::create_symlink(l.dir.file("LOOP2.REF"), l.dir.file("LOOP1.REF"));
    fs::create_symlink(l.dir.file("LOOP1.REF"), l.dir.file("LOOP2.REF"));
    const auto names = l.dir.names();
    EXPECT_THROW(l.session.saveLapRefFile(ref, l.dir.file("LOOP1.REF"), false), LoadError);
    EXPECT_EQ(l.dir.names(), names);
}

// The lap re-read with bounds the load never gives.
TEST(Hostile, LapBoundsOutOfRange) {
    Dir dir;
    const std::string path = dir.write("r.zlg", small().zlg);
    Loaded l(LogKind::Text, small().zlg);
    LapSource src;
    src.kind = LogKind::Text;
    src.path = path;
    src.columns = l.session.columns();
    for (auto [a, b] : std::vector<std::pair<std::int32_t, std::int32_t>>{
             {-1, 10}, {10, 9}, {0, 60000}, {INT32_MAX - 1, INT32_MAX}, {INT32_MIN, 0}, {5000, 5000}}) {
        src.firstSample = a;
        src.lastSample = b;
        expectLoadError([&] { readReferenceLap(src); }, path);
    }
    src.kind = LogKind::Binary;
    src.path = dir.write("r.wmx", small().wmx);
    src.recordLength = 33; // the load found 34
    src.firstSample = 0;
    src.lastSample = 10;
    expectLoadError([&] { readReferenceLap(src); }, src.path);
}
