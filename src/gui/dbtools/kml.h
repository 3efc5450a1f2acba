// The bounding box of a path in a KML file: the extremes of the longitudes and
// latitudes of the tuples in its first <coordinates> element. Separate from
// the window so it can be tested and fuzzed on bytes alone.
#pragma once

#include <QByteArray>

#include "formats/diagnostic.h"

namespace lorvane::dbtools {

struct KmlExtremes {
    double maxLong = 0, minLong = 0; // degrees, east positive
    double maxLat = 0, minLat = 0;   // degrees, north positive
    int tuples = 0;                  // tuples compared
};

struct KmlResult {
    bool ok = false;
    KmlExtremes extremes; // when ok
    Diagnostic error;     // when !ok; `line` set where known, `file` left empty
};

// Reads the text of the first element named "coordinates" (any namespace) of
// the document: tuples are separated by any white space, their components by
// commas (longitude, latitude, then an optional altitude that is not read),
// and empty components are skipped. Every tuple's longitude and latitude are
// compared. Errors: a document that is not well-formed before that element, no
// such element or no tuple in it, a tuple without a latitude, a longitude or
// latitude that is not a decimal number (the reader's usual message).
KmlResult readKmlExtremes(const QByteArray& bytes);

} // namespace lorvane::dbtools
