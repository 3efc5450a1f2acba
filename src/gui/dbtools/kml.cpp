#include "gui/dbtools/kml.h"

#include <optional>
#include <string>

#include <QXmlStreamReader>

#include "formats/numbers.h"

namespace lorvane::dbtools {

namespace {

KmlResult failure(std::string message, std::int64_t line) {
    KmlResult r;
    r.error.message = std::move(message);
    r.error.line = line;
    return r;
}

std::optional<double> toNumber(QStringView text) {
    const QByteArray utf8 = text.toUtf8();
    return parseDecimal(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

std::string utf8(QStringView text) {
    return text.toUtf8().toStdString();
}

} // namespace

KmlResult readKmlExtremes(const QByteArray& bytes) {
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != u"coordinates") continue;

        const std::int64_t firstLine = xml.lineNumber();
        const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        if (xml.hasError()) {
            return failure("Not a well-formed KML file: " + xml.errorString().toStdString(),
                           xml.lineNumber());
        }

        KmlExtremes e;
        e.maxLong = e.maxLat = -99999999999999.0;
        e.minLong = e.minLat = 99999999999999.0;

        std::int64_t line = firstLine;
        qsizetype i = 0;
        const qsizetype n = text.size();
        while (i < n) {
            if (text[i].isSpace()) {
                if (text[i] == u'\n') ++line;
                ++i;
                continue;
            }
            qsizetype j = i;
            while (j < n && !text[j].isSpace()) ++j;
            const QStringView tuple = QStringView(text).mid(i, j - i);
            i = j;

            // Components, empty ones skipped: longitude, latitude, altitude.
            QStringView parts[2];
            int found = 0;
            for (QStringView part : tuple.split(u',', Qt::SkipEmptyParts)) {
                parts[found++] = part;
                if (found == 2) break;
            }
            if (found == 0) continue; // commas only
            if (found < 2) {
                std::string message = utf8(tuple);
                message.insert(message.begin(), '\'');
                message.append("' has no latitude");
                return failure(std::move(message), line);
            }

            const auto lon = toNumber(parts[0]);
            if (!lon) return failure(notAValidFloat(utf8(parts[0])), line);
            const auto lat = toNumber(parts[1]);
            if (!lat) return failure(notAValidFloat(utf8(parts[1])), line);

            if (*lon > e.maxLong) e.maxLong = *lon;
            if (*lon < e.minLong) e.minLong = *lon;
            if (*lat > e.maxLat) e.maxLat = *lat;
            if (*lat < e.minLat) e.minLat = *lat;
            ++e.tuples;
        }
        if (e.tuples == 0) return failure("No coordinates found", firstLine);
        KmlResult r;
        r.ok = true;
        r.extremes = e;
        return r;
    }
    if (xml.hasError()) {
        return failure("Not a well-formed KML file: " + xml.errorString().toStdString(),
                       xml.lineNumber());
    }
    return failure("No coordinates found", 0);
}

} // namespace lorvane::dbtools
