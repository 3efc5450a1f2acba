#include <gtest/gtest.h>

#include "formats/diagnostic.h"
#include "formats/start_finish.h"

using namespace lorvane;

namespace {
Diagnostic errorOf(std::string_view text) {
    try {
        parseStartFinish(text, "t.gxr");
    } catch (const LoadError& e) {
        return e.diagnostic();
    }
    ADD_FAILURE() << "no error";
    return {};
}
} // namespace

TEST(StartFinish, ReadsBothGatesLongitudeFirst) {
    auto sf = parseStartFinish("junk\n[Start finish]\n-6000000 309000000 -6000500 309001000\nmore\n"
                               "[Finish]\n-6001000 309002000 -6001500 309003000\n",
                               "t.gxr");
    EXPECT_EQ(sf.start.long1, -60.0);
    EXPECT_EQ(sf.start.lat1, 3090.0);
    EXPECT_EQ(sf.start.long2, -60.005);
    EXPECT_EQ(sf.start.lat2, 3090.01);
    EXPECT_EQ(sf.finish.long1, -60.01);
    EXPECT_EQ(sf.finish.lat1, 3090.02);
    EXPECT_TRUE(sf.hasFinishLine);
}

TEST(StartFinish, LineEndsCommasAndHeaderForms) {
    auto sf = parseStartFinish("[Start Finish]\r\n100,5 200 300 400\r[finish]\r\n0 0 0 0", "t.gxr");
    EXPECT_EQ(sf.start.long1, 100.5 / 100000);
    EXPECT_EQ(sf.start.lat2, 400.0 / 100000);
    EXPECT_FALSE(sf.hasFinishLine);
    EXPECT_EQ(errorOf("[START FINISH]\n1 2 3 4\n[Finish]\n0 0 0 0\n").message,
              "No \"[Start finish]\" section in the start/finish file");
    EXPECT_EQ(errorOf("[Start finish]\n1 2 3 4\n[FINISH]\n0 0 0 0\n").message,
              "No \"[Finish]\" section in the start/finish file");
    EXPECT_FALSE(errorOf("[Start finish]").message.empty());
    EXPECT_FALSE(errorOf("[Start finish]\n1 2 3 4\n[Finish]").message.empty());
}

TEST(StartFinish, ShortFinishLineTakesTheStartLinesFields) {
    // The two coordinate lines share one field table.
    auto sf = parseStartFinish("[Start finish]\n1 2 3 4 5\n[Finish]\n9 8\n", "t.gxr");
    EXPECT_EQ(sf.finish.long1, 9.0 / 100000);
    EXPECT_EQ(sf.finish.lat1, 8.0 / 100000);
    EXPECT_EQ(sf.finish.long2, 3.0 / 100000);
    EXPECT_EQ(sf.finish.lat2, 4.0 / 100000);
    // An empty finish line copies the start gate.
    auto same = parseStartFinish("[Start finish]\n1 2 3 4\n[Finish]\n\n", "t.gxr");
    EXPECT_EQ(same.finish.lat1, same.start.lat1);
    EXPECT_TRUE(same.hasFinishLine);
}

TEST(StartFinish, BadFieldsNameTheFieldAndLine) {
    auto d = errorOf("a\n[Start finish]\n1 2 x 4\n[Finish]\n0 0 0 0\n");
    EXPECT_EQ(d.message, "'x' is not a valid floating point value");
    EXPECT_EQ(d.line, 3);
    EXPECT_EQ(d.file, "t.gxr");
    // Two blanks make an empty field 2.
    EXPECT_EQ(errorOf("[Start finish]\n1  2 3 4\n[Finish]\n0 0 0 0\n").message,
              "'' is not a valid floating point value");
    // Too few fields on the start line.
    EXPECT_EQ(errorOf("[Start finish]\n1 2 3\n[Finish]\n0 0 0 0\n").message, "'' is not a valid floating point value");
    EXPECT_EQ(errorOf("[Start finish]\n1 2 3 4\n[Finish]\n1 2 nan 4\n").line, 4);
}

