#include "formats/gpx_log.h"

#include <expat.h>

#include <array>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "formats/held_samples.h"
#include "formats/log_time.h"
#include "formats/numbers.h"

namespace lorvane {

namespace {

// Longest text kept of a <time>, <sat> or <speed> element.
constexpr std::size_t kMaxValueText = 256;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The channels a track point may carry: GPX's own elements, then those of the
// common extensions (Garmin's TrackPointExtension and the like).
enum Channel : std::size_t {
    kElevation,
    kSpeed,
    kCourse,
    kHdop,
    kSatellites,
    kHeartRate,
    kCadence,
    kAirTemperature,
    kPower,
    kChannels
};
const ChannelInfo kChannelInfo[kChannels] = {
    {"Elevation", "m"},    {"Speed", "m/s"},   {"Course", "deg"},         {"HDOP", ""},   {"Satellites", ""},
    {"Heart rate", "bpm"}, {"Cadence", "rpm"}, {"Air temperature", "°C"}, {"Power", "W"},
};

// The channel an element of a track point gives (`depth` 5 is a child of
// <trkpt>, deeper ones sit in its <extensions>); kChannels for none. Speed and
// satellites are read with the sample.
std::size_t channelOf(std::string_view local, int depth) {
    if (depth == 5) {
        if (local == "ele") return kElevation;
        if (local == "course") return kCourse;
        if (local == "hdop") return kHdop;
        return kChannels;
    }
    if (local == "hr") return kHeartRate;
    if (local == "cad") return kCadence;
    if (local == "atemp") return kAirTemperature;
    if (local == "power") return kPower;
    return kChannels;
}

// windows-1252 bytes 0x80-0x9F (0xA0-0xFF are those of ISO-8859-1). The five
// it leaves undefined are read as the C1 controls, as web browsers do.
constexpr std::array<std::uint16_t, 32> kWindows1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// ISO-8859-n bytes 0xA0-0xFF (0x80-0x9F are the C1 controls in all of them),
// 0 where the encoding leaves the byte undefined.
struct IsoTable {
    int n; // ISO-8859-n
    std::array<std::uint16_t, 96> upper;
};
constexpr IsoTable kIso8859[] = {
    {2,
     {
         0x00A0, 0x0104, 0x02D8, 0x0141, 0x00A4, 0x013D, 0x015A, 0x00A7, 0x00A8, 0x0160, 0x015E, 0x0164, 0x0179, 0x00AD,
         0x017D, 0x017B, 0x00B0, 0x0105, 0x02DB, 0x0142, 0x00B4, 0x013E, 0x015B, 0x02C7, 0x00B8, 0x0161, 0x015F, 0x0165,
         0x017A, 0x02DD, 0x017E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9,
         0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
         0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A,
         0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3,
         0x00F4, 0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
     }},
    {3,
     {
         0x00A0, 0x0126, 0x02D8, 0x00A3, 0x00A4, 0x0000, 0x0124, 0x00A7, 0x00A8, 0x0130, 0x015E, 0x011E, 0x0134, 0x00AD,
         0x0000, 0x017B, 0x00B0, 0x0127, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x0125, 0x00B7, 0x00B8, 0x0131, 0x015F, 0x011F,
         0x0135, 0x00BD, 0x0000, 0x017C, 0x00C0, 0x00C1, 0x00C2, 0x0000, 0x00C4, 0x010A, 0x0108, 0x00C7, 0x00C8, 0x00C9,
         0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x0000, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x0120, 0x00D6, 0x00D7,
         0x011C, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x016C, 0x015C, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x0000, 0x00E4, 0x010B,
         0x0109, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x0000, 0x00F1, 0x00F2, 0x00F3,
         0x00F4, 0x0121, 0x00F6, 0x00F7, 0x011D, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x016D, 0x015D, 0x02D9,
     }},
    {4,
     {
         0x00A0, 0x0104, 0x0138, 0x0156, 0x00A4, 0x0128, 0x013B, 0x00A7, 0x00A8, 0x0160, 0x0112, 0x0122, 0x0166, 0x00AD,
         0x017D, 0x00AF, 0x00B0, 0x0105, 0x02DB, 0x0157, 0x00B4, 0x0129, 0x013C, 0x02C7, 0x00B8, 0x0161, 0x0113, 0x0123,
         0x0167, 0x014A, 0x017E, 0x014B, 0x0100, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x012E, 0x010C, 0x00C9,
         0x0118, 0x00CB, 0x0116, 0x00CD, 0x00CE, 0x012A, 0x0110, 0x0145, 0x014C, 0x0136, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
         0x00D8, 0x0172, 0x00DA, 0x00DB, 0x00DC, 0x0168, 0x016A, 0x00DF, 0x0101, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5,
         0x00E6, 0x012F, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x0117, 0x00ED, 0x00EE, 0x012B, 0x0111, 0x0146, 0x014D, 0x0137,
         0x00F4, 0x00F5, 0x00F6, 0x00F7, 0x00F8, 0x0173, 0x00FA, 0x00FB, 0x00FC, 0x0169, 0x016B, 0x02D9,
     }},
    {5,
     {
         0x00A0, 0x0401, 0x0402, 0x0403, 0x0404, 0x0405, 0x0406, 0x0407, 0x0408, 0x0409, 0x040A, 0x040B, 0x040C, 0x00AD,
         0x040E, 0x040F, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
         0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429,
         0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
         0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445,
         0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, 0x2116, 0x0451, 0x0452, 0x0453,
         0x0454, 0x0455, 0x0456, 0x0457, 0x0458, 0x0459, 0x045A, 0x045B, 0x045C, 0x00A7, 0x045E, 0x045F,
     }},
    {6,
     {
         0x00A0, 0x0000, 0x0000, 0x0000, 0x00A4, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x060C, 0x00AD,
         0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x061B,
         0x0000, 0x0000, 0x0000, 0x061F, 0x0000, 0x0621, 0x0622, 0x0623, 0x0624, 0x0625, 0x0626, 0x0627, 0x0628, 0x0629,
         0x062A, 0x062B, 0x062C, 0x062D, 0x062E, 0x062F, 0x0630, 0x0631, 0x0632, 0x0633, 0x0634, 0x0635, 0x0636, 0x0637,
         0x0638, 0x0639, 0x063A, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0640, 0x0641, 0x0642, 0x0643, 0x0644, 0x0645,
         0x0646, 0x0647, 0x0648, 0x0649, 0x064A, 0x064B, 0x064C, 0x064D, 0x064E, 0x064F, 0x0650, 0x0651, 0x0652, 0x0000,
         0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
     }},
    {7,
     {
         0x00A0, 0x2018, 0x2019, 0x00A3, 0x20AC, 0x20AF, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x037A, 0x00AB, 0x00AC, 0x00AD,
         0x0000, 0x2015, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x0384, 0x0385, 0x0386, 0x00B7, 0x0388, 0x0389, 0x038A, 0x00BB,
         0x038C, 0x00BD, 0x038E, 0x038F, 0x0390, 0x0391, 0x0392, 0x0393, 0x0394, 0x0395, 0x0396, 0x0397, 0x0398, 0x0399,
         0x039A, 0x039B, 0x039C, 0x039D, 0x039E, 0x039F, 0x03A0, 0x03A1, 0x0000, 0x03A3, 0x03A4, 0x03A5, 0x03A6, 0x03A7,
         0x03A8, 0x03A9, 0x03AA, 0x03AB, 0x03AC, 0x03AD, 0x03AE, 0x03AF, 0x03B0, 0x03B1, 0x03B2, 0x03B3, 0x03B4, 0x03B5,
         0x03B6, 0x03B7, 0x03B8, 0x03B9, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BE, 0x03BF, 0x03C0, 0x03C1, 0x03C2, 0x03C3,
         0x03C4, 0x03C5, 0x03C6, 0x03C7, 0x03C8, 0x03C9, 0x03CA, 0x03CB, 0x03CC, 0x03CD, 0x03CE, 0x0000,
     }},
    {8,
     {
         0x00A0, 0x0000, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00D7, 0x00AB, 0x00AC, 0x00AD,
         0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00F7, 0x00BB,
         0x00BC, 0x00BD, 0x00BE, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
         0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
         0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x2017, 0x05D0, 0x05D1, 0x05D2, 0x05D3, 0x05D4, 0x05D5,
         0x05D6, 0x05D7, 0x05D8, 0x05D9, 0x05DA, 0x05DB, 0x05DC, 0x05DD, 0x05DE, 0x05DF, 0x05E0, 0x05E1, 0x05E2, 0x05E3,
         0x05E4, 0x05E5, 0x05E6, 0x05E7, 0x05E8, 0x05E9, 0x05EA, 0x0000, 0x0000, 0x200E, 0x200F, 0x0000,
     }},
    {9,
     {
         0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD,
         0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
         0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9,
         0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x011E, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
         0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0130, 0x015E, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5,
         0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x011F, 0x00F1, 0x00F2, 0x00F3,
         0x00F4, 0x00F5, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0131, 0x015F, 0x00FF,
     }},
    {10,
     {
         0x00A0, 0x0104, 0x0112, 0x0122, 0x012A, 0x0128, 0x0136, 0x00A7, 0x013B, 0x0110, 0x0160, 0x0166, 0x017D, 0x00AD,
         0x016A, 0x014A, 0x00B0, 0x0105, 0x0113, 0x0123, 0x012B, 0x0129, 0x0137, 0x00B7, 0x013C, 0x0111, 0x0161, 0x0167,
         0x017E, 0x2015, 0x016B, 0x014B, 0x0100, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x012E, 0x010C, 0x00C9,
         0x0118, 0x00CB, 0x0116, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x0145, 0x014C, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x0168,
         0x00D8, 0x0172, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF, 0x0101, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5,
         0x00E6, 0x012F, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x0117, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x0146, 0x014D, 0x00F3,
         0x00F4, 0x00F5, 0x00F6, 0x0169, 0x00F8, 0x0173, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x0138,
     }},
    {11,
     {
         0x00A0, 0x0E01, 0x0E02, 0x0E03, 0x0E04, 0x0E05, 0x0E06, 0x0E07, 0x0E08, 0x0E09, 0x0E0A, 0x0E0B, 0x0E0C, 0x0E0D,
         0x0E0E, 0x0E0F, 0x0E10, 0x0E11, 0x0E12, 0x0E13, 0x0E14, 0x0E15, 0x0E16, 0x0E17, 0x0E18, 0x0E19, 0x0E1A, 0x0E1B,
         0x0E1C, 0x0E1D, 0x0E1E, 0x0E1F, 0x0E20, 0x0E21, 0x0E22, 0x0E23, 0x0E24, 0x0E25, 0x0E26, 0x0E27, 0x0E28, 0x0E29,
         0x0E2A, 0x0E2B, 0x0E2C, 0x0E2D, 0x0E2E, 0x0E2F, 0x0E30, 0x0E31, 0x0E32, 0x0E33, 0x0E34, 0x0E35, 0x0E36, 0x0E37,
         0x0E38, 0x0E39, 0x0E3A, 0x0000, 0x0000, 0x0000, 0x0000, 0x0E3F, 0x0E40, 0x0E41, 0x0E42, 0x0E43, 0x0E44, 0x0E45,
         0x0E46, 0x0E47, 0x0E48, 0x0E49, 0x0E4A, 0x0E4B, 0x0E4C, 0x0E4D, 0x0E4E, 0x0E4F, 0x0E50, 0x0E51, 0x0E52, 0x0E53,
         0x0E54, 0x0E55, 0x0E56, 0x0E57, 0x0E58, 0x0E59, 0x0E5A, 0x0E5B, 0x0000, 0x0000, 0x0000, 0x0000,
     }},
    {13,
     {
         0x00A0, 0x201D, 0x00A2, 0x00A3, 0x00A4, 0x201E, 0x00A6, 0x00A7, 0x00D8, 0x00A9, 0x0156, 0x00AB, 0x00AC, 0x00AD,
         0x00AE, 0x00C6, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x201C, 0x00B5, 0x00B6, 0x00B7, 0x00F8, 0x00B9, 0x0157, 0x00BB,
         0x00BC, 0x00BD, 0x00BE, 0x00E6, 0x0104, 0x012E, 0x0100, 0x0106, 0x00C4, 0x00C5, 0x0118, 0x0112, 0x010C, 0x00C9,
         0x0179, 0x0116, 0x0122, 0x0136, 0x012A, 0x013B, 0x0160, 0x0143, 0x0145, 0x00D3, 0x014C, 0x00D5, 0x00D6, 0x00D7,
         0x0172, 0x0141, 0x015A, 0x016A, 0x00DC, 0x017B, 0x017D, 0x00DF, 0x0105, 0x012F, 0x0101, 0x0107, 0x00E4, 0x00E5,
         0x0119, 0x0113, 0x010D, 0x00E9, 0x017A, 0x0117, 0x0123, 0x0137, 0x012B, 0x013C, 0x0161, 0x0144, 0x0146, 0x00F3,
         0x014D, 0x00F5, 0x00F6, 0x00F7, 0x0173, 0x0142, 0x015B, 0x016B, 0x00FC, 0x017C, 0x017E, 0x2019,
     }},
    {14,
     {
         0x00A0, 0x1E02, 0x1E03, 0x00A3, 0x010A, 0x010B, 0x1E0A, 0x00A7, 0x1E80, 0x00A9, 0x1E82, 0x1E0B, 0x1EF2, 0x00AD,
         0x00AE, 0x0178, 0x1E1E, 0x1E1F, 0x0120, 0x0121, 0x1E40, 0x1E41, 0x00B6, 0x1E56, 0x1E81, 0x1E57, 0x1E83, 0x1E60,
         0x1EF3, 0x1E84, 0x1E85, 0x1E61, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9,
         0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x0174, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x1E6A,
         0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x0176, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5,
         0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x0175, 0x00F1, 0x00F2, 0x00F3,
         0x00F4, 0x00F5, 0x00F6, 0x1E6B, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x0177, 0x00FF,
     }},
    {15,
     {
         0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x20AC, 0x00A5, 0x0160, 0x00A7, 0x0161, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD,
         0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x017D, 0x00B5, 0x00B6, 0x00B7, 0x017E, 0x00B9, 0x00BA, 0x00BB,
         0x0152, 0x0153, 0x0178, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9,
         0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
         0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5,
         0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3,
         0x00F4, 0x00F5, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
     }},
    {16,
     {
         0x00A0, 0x0104, 0x0105, 0x0141, 0x20AC, 0x201E, 0x0160, 0x00A7, 0x0161, 0x00A9, 0x0218, 0x00AB, 0x0179, 0x00AD,
         0x017A, 0x017B, 0x00B0, 0x00B1, 0x010C, 0x0142, 0x017D, 0x201D, 0x00B6, 0x00B7, 0x017E, 0x010D, 0x0219, 0x00BB,
         0x0152, 0x0153, 0x0178, 0x017C, 0x00C0, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0106, 0x00C6, 0x00C7, 0x00C8, 0x00C9,
         0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x0110, 0x0143, 0x00D2, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x015A,
         0x0170, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0118, 0x021A, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x0107,
         0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x0111, 0x0144, 0x00F2, 0x00F3,
         0x00F4, 0x0151, 0x00F6, 0x015B, 0x0171, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0119, 0x021B, 0x00FF,
     }},
};

// "ISO-8859-15", "iso8859_15", "Latin-9": lower case without '-', '_' and blanks.
std::string encodingKey(std::string_view name) {
    std::string k;
    for (char c : name.substr(0, 64)) {
        if (c == '-' || c == '_' || c == ' ') continue;
        k += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return k;
}

// Fills expat's byte map for the single-byte encodings it does not know
// itself. Returns false for an encoding this program does not read.
bool singleByteMap(std::string_view name, int (&map)[256]) {
    const std::string k = encodingKey(name);
    for (int b = 0; b < 256; ++b) map[b] = b; // ASCII, and ISO-8859-1 as far as it goes
    if (k == "windows1252" || k == "cp1252" || k == "xcp1252") {
        for (int b = 0; b < 32; ++b) map[0x80 + b] = kWindows1252[static_cast<std::size_t>(b)];
        return true;
    }
    int n = 0;
    if (k == "latin1" || k == "l1" || k == "iso88591")
        n = 1;
    else if (k == "latin2" || k == "l2")
        n = 2;
    else if (k == "latin9" || k == "l9")
        n = 15;
    else if (k.starts_with("iso8859") && k.size() <= 9) {
        if (auto v = parseInteger(std::string_view(k).substr(7))) n = static_cast<int>(*v);
    }
    if (n == 1) return true;
    for (const IsoTable& t : kIso8859) {
        if (t.n != n) continue;
        for (int b = 0; b < 96; ++b) {
            const std::uint16_t u = t.upper[static_cast<std::size_t>(b)];
            map[0xA0 + b] = u ? u : -1;
        }
        return true;
    }
    return false;
}

std::string_view localName(const XML_Char* name) {
    std::string_view n(name);
    auto colon = n.rfind(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

std::string_view trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string quotedValue(std::string_view v) {
    // notAValidFloat quotes and shortens; reuse its quoting for other messages.
    std::string s = notAValidFloat(v);
    return s.substr(0, s.rfind('\'') + 1);
}

class GpxReader {
    using Values = std::array<double, kChannels>;

public:
    GpxReader(ByteSource& source, SampleSink& sink)
        : source_(source), sink_(sink), path_(source.name()), wantChannels_(sink.wantsChannels()) {
        parser_ = XML_ParserCreate(nullptr);
        if (!parser_) fail(ErrorKind::InputOutput, "Out of memory for the XML parser", path_);
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &GpxReader::onStart, &GpxReader::onEnd);
        XML_SetCharacterDataHandler(parser_, &GpxReader::onText);
        XML_SetEntityDeclHandler(parser_, &GpxReader::onEntityDecl);
        XML_SetUnknownEncodingHandler(parser_, &GpxReader::onUnknownEncoding, this);
    }
    ~GpxReader() { XML_ParserFree(parser_); }
    GpxReader(const GpxReader&) = delete;
    GpxReader& operator=(const GpxReader&) = delete;

    GpxLogInfo run() {
        // With channels wanted, the layout waits until the first points
        // have told which elements, and so which channels, the file has.
        if (!wantChannels_) announce();
        BlockBuffer buf(source_, sink_);
        try {
            for (;;) {
                const bool more = buf.fill();
                const std::size_t n = buf.available();
                const XML_Status st = XML_Parse(parser_, buf.data() + buf.begin(), static_cast<int>(n),
                                                more ? XML_FALSE : XML_TRUE);
                buf.consume(n);
                if (pending_) std::rethrow_exception(pending_);
                if (error_) throw LoadError(*error_);
                if (info_.stopped) return info_;
                if (st == XML_STATUS_ERROR) xmlError(!more);
                if (!more) break;
            }
        } catch (...) {
            // The points before the error reach the sink, as they would have
            // without channels; not after an exception of the sink's own.
            if (!pending_) release();
            throw;
        }
        release();
        return info_;
    }

private:
    void announce() {
        if (announced_) return;
        announced_ = true;
        LogLayout layout;
        layout.ticksPerSecond = 1000;
        if (wantChannels_) {
            for (std::size_t c = 0; c < kChannels; ++c) {
                if (!present_[c]) continue;
                slot_[c] = static_cast<int>(layout.channels.size());
                layout.channels.push_back(kChannelInfo[c]);
            }
            values_.assign(layout.channels.size(), kNaN);
        }
        sink_.layout(layout);
    }

    // BlockBuffer hands out at most a few MB at once, well within an int.
    static_assert(kReadBlock < (1u << 30));

    [[noreturn]] void xmlError(bool atEnd) {
        const XML_Error code = XML_GetErrorCode(parser_);
        const auto line = static_cast<std::int64_t>(XML_GetCurrentLineNumber(parser_));
        const auto column = static_cast<std::int64_t>(XML_GetCurrentColumnNumber(parser_)) + 1;
        std::string what = XML_ErrorString(code);
        std::string msg;
        const bool cut = atEnd && (code == XML_ERROR_NO_ELEMENTS || code == XML_ERROR_UNCLOSED_TOKEN ||
                                   code == XML_ERROR_PARTIAL_CHAR || code == XML_ERROR_UNCLOSED_CDATA_SECTION);
        if (code == XML_ERROR_UNKNOWN_ENCODING && !unknownEncoding_.empty())
            msg = "The GPX file is in an encoding this program does not read: \"" + unknownEncoding_ + "\"";
        else if (!rootSeen_)
            msg = "Not a GPX file: " +
                  (code == XML_ERROR_NO_ELEMENTS ? std::string("no XML element in it") : "not XML (" + what + ")");
        else if (cut)
            msg = "The GPX file ends early, inside an element (is it cut short?)";
        else
            msg = "The GPX file is not well-formed XML: " + what + " (column " + std::to_string(column) + ")";
        fail(ErrorKind::Syntax, msg, path_, line > 0 ? line : 1);
    }

    void stopWith(std::string message) {
        if (!error_)
            error_ = Diagnostic{std::move(message), path_, static_cast<std::int64_t>(XML_GetCurrentLineNumber(parser_)),
                                -1, ErrorKind::Syntax};
        XML_StopParser(parser_, XML_FALSE);
    }

    template <class F>
    static void guarded(void* self, F&& f) {
        auto* r = static_cast<GpxReader*>(self);
        if (r->pending_ || r->error_ || r->info_.stopped) return;
        try {
            f(*r);
        } catch (...) {
            r->pending_ = std::current_exception();
            XML_StopParser(r->parser_, XML_FALSE);
        }
    }

    static int XMLCALL onUnknownEncoding(void* self, const XML_Char* name, XML_Encoding* info) {
        auto* r = static_cast<GpxReader*>(self);
        info->data = nullptr;
        info->convert = nullptr;
        info->release = nullptr;
        if (singleByteMap(name, info->map)) return XML_STATUS_OK;
        r->unknownEncoding_ = std::string(std::string_view(name).substr(0, 64));
        return XML_STATUS_ERROR;
    }
    static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attrs) {
        guarded(self, [&](GpxReader& r) { r.start(name, attrs); });
    }
    static void XMLCALL onEnd(void* self, const XML_Char* name) {
        guarded(self, [&](GpxReader& r) { r.end(name); });
    }
    static void XMLCALL onText(void* self, const XML_Char* s, int len) {
        auto* r = static_cast<GpxReader*>(self);
        if (r->text_ == Text::None) return;
        const std::size_t room = kMaxValueText + 1 - std::min(r->value_.size(), kMaxValueText + 1);
        r->value_.append(s, std::min<std::size_t>(room, static_cast<std::size_t>(len)));
    }
    static void XMLCALL onEntityDecl(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                     const XML_Char*, const XML_Char*, const XML_Char*) {
        guarded(self,
                [&](GpxReader& r) { r.stopWith("The GPX file declares XML entities, which GPX files do not use"); });
    }

    void start(const XML_Char* name, const XML_Char** attrs) {
        ++depth_;
        const std::string_view local = localName(name);
        if (depth_ == 1) {
            rootSeen_ = true;
            if (local != "gpx") {
                stopWith("Not a GPX file: its root element is <" + std::string(std::string_view(name).substr(0, 64)) +
                         ">, not <gpx>");
                return;
            }
            for (const XML_Char** a = attrs; *a; a += 2)
                if (localName(a[0]) == "version") info_.version = std::string(std::string_view(a[1]).substr(0, 32));
        } else if (depth_ == 2 && local == "trk") {
            inTrack_ = true;
            ++info_.tracks;
        } else if (depth_ == 3 && inTrack_ && local == "trkseg") {
            inSegment_ = true;
            ++info_.segments;
        } else if (depth_ == 4 && inSegment_ && local == "trkpt") {
            startPoint(attrs);
        } else if (inPoint_ && text_ == Text::None) {
            if (depth_ == 5 && local == "time" && !point_.hasTime)
                text_ = Text::Time;
            else if (depth_ == 5 && local == "sat" && !point_.hasSats)
                text_ = Text::Sat;
            else if (local == "speed" && point_.speed < 0)
                text_ = Text::Speed;
            else if (wantChannels_) {
                channel_ = channelOf(local, depth_);
                if (channel_ < kChannels && std::isnan(point_.channels[channel_])) text_ = Text::Channel;
            }
            if (text_ != Text::None) {
                textDepth_ = depth_;
                value_.clear();
            }
        }
    }

    void end(const XML_Char*) {
        if (text_ != Text::None && depth_ == textDepth_) {
            endValue();
            text_ = Text::None;
        }
        if (depth_ == 4 && inPoint_) {
            inPoint_ = false;
            endPoint();
        } else if (depth_ == 3) {
            inSegment_ = false;
        } else if (depth_ == 2) {
            inTrack_ = false;
        }
        --depth_;
    }

    void startPoint(const XML_Char** attrs) {
        inPoint_ = true;
        point_ = Point{};
        point_.line = static_cast<std::int64_t>(XML_GetCurrentLineNumber(parser_));
        std::optional<std::string_view> lat, lon;
        for (const XML_Char** a = attrs; *a; a += 2) {
            const std::string_view n(a[0]);
            if (n == "lat") lat = trim(a[1]);
            if (n == "lon") lon = trim(a[1]);
        }
        if (!lat) return stopWith("Track point without a lat attribute");
        if (!lon) return stopWith("Track point without a lon attribute");
        auto la = parseDecimal(*lat);
        if (!la) return stopWith(notAValidFloat(*lat) + " (the lat of a track point)");
        auto lo = parseDecimal(*lon);
        if (!lo) return stopWith(notAValidFloat(*lon) + " (the lon of a track point)");
        if (*la < -90 || *la > 90) return stopWith("Latitude " + quotedValue(*lat) + " is outside -90 to 90 degrees");
        if (*lo < -180 || *lo > 180)
            return stopWith("Longitude " + quotedValue(*lon) + " is outside -180 to 180 degrees");
        point_.lat = *la * 60;
        point_.lon = *lo * 60;
    }

    void endValue() {
        const std::string_view v = trim(value_);
        switch (text_) {
        case Text::Channel: {
            // A value that does not read is no value, never an error.
            point_.present[channel_] = true;
            auto d = parseDecimal(v);
            if (d && std::isfinite(*d)) point_.channels[channel_] = *d;
            break;
        }
        case Text::Time: {
            auto t = parseIsoDateTime(v);
            if (!t) return stopWith(quotedValue(v) + " is not a valid time (ISO 8601, e.g. 2024-05-01T10:15:30.25Z)");
            point_.time = *t;
            point_.hasTime = true;
            break;
        }
        case Text::Sat: {
            auto n = parseInteger(v);
            if (!n || *n < 0) return stopWith(notAValidInteger(v) + " (the <sat> of a track point)");
            point_.sats = *n;
            point_.hasSats = true;
            point_.present[kSatellites] = true;
            break;
        }
        case Text::Speed: {
            auto s = parseDecimal(v);
            if (!s || *s < 0) return stopWith(notAValidFloat(v) + " (the <speed> of a track point)");
            point_.speed = *s;
            point_.present[kSpeed] = true;
            break;
        }
        case Text::None: break;
        }
    }

    void endPoint() {
        if (!point_.hasTime) {
            error_ = Diagnostic{"Track point without a <time>", path_, point_.line, -1, ErrorKind::Syntax};
            XML_StopParser(parser_, XML_FALSE);
            return;
        }
        Sample s;
        s.index = index_ + static_cast<std::int32_t>(held_.size());
        s.lat = point_.lat;
        s.lon = point_.lon;
        s.satsKnown = point_.hasSats;
        s.sats = point_.hasSats ? point_.sats : kSatsUnknown;
        if (point_.hasSats) info_.satellites = true;
        s.clock = clock_.clock(point_.time.ms, point_.time.day);
        s.time = static_cast<double>(s.clock) / 1000.0;
        s.speed = point_.speed;
        s.line = point_.line;
        if (wantChannels_) {
            point_.channels[kSpeed] = point_.speed >= 0 ? point_.speed : kNaN;
            point_.channels[kSatellites] = point_.hasSats ? point_.sats : kNaN;
            if (held_.holding()) {
                for (std::size_t c = 0; c < kChannels; ++c) present_[c] = present_[c] || point_.present[c];
                held_.hold(s, point_.channels);
                if (held_.full()) release();
                return;
            }
        }
        deliver(s, point_.channels);
    }

    // Hands on the layout and the points held back for it.
    void release() {
        announce();
        if (!info_.stopped && !held_.release([this](const Sample& s, const Values& v) { return deliver(s, v); }))
            info_.stopped = true;
    }

    // Hands a sample to the sink; false when the sink says stop.
    bool deliver(Sample s, const Values& values) {
        if (wantChannels_) {
            for (std::size_t c = 0; c < kChannels; ++c)
                if (slot_[c] >= 0) values_[static_cast<std::size_t>(slot_[c])] = values[c];
            s.channels = values_;
        }
        if (!sink_.sample(s)) {
            info_.stopped = true;
            XML_StopParser(parser_, XML_FALSE);
            return false;
        }
        ++info_.samples;
        if (!info_.firstDay) info_.firstDay = clock_.firstDay();
        if (index_ == INT32_MAX) fail(ErrorKind::Invalid, "Too many samples in one log", path_, s.line);
        ++index_;
        return true;
    }

    enum class Text { None, Time, Sat, Speed, Channel };
    struct Point {
        double lat = 0, lon = 0;
        DateTime time;
        bool hasTime = false;
        bool hasSats = false;
        std::int32_t sats = 0;
        double speed = -1;
        std::int64_t line = 0;
        Values channels = {kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
        std::array<bool, kChannels> present{}; // the point has the element
    };

    ByteSource& source_;
    SampleSink& sink_;
    const std::string& path_;
    XML_Parser parser_ = nullptr;
    GpxLogInfo info_;
    std::exception_ptr pending_;
    std::optional<Diagnostic> error_;
    std::string unknownEncoding_;
    int depth_ = 0;
    bool rootSeen_ = false, inTrack_ = false, inSegment_ = false, inPoint_ = false;
    Text text_ = Text::None;
    int textDepth_ = 0;
    std::string value_;
    Point point_;
    DayClock clock_;
    std::int32_t index_ = 0;
    const bool wantChannels_;
    bool announced_ = false;
    std::size_t channel_ = kChannels;                                        // the channel of the element being read
    std::array<int, kChannels> slot_ = {-1, -1, -1, -1, -1, -1, -1, -1, -1}; // index in values_, -1: not announced
    std::vector<double> values_;
    std::array<bool, kChannels> present_{}; // some point held back has the element
    HeldSamples<kChannels> held_;
};

} // namespace

GpxLogInfo readGpxLog(const std::string& path, SampleSink& sink) {
    FileSource file(path);
    return readGpxLog(file, sink);
}

GpxLogInfo readGpxLog(ByteSource& source, SampleSink& sink) {
    return GpxReader(source, sink).run();
}

} // namespace lorvane
