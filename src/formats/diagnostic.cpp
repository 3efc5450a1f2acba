#include "formats/diagnostic.h"

namespace lorvane {

std::string Diagnostic::where() const {
    if (file.empty()) return {};
    std::string s = "in " + file;
    if (line > 0)
        s += ", line " + std::to_string(line);
    else if (offset >= 0)
        s += ", byte " + std::to_string(offset);
    return s;
}

std::string Diagnostic::describe() const {
    std::string w = where();
    return w.empty() ? message : message + "\n" + w;
}

void fail(ErrorKind kind, std::string message, std::string file, std::int64_t line, std::int64_t offset) {
    throw LoadError(Diagnostic{std::move(message), std::move(file), line, offset, kind});
}

const char* errorKindName(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::None: return "none";
    case ErrorKind::NotFound: return "not found";
    case ErrorKind::Syntax: return "bad syntax";
    case ErrorKind::Changed: return "changed since loaded";
    case ErrorKind::Cancelled: return "cancelled";
    case ErrorKind::Busy: return "busy";
    case ErrorKind::InputOutput: return "input/output";
    case ErrorKind::Invalid: return "invalid request";
    }
    return "unknown";
}

namespace {
// Keeps a quoted field readable when it holds control bytes or is very long.
std::string quoted(std::string_view text) {
    constexpr std::size_t kMax = 80;
    std::string out;
    out.reserve(std::min(text.size(), kMax) + 8);
    for (std::size_t i = 0; i < text.size() && i < kMax; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > kMax) out += "...";
    return out;
}
} // namespace

std::string notAValidFloat(std::string_view text) {
    std::string s(1, '\'');
    s += quoted(text);
    s += "' is not a valid floating point value";
    return s;
}

std::string notAValidInteger(std::string_view text) {
    std::string s(1, '\'');
    s += quoted(text);
    s += "' is not a valid integer value";
    return s;
}

} // namespace lorvane
