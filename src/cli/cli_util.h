// Pieces every lorvane-cli command shares: JSON strings and error messages.
#pragma once

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "formats/diagnostic.h"

namespace lorvane::cli {

// A JSON string literal of `s`, quotes and control characters escaped.
inline std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// "lorvane-cli: MESSAGE (in FILE, line N)" on stderr; returns the exit status 1.
inline int reportError(const Diagnostic& d) {
    std::cerr << "lorvane-cli: " << d.message;
    const std::string w = d.where();
    if (!w.empty()) std::cerr << " (" << w << ")";
    std::cerr << "\n";
    return 1;
}

} // namespace lorvane::cli
