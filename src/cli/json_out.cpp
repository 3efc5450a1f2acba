#include "cli/json_out.h"

#include "formats/numbers.h"

namespace lorvane::cli {

namespace {

void write(const Json& v, JsonNumbers numbers, const std::set<std::string_view>& shortestUnder, std::string& out) {
    switch (v.type()) {
    case Json::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : v.items()) {
            if (!first) out += ", ";
            first = false;
            out += jsonString(key);
            out += ": ";
            write(item, shortestUnder.count(key) ? JsonNumbers::Shortest : numbers, shortestUnder, out);
        }
        out += '}';
        return;
    }
    case Json::value_t::array: {
        out += '[';
        bool first = true;
        for (const Json& item : v) {
            if (!first) out += ", ";
            first = false;
            write(item, numbers, shortestUnder, out);
        }
        out += ']';
        return;
    }
    case Json::value_t::number_float: {
        const double d = v.get<double>();
        out += numbers == JsonNumbers::Shortest ? formatRoundTrip(d) : format17(d);
        return;
    }
    case Json::value_t::string: out += jsonString(v.get_ref<const std::string&>()); return;
    default:
        // null, booleans and integers as nlohmann writes them.
        out += v.dump();
        return;
    }
}

} // namespace

std::string dumpJson(const Json& value, JsonNumbers numbers, const std::set<std::string_view>& shortestUnder) {
    std::string out;
    write(value, numbers, shortestUnder, out);
    return out;
}

std::string jsonString(std::string_view s) {
    return Json(std::string(s)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace lorvane::cli
