#include "formats/start_finish.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>

#include "formats/block_reader.h"
#include "formats/diagnostic.h"
#include "formats/numbers.h"

namespace lorvane {

bool passesGxrNameTest(std::string_view path) {
    return path.find("gxr") != std::string_view::npos || path.find("GXR") != std::string_view::npos;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c == '\n' || c == '\r') {
            lines.push_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < n) lines.push_back(text.substr(start));
    return lines;
}

std::string readWholeFile(const std::string& path, std::size_t maxBytes) {
    FileSource file(path);
    return readAll(file, maxBytes);
}

namespace {

// The coordinate line's fields go into one table shared by the start and the
// finish line: a short finish line keeps the start line's higher fields.
void splitInto(std::string_view line, std::vector<std::string>& table) {
    std::size_t field = 1;
    std::string cur;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i] == ',' ? '.' : line[i];
        if (c == ' ') {
            if (table.size() <= field) table.resize(field + 1);
            table[field++] = std::move(cur);
            cur.clear();
        } else {
            cur += c;
            if (i + 1 == line.size()) {
                if (table.size() <= field) table.resize(field + 1);
                table[field++] = std::move(cur);
                cur.clear();
            }
        }
    }
}

Gate gateFrom(const std::vector<std::string>& table, const std::string& file, std::int64_t line) {
    double v[4];
    for (int k = 0; k < 4; ++k) {
        std::string_view text;
        if (static_cast<std::size_t>(k + 1) < table.size()) text = table[static_cast<std::size_t>(k) + 1];
        auto d = parseDecimal(text);
        if (!d) fail(ErrorKind::Syntax, notAValidFloat(text), file, line);
        v[k] = *d / 100000;
    }
    Gate g;
    g.long1 = v[0];
    g.lat1 = v[1];
    g.long2 = v[2];
    g.lat2 = v[3];
    return g;
}

} // namespace

StartFinish parseStartFinish(std::string_view text, const std::string& file) {
    const auto lines = splitLines(text);
    std::size_t i = 0;
    while (i < lines.size() && lines[i] != "[Start finish]" && lines[i] != "[Start Finish]") ++i;
    if (i == lines.size()) fail(ErrorKind::Syntax, "No \"[Start finish]\" section in the start/finish file", file);
    ++i;
    if (i == lines.size())
        fail(ErrorKind::Syntax, "The start/finish file ends before the start line's coordinates", file);
    std::vector<std::string> table;
    splitInto(lines[i], table);
    StartFinish sf;
    sf.start = gateFrom(table, file, static_cast<std::int64_t>(i) + 1);

    while (i < lines.size() && lines[i] != "[finish]" && lines[i] != "[Finish]") ++i;
    if (i == lines.size()) fail(ErrorKind::Syntax, "No \"[Finish]\" section in the start/finish file", file);
    ++i;
    if (i == lines.size())
        fail(ErrorKind::Syntax, "The start/finish file ends before the finish line's coordinates", file);
    splitInto(lines[i], table);
    sf.finish = gateFrom(table, file, static_cast<std::int64_t>(i) + 1);
    sf.hasFinishLine = sf.finish.lat1 != 0;
    return sf;
}

namespace {

void appendGateLine(std::string& out, const Gate& g) {
    const double v[4] = {g.long1, g.lat1, g.long2, g.lat2};
    for (int k = 0; k < 4; ++k) {
        if (k > 0) out += ' ';
        const double units = std::round(v[k] * 100000);
        if (!std::isfinite(units) || std::fabs(units) > 9.2e18)
            fail(ErrorKind::Syntax, "A gate coordinate is out of range: " + formatRoundTrip(v[k]) + " minutes");
        out += std::to_string(static_cast<std::int64_t>(units));
    }
    out += "\r\n";
}

} // namespace

std::string composeStartFinishText(const StartFinish& sf, std::string_view comment) {
    std::string out;
    for (std::string_view line : splitLines(comment)) {
        // A comment line that looks like a header would be read as one.
        if (!line.empty() && line.front() == '[') out += ' ';
        out += line;
        out += "\r\n";
    }
    out += "[Start finish]\r\n";
    appendGateLine(out, sf.start);
    out += "[Finish]\r\n";
    if (sf.hasFinishLine)
        appendGateLine(out, sf.finish);
    else
        out += "0 0 0 0\r\n";
    return out;
}

std::string splitLinesPathFor(const std::string& gxrPath) {
    const std::size_t slash = gxrPath.find_last_of("/\\");
    const std::size_t nameFrom = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = gxrPath.rfind('.');
    // A dot that opens the name (".gxr") is no extension.
    if (dot == std::string::npos || dot <= nameFrom) return gxrPath + ".splits";
    return gxrPath.substr(0, dot) + ".splits";
}

std::string composeSplitLinesText(const std::vector<Gate>& splits) {
    std::string out = "# Split lines in driving order: LON1,LAT1,LON2,LAT2 in hundred-thousandths of a minute\r\n";
    for (const Gate& g : splits) {
        std::string line;
        appendGateLine(line, g);
        std::replace(line.begin(), line.end(), ' ', ',');
        out += line;
    }
    return out;
}

std::vector<Gate> parseSplitLines(std::string_view text, const std::string& file) {
    std::vector<Gate> out;
    const auto lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto at = static_cast<std::int64_t>(i) + 1;
        std::string_view line = lines[i];
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        double v[4];
        std::size_t from = 0;
        for (int k = 0; k < 4; ++k) {
            const std::size_t comma = k < 3 ? line.find(',', from) : line.size();
            if (comma == std::string_view::npos)
                fail(ErrorKind::Syntax, "A split line takes four numbers, LON1,LAT1,LON2,LAT2", file, at);
            std::string_view field = line.substr(from, comma - from);
            while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
            while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
            const auto d = parseDecimal(field);
            if (!d || !std::isfinite(*d)) fail(ErrorKind::Syntax, notAValidFloat(field), file, at);
            v[k] = *d / 100000; // minutes, as the .gxr reader takes them
            from = comma + 1;
        }
        const Gate g{v[1], v[0], v[3], v[2]};
        // Latitude within ±90°, longitude within ±180°, in minutes.
        if (std::fabs(g.lat1) > 5400 || std::fabs(g.lat2) > 5400 || std::fabs(g.long1) > 10800 ||
            std::fabs(g.long2) > 10800)
            fail(ErrorKind::Syntax, "The split line lies off the globe", file, at);
        if (g.lat1 == 0 && g.long1 == 0) fail(ErrorKind::Syntax, "The split line has no point 1", file, at);
        if (g.lat1 == g.lat2 && g.long1 == g.long2)
            fail(ErrorKind::Syntax, "The split line has its two points in the same place: no direction", file, at);
        out.push_back(g);
    }
    return out;
}

std::vector<Gate> readSplitLinesBeside(const std::string& gxrPath) {
    const std::string path = splitLinesPathFor(gxrPath);
    std::error_code ec;
    if (path == gxrPath || !std::filesystem::exists(path, ec)) return {};
    return parseSplitLines(readWholeFile(path), path);
}

StartFinish readStartFinishFile(const std::string& path) {
    return parseStartFinish(readWholeFile(path), path);
}

} // namespace lorvane
