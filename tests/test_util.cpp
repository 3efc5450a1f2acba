#include "test_util.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace lorvane::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "lorvane-test-XXXXXX").string();
    char* p = ::mkdtemp(tmpl.data());
    if (!p) std::abort();
    path_ = p;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(std::string_view name, std::string_view content) const {
    std::string p = file(name);
    std::ofstream f(p, std::ios::binary);
    f.write(content.data(), static_cast<std::streamsize>(content.size()));
    return p;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

static std::string coord(double minutes) {
    return std::to_string(static_cast<long long>(std::llround(minutes * 100000)));
}

std::string gxrText(double lat1, double long1, double lat2, double long2, bool finish, double flat1, double flong1,
                    double flat2, double flong2) {
    std::string s = "[Circuit]\nTest\n[Start finish]\n";
    s += coord(long1) + " " + coord(lat1) + " " + coord(long2) + " " + coord(lat2) + "\n[Finish]\n";
    if (finish)
        s += coord(flong1) + " " + coord(flat1) + " " + coord(flong2) + " " + coord(flat2) + "\n";
    else
        s += "0 0 0 0\n";
    return s;
}

std::string realData(std::string_view relative) {
    const char* roots[] = {
#ifdef LORVANE_REALDATA
        LORVANE_REALDATA,
#endif
#ifdef LORVANE_REALDATA_EXTRA
        LORVANE_REALDATA_EXTRA,
#endif
        nullptr};
    for (const char* root : roots) {
        if (!root) break;
        std::string path = std::string(root) + "/" + std::string(relative);
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) return path;
    }
    return {};
}

} // namespace lorvane::test
