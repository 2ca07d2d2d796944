#include <gtest/gtest.h>

#include "app/Options.h"

namespace tern::app {
namespace {

AppOptions Parse(const std::vector<std::string>& args, bool ok = true) {
    AppOptions o;
    std::string error;
    EXPECT_EQ(ParseAppArgs(args, o, error), ok) << error;
    if (!ok) {
        EXPECT_FALSE(error.empty());
    }
    return o;
}

TEST(CommandLine, ModesPortsAndTheVirtualCamera) {
    EXPECT_EQ(Parse({}).toolMode, link::ToolMode::Apl);
    EXPECT_EQ(Parse({"--mode", "dbg"}).toolMode, link::ToolMode::Dbg);
    EXPECT_EQ(Parse({"--mode", "KIZU"}).toolMode, link::ToolMode::Kizu);
    Parse({"--mode", "all"}, false);
    Parse({"--mode"}, false);

    const AppOptions ports = Parse({"--port", "/dev/ttyUSB0", "--port2", "/dev/ttyUSB1"});
    EXPECT_EQ(ports.port1, "/dev/ttyUSB0");
    EXPECT_EQ(ports.port2, "/dev/ttyUSB1");
    EXPECT_FALSE(ports.simulate);

    // The virtual camera's own options go through with --simulate, in any order.
    const AppOptions sim = Parse({"--pal", "--simulate", "--lo-res", "--mode", "dbg"});
    EXPECT_TRUE(sim.simulate);
    EXPECT_TRUE(sim.camera.pal);
    EXPECT_FALSE(sim.camera.highResolution);
    EXPECT_EQ(sim.toolMode, link::ToolMode::Dbg);
    Parse({"--pal"}, false);                    // not without it
    Parse({"--simulate", "--bogus"}, false);    // nor what the camera does not know
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_EQ(Parse({"--screenshot", "a.png"}).screenshot, "a.png");
}

TEST(CommandLine, AnEmptyDeviceNameIsRefusedNotTakenForTheDefault) {
    Parse({"--port", ""}, false);
    Parse({"--port2", ""}, false);
    AppOptions o;
    std::string error;
    ParseAppArgs({"--port", ""}, o, error);
    EXPECT_NE(error.find("empty"), std::string::npos) << error;
}

TEST(CommandLine, TraceAndVersion) {
    EXPECT_EQ(Parse({"--trace", "line.txt"}).trace, "line.txt");
    Parse({"--trace", ""}, false);
    Parse({"--trace"}, false);
    EXPECT_TRUE(Parse({"--version"}).version);
    EXPECT_EQ(Parse({"--port", "auto"}).port1, "auto");
}

TEST(CommandLine, TheFirstPageByName) {
    EXPECT_FALSE(Parse({}).page);
    EXPECT_EQ(Parse({"--page", "Setup2"}).page, link::Page::Setup2);
    EXPECT_EQ(Parse({"--page", "defect"}).page, link::Page::Defect);
    Parse({"--page", "mask"}, false);
    Parse({"--page"}, false);
}

}  // namespace
}  // namespace tern::app
