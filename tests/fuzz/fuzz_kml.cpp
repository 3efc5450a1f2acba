// The KML path extremes reader on arbitrary documents.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "gui/dbtools/kml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto r = lorvane::dbtools::readKmlExtremes(bytes);
    if (r.ok) {
        if (r.extremes.tuples < 1) __builtin_trap();
        if (!(r.extremes.minLong <= r.extremes.maxLong) || !(r.extremes.minLat <= r.extremes.maxLat)) __builtin_trap();
    } else if (r.error.message.empty()) {
        __builtin_trap();
    }
    return 0;
}
