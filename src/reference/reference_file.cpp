#include "reference/reference_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "formats/diagnostic.h"
#include "formats/numbers.h"
#include "formats/start_finish.h"
#include "laps/local_plane.h"

namespace lorvane {

namespace {
void appendInt(std::string& out, std::int64_t v) {
    out += formatPadded(v, 1);
}
} // namespace

std::string composeReferenceFile(const ReferenceInput& in) {
    static constexpr const char* kEol = "\r\n";
    std::string out;
    out.reserve(in.startFinishText.size() + 64 + in.points.size() * 32);
    for (std::string_view line : splitLines(in.startFinishText)) {
        out.append(line);
        out += kEol;
    }
    out += kEol;

    const double longScale = calcLongScale(in.baseLat, in.baseLong);
    out += "[BasePoint]";
    out += kEol;
    appendInt(out, truncToInt64(in.baseLong * 100000));
    out += ' ';
    appendInt(out, truncToInt64(in.baseLat * 100000));
    out += ' ';
    appendFixed(out, longScale, 1, 6);
    out += kEol;
    out += kEol;

    const std::int64_t lapMs = truncToInt64(in.lapTime * 1000);
    const auto count = static_cast<std::int64_t>(in.points.size());
    out += "[Info]";
    out += kEol;
    out += "Time ";
    appendInt(out, lapMs);
    out += " NumPoints ";
    appendInt(out, count);
    out += kEol;
    out += in.fixedReference ? "FixedReference true" : "FixedReference false";
    out += kEol;
    out += kEol;

    out += "[Points]";
    out += kEol;
    for (std::int64_t i = 0; i < count; ++i) {
        const GeoPoint& p = in.points[static_cast<std::size_t>(i)];
        const double north = (p.lat - in.baseLat) * kMetresPerMinute;
        const double east = (p.lon - in.baseLong) * kMetresPerMinute * longScale;
        appendFixed(out, east, 1, 3);
        out += ' ';
        appendFixed(out, north, 1, 3);
        out += ' ';
        // A point's time is its time into the lap by the log's clock plus the
        // offset of the crossing that opened the lap; the last is the lap's end.
        if (i + 1 < count)
            appendInt(out, truncToInt64((p.elapsed + in.openingOffset) * 1000));
        else
            appendInt(out, lapMs);
        out += kEol;
    }
    return out;
}

namespace {

// The file a path names once every symbolic link on the way has been followed
// (the path itself when it is no link). A link to a file that does not exist
// yet names that file.
std::string followLinks(const std::string& path) {
    std::string at = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        std::string to(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(at.c_str(), to.data(), to.size());
        if (n < 0) return at;
        to.resize(static_cast<std::size_t>(n));
        if (!to.empty() && to[0] != '/') {
            const auto slash = at.rfind('/');
            if (slash != std::string::npos) to = at.substr(0, slash + 1) + to;
        }
        at = std::move(to);
    }
    fail(ErrorKind::InputOutput, "Cannot create the file: too many symbolic links", path);
}

} // namespace

void writeFileAtomically(const std::string& requested, std::string_view bytes) {
    auto failWith = [&](const std::string& what, int err) {
        fail(ErrorKind::InputOutput, what + (err ? std::string(": ") + std::strerror(err) : std::string()), requested);
    };
    if (requested.empty()) fail(ErrorKind::Invalid, "No file name given");
    // A link stays a link: the file it names is the one replaced.
    const std::string target = followLinks(requested);
    struct stat st {};
    mode_t mode = 0;
    bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) failWith("Cannot create the file: it is a folder", 0);
        if (!S_ISREG(st.st_mode)) failWith("Cannot create the file: not a regular file", 0);
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)
            failWith("Cannot create the file: it is read-only", 0);
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    const auto slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmp = (dir == "/" ? std::string("/") : dir + "/") + "." + base + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) failWith("Cannot create the file", errno);
    auto cleanup = [&](const std::string& what, int err) {
        ::close(fd);
        ::unlink(tmp.c_str());
        failWith(what, err);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            cleanup("Cannot write the file", errno);
        }
        done += static_cast<std::size_t>(w);
    }
    if (::fchmod(fd, mode) != 0) cleanup("Cannot write the file", errno);
    if (::fsync(fd) != 0) cleanup("Cannot write the file", errno);
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        failWith("Cannot write the file", err);
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        failWith("Cannot write the file", err);
    }
}

} // namespace lorvane
