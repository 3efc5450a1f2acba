// JSON output of lorvane-cli: documents are built as nlohmann::ordered_json
// and written on one line with our own number formatting, so that the output
// stays byte for byte what scripts and the kept files expect.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace lorvane::cli {

using Json = nlohmann::ordered_json;

// How floating-point numbers are written.
enum class JsonNumbers {
    Digits17, // 17 significant digits (format17), non-finite as null
    Shortest, // the shortest text that reads back as the same double (formatRoundTrip)
};

// `{"key": value, ...}` and `[a, b]` with ", " and ": " between items, no line
// breaks. Strings that are not valid UTF-8 get U+FFFD for each bad byte.
// Below an object key listed in `shortestUnder`, numbers are written Shortest.
std::string dumpJson(const Json& value, JsonNumbers numbers, const std::set<std::string_view>& shortestUnder = {});

// A JSON string literal of `s`.
std::string jsonString(std::string_view s);

} // namespace lorvane::cli
