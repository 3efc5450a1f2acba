#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "formats/diagnostic.h"
#include "formats/numbers.h"
#include "formats/start_finish.h"
#include "laps/local_plane.h"
#include "reference/reference_file.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {
ReferenceInput sampleInput() {
    ReferenceInput in;
    in.startFinishText = "[Start finish]\n1 2 3 4\n[Finish]\n0 0 0 0"; // LF alone, no final line end
    in.baseLat = 3090.5;
    in.baseLong = -0.123456789;
    in.lapTime = 95.4321;
    in.openingOffset = 0.0375;
    in.points = {GeoPoint{3090.5, -0.123456789, 0}, GeoPoint{3090.5, -0.123456789, 1},
                 GeoPoint{3090.5, -0.123456789, 2}};
    return in;
}
} // namespace

TEST(ReferenceFile, LayoutAndNumbers) {
    const std::string text = composeReferenceFile(sampleInput());
    const std::string scale = formatFixed(calcLongScale(3090.5, 0), 1, 6);
    const std::string expected = "[Start finish]\r\n1 2 3 4\r\n[Finish]\r\n0 0 0 0\r\n\r\n"
                                 "[BasePoint]\r\n-12345 309050000 " +
                                 scale +
                                 "\r\n\r\n"
                                 "[Info]\r\nTime 95432 NumPoints 3\r\nFixedReference false\r\n\r\n"
                                 "[Points]\r\n0.000 0.000 37\r\n0.000 0.000 1037\r\n0.000 0.000 95432\r\n";
    EXPECT_EQ(text, expected);
    auto fixed = sampleInput();
    fixed.fixedReference = true;
    EXPECT_NE(composeReferenceFile(fixed).find("\r\nFixedReference true\r\n"), std::string::npos);
}

TEST(ReferenceFile, PointsInMetresWithTheirSigns) {
    ReferenceInput in = sampleInput();
    in.baseLong = 10;
    const double scale = calcLongScale(in.baseLat, in.baseLong);
    // 12.3456 m east and 3.21 m south of the base point.
    in.points = {GeoPoint{in.baseLat, in.baseLong},
                 GeoPoint{in.baseLat - 3.21 / kMetresPerMinute, in.baseLong + 12.3456 / (kMetresPerMinute * scale)}};
    const std::string text = composeReferenceFile(in);
    EXPECT_NE(text.find("\r\n12.346 -3.210 95432\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n1000000 309050000 "), std::string::npos);
}

TEST(ReferenceFile, AtomicWriteNeverLeavesAPartialFile) {
    TempDir dir;
    const std::string target = dir.write("LAP.REF", "old contents");
    writeFileAtomically(target, "new contents");
    EXPECT_EQ(test::readFile(target), "new contents");

    // A read-only target stays as it was.
    ::chmod(target.c_str(), 0444);
    EXPECT_THROW(writeFileAtomically(target, "newer"), LoadError);
    EXPECT_EQ(test::readFile(target), "new contents");
    ::chmod(target.c_str(), 0644);

    // A folder, or a folder that does not exist, as target.
    EXPECT_THROW(writeFileAtomically(dir.path(), "x"), LoadError);
    EXPECT_THROW(writeFileAtomically(dir.file("nope/LAP.REF"), "x"), LoadError);

    // No temporary file is left behind.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}
