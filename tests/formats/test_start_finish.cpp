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
