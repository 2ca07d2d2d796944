// The camera options as the programs pass them through.
#include <gtest/gtest.h>

#include "camera/options.h"
#include "test_names.h"

namespace tern::camera {
namespace {

TEST(CameraOptions, ReadsEveryOption) {
    CameraOptions o;
    std::string error;
    ASSERT_TRUE(ParseCameraArgs({"--baud", "9600", "--corrupt-every=3", "--drop-every", "0x10", "--refuse", "1c",
                                 "--refuse", "0x1D", "--error", "A", "--lo-res", "--pal", "--trace", "/tmp/t.txt",
                                 "--defect", "100,20", "--defect=0x3FF,0x1FF"},
                                o, error))
        << error;
    EXPECT_EQ(o.baud, 9600);
    EXPECT_EQ(o.corruptEvery, 3);
    EXPECT_EQ(o.dropEvery, 16);
    EXPECT_EQ(o.refuseItems, (std::vector<std::uint8_t>{0x1C, 0x1D}));
    EXPECT_EQ(o.errorItems, (std::vector<std::uint8_t>{0x0A}));
    EXPECT_FALSE(o.highResolution);
    EXPECT_TRUE(o.pal);
    EXPECT_EQ(o.tracePath, "/tmp/t.txt");
    EXPECT_EQ(o.defects, (std::vector<DefectPixel>{{100, 20}, {0x3FF, 0x1FF}}));

    ASSERT_TRUE(ParseCameraArgs({"--hi-res", "--ntsc"}, o, error));
    EXPECT_TRUE(o.highResolution);
    EXPECT_FALSE(o.pal);
    EXPECT_FALSE(CameraOptionsUsage().empty());
}

TEST(CameraOptions, DefectsTheSearchFindsAndTheTableAtStart) {
    CameraOptions o;
    std::string error;
    ASSERT_TRUE(ParseCameraArgs({"--defect", "100,20,fix,rev", "--defect=5,6,rev", "--slot", "c:0x123,0x45,rev",
                                 "--slot=O:1023,511,fix,off", "--fail-piece", "1"},
                                o, error))
        << error;
    EXPECT_EQ(o.defects, (std::vector<DefectPixel>{{100, 20, true, true}, {5, 6, false, true}}));
    EXPECT_EQ(o.table, (std::vector<StoredDefect>{{2, 0x123, 0x45, true, false, true}, {14, 1023, 511, false, true, false}}));
    EXPECT_EQ(o.failPiece, 1);
}

struct BadArgs {
    std::vector<std::string> args;
    const char* error;
};

class BadCameraArgs : public testing::TestWithParam<BadArgs> {};

TEST_P(BadCameraArgs, GiveAClearError) {
    CameraOptions o;
    std::string error;
    EXPECT_FALSE(ParseCameraArgs(GetParam().args, o, error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BadCameraArgs,
    testing::Values(BadArgs{{"--baud"}, "--baud needs a value"},
                    BadArgs{{"--baud", "fast"}, "--baud: expected a number from 0 to 4000000, got 'fast'"},
                    BadArgs{{"--drop-every", "-1"}, "--drop-every: expected a number from 0 to 1000000000, got '-1'"},
                    BadArgs{{"--corrupt-every", "3x"}, "--corrupt-every: expected a number from 0 to 1000000000, got '3x'"},
                    BadArgs{{"--refuse", "123"}, "--refuse: expected an item code in hexadecimal (00 to FF), got '123'"},
                    BadArgs{{"--error", "zz"}, "--error: expected an item code in hexadecimal (00 to FF), got 'zz'"},
                    BadArgs{{"--defect", "10"}, "--defect: expected X,Y with X from 0 to 1023 and Y from 0 to 511, got '10'"},
                    BadArgs{{"--defect", "10,512"}, "--defect: expected X,Y with X from 0 to 1023 and Y from 0 to 511, got '10,512'"},
                    BadArgs{{"--defect", "10,20,off"}, "--defect: expected X,Y with X from 0 to 1023 and Y from 0 to 511, got '10,20,off'"},
                    BadArgs{{"--slot", "P:1,2"}, "--slot: expected L:X,Y with a slot letter from A to O, got 'P:1,2'"},
                    BadArgs{{"--slot", "1,2"}, "--slot: expected L:X,Y with a slot letter from A to O, got '1,2'"},
                    BadArgs{{"--slot", "A:1024,2"}, "--slot: expected L:X,Y with X from 0 to 1023 and Y from 0 to 511, got 'A:1024,2'"},
                    BadArgs{{"--fail-piece", "6"}, "--fail-piece: expected a number from 0 to 5, got '6'"},
                    BadArgs{{"--pal=1"}, "--pal takes no value"}, BadArgs{{"--trace", ""}, "--trace: the file name is empty"},
                    BadArgs{{"--speed", "9600"}, "unknown camera option '--speed'"},
                    BadArgs{{"--refuse", "1c", "1d"}, "unknown camera option '1d'"}),
    [](const testing::TestParamInfo<BadArgs>& i) {
        std::string args;
        for (const auto& a : i.param.args) args += a + " ";
        return ::tern::test::RowName(args);
    });

}  // namespace
}  // namespace tern::camera