TEST(StartFinish, NameTest) {
    EXPECT_TRUE(passesGxrNameTest("/a/b/track.gxr"));
    EXPECT_TRUE(passesGxrNameTest("/a/B/TRACK.GXR"));
    EXPECT_TRUE(passesGxrNameTest("/data/gxr/track.txt"));
    EXPECT_FALSE(passesGxrNameTest("/a/b/track.Gxr"));
    EXPECT_FALSE(passesGxrNameTest("/a/b/track.txt"));
}

TEST(StartFinish, MissingFileOrFolder) {
    try {
        readStartFinishFile("/nonexistent/x.gxr");
        FAIL();
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().message, "File not found");
        EXPECT_EQ(e.diagnostic().file, "/nonexistent/x.gxr");
    }
    EXPECT_THROW(readStartFinishFile("/tmp"), LoadError);
}

TEST(SplitLinesFile, NameFormatAndErrors) {
    EXPECT_EQ(splitLinesPathFor("/a.b/NAME.gxr"), "/a.b/NAME.splits");
    EXPECT_EQ(splitLinesPathFor("C:\\x.y\\T.GXR"), "C:\\x.y\\T.splits");
    EXPECT_EQ(splitLinesPathFor("gxr/.gxr"), "gxr/.gxr.splits");
    EXPECT_EQ(splitLinesPathFor("dir.gxr/track"), "dir.gxr/track.splits");

    const std::vector<Gate> splits{{3090.5, -60.25, 3090.501, -60.2501}, {-2000, 100, -2000.00001, 100}};
    const std::string text = composeSplitLinesText(splits);
    EXPECT_EQ(text.substr(text.find("\r\n") + 2), "-6025000,309050000,-6025010,309050100\r\n"
                                                  "10000000,-200000000,10000000,-200000001\r\n");
    const auto back = parseSplitLines(text, "t.splits");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].lat1, 3090.5);
    EXPECT_EQ(back[0].long2, -60.2501);
    EXPECT_EQ(back[1].lat2, -2000.00001);
    EXPECT_TRUE(parseSplitLines("# none\r\n\r\n  \n", "t.splits").empty());
    // Decimals, blanks and a bare CR are read; the order is kept.
    const auto loose = parseSplitLines(" 1.5 , 2,3,4\t\r#x\r5,6,7,8", "t.splits");
    ASSERT_EQ(loose.size(), 2u);
    EXPECT_EQ(loose[0].long1, 1.5 / 100000);
    EXPECT_EQ(loose[1].lat2, 8.0 / 100000);

    auto errorAt = [](std::string_view t) {
        try {
            parseSplitLines(t, "t.splits");
        } catch (const LoadError& e) {
            EXPECT_EQ(e.diagnostic().file, "t.splits");
            return std::make_pair(e.diagnostic().line, e.diagnostic().message);
        }
        ADD_FAILURE() << "no error for " << t;
        return std::make_pair(std::int64_t{0}, std::string());
    };
    EXPECT_EQ(errorAt("1,2,3,4\n# c\n1,2,3\n"),
              std::make_pair(std::int64_t{3}, std::string("A split line takes four numbers, LON1,LAT1,LON2,LAT2")));
    EXPECT_EQ(errorAt("1,2,3,4,5").second, "'4,5' is not a valid floating point value");
    EXPECT_EQ(errorAt("1 2 3 4").first, 1);
    EXPECT_EQ(errorAt("\n1,2,3,x").second, "'x' is not a valid floating point value");
    EXPECT_EQ(errorAt("1,2,3,600000000").second, "The split line lies off the globe");
    EXPECT_EQ(errorAt("0,0,3,4").second, "The split line has no point 1");
    EXPECT_EQ(errorAt("1,2,1,2").second, "The split line has its two points in the same place: no direction");
}
