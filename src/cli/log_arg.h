// The log options every command takes: --zlg FILE, --wmx FILE, or --log FILE
// of any format, found from the file's content.
#pragma once

#include <optional>
#include <string>

#include "formats/any_log.h"
#include "formats/diagnostic.h"
#include "formats/log_formats.h"

namespace lorvane::cli {

inline bool isLogOption(const std::string& opt) {
    return opt == "--zlg" || opt == "--wmx" || opt == "--log";
}

// The kind of log an option names; for --log the file is looked at. Throws
// LoadError when the file cannot be read, is of no format we know, or is
// plainly not of the kind --zlg or --wmx names.
inline LogKind logKindFor(const std::string& opt, const std::string& path) {
    if (opt == "--zlg" || opt == "--wmx") {
        const LogKind kind = opt == "--zlg" ? LogKind::Text : LogKind::Binary;
        // A file of another kind is named as such instead of failing mid-read.
        checkLogFile(kind, path);
        return kind;
    }
    const auto kind = detectLogFile(path);
    if (!kind) fail(ErrorKind::Syntax, "Not a log this program reads (" + logFormatsInWords() + ")", path);
    return *kind;
}

} // namespace lorvane::cli
