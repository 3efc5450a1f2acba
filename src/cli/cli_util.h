// Pieces every lorvane-cli command shares: error messages.
#pragma once

#include <iostream>
#include <string>

#include "formats/diagnostic.h"

namespace lorvane::cli {

// "lorvane-cli: MESSAGE (in FILE, line N)" on stderr; returns the exit status 1.
inline int reportError(const Diagnostic& d) {
    std::cerr << "lorvane-cli: " << d.message;
    const std::string w = d.where();
    if (!w.empty()) std::cerr << " (" << w << ")";
    std::cerr << "\n";
    return 1;
}

} // namespace lorvane::cli
