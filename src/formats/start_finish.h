// The start/finish line file (.gxr): a start gate and a finish gate, each two
// points in hundred-thousandths of a minute of arc.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lorvane {

struct Gate {
    double lat1 = 0, long1 = 0; // point 1: the gate's centre (minutes)
    double lat2 = 0, long2 = 0; // point 2: gives the direction across the gate
};

struct StartFinish {
    Gate start;
    Gate finish;
    bool hasFinishLine = false; // finish gate point 1 latitude is not 0
};

// True when the path passes the name test: it contains "gxr" or "GXR".
bool passesGxrNameTest(std::string_view path);

// Reads the gates from the file's text. Throws LoadError (file name set,
// line of the failure) when a header is missing or a field does not convert.
StartFinish parseStartFinish(std::string_view text, const std::string& fileName);

// The text of a start/finish file for `sf`: optional comment lines (skipped by
// the reader), then "[Start finish]" and "[Finish]", each followed by the gate
// as four integers in hundred-thousandths of a minute, longitude first
// (long1 lat1 long2 lat2), rounded to the nearest unit. Without a finish line
// the finish gate is written "0 0 0 0". Every line ends in CR LF.
std::string composeStartFinishText(const StartFinish& sf, std::string_view comment = {});

// Reads the file at `path`; throws LoadError("File not found") when it cannot
// be read.
StartFinish readStartFinishFile(const std::string& path);

// --- split lines kept beside a .gxr ---
// The .gxr holds no split lines, and its text must stay what the lap timer
// reads, so a start/finish file's split lines live in a small text file of
// their own beside it: the .gxr's path with its extension replaced by
// ".splits" ("NAME.gxr" -> "NAME.splits"; a name without an extension gets
// ".splits" added). See docs/formats.md.

// The split file's path for the start/finish file at `gxrPath`.
std::string splitLinesPathFor(const std::string& gxrPath);

// The split file's text: a comment line, then one line per split line in
// driving order, "LON1,LAT1,LON2,LAT2" in the .gxr's units (hundred-thousandths
// of a minute, rounded to the nearest unit as the .gxr is), every line ending
// in CR LF. Throws LoadError for a coordinate that cannot be written.
std::string composeSplitLinesText(const std::vector<Gate>& splits);

// Reads the split lines from a split file's text: blank lines and lines
// starting with '#' are skipped, every other line is one split line. Throws
// LoadError (Syntax, `fileName` and the line) for a line that is not four
// numbers, lies off the globe, has no point 1 or no direction.
std::vector<Gate> parseSplitLines(std::string_view text, const std::string& fileName);

// The split lines of the split file beside the start/finish file at
// `gxrPath`; none when there is no such file. Throws LoadError (naming the
// split file) when it cannot be read or does not parse.
std::vector<Gate> readSplitLinesBeside(const std::string& gxrPath);

// Reads a whole (small) text file; throws LoadError on failure.
std::string readWholeFile(const std::string& path, std::size_t maxBytes = 64u << 20);

// Splits text into lines at LF, CRLF or a lone CR; the last line may lack its end.
std::vector<std::string_view> splitLines(std::string_view text);

} // namespace lorvane
