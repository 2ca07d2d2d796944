// ternctl get / set by setting name, and one command on many cameras, run
// as the program against virtual cameras on their own pseudo-terminals.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "camera/pty_camera.h"
#include "cli/settings_commands.h"
#include "temp_dir.h"
#include "transfer/Settings.h"

#ifdef TERNCTL_PATH

using namespace tern;
using nlohmann::json;
using test::Put;
using test::Slurp;
using test::TempDir;

namespace {

struct Outcome {
    int rc = -1;
    std::string out, err;
};

Outcome Ctl(const TempDir& dir, const std::string& args) {
    const std::string errPath = dir.File("stderr.txt");
    Outcome r;
    FILE* pipe = ::popen((std::string(TERNCTL_PATH) + " " + args + " 2>" + errPath).c_str(), "r");
    if (pipe == nullptr) return r;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, pipe)) r.out += buf;
    const int status = ::pclose(pipe);
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = Slurp(errPath);
    return r;
}

struct Camera {
    explicit Camera(camera::CameraOptions options = {}) : cam(options) { cam.Start(); }
    std::string Port() const { return " --port " + cam.DevicePath() + " "; }
    std::string Dev() const { return cam.DevicePath(); }
    camera::PtyCamera cam;
};

/// The settings of one `get --json` object.
json Settings(const std::string& out) { return json::parse(out.substr(0, out.find('\n'))).at("settings"); }

/// The JSON objects of a run on many cameras, by device.
std::map<std::string, json> ByDevice(const std::string& out) {
    std::map<std::string, json> objects;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const json j = json::parse(line);
        if (j.at("type") == "camera") objects[j.at("device").get<std::string>()] = j;
    }
    return objects;
}

/// The result column of `dev`'s row in the summary table.
std::string SummaryOf(const std::string& err, const std::string& dev) {
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(dev + " ", 0) != 0) continue;
        const std::size_t from = line.find_first_not_of(' ', dev.size());
        return line.substr(from, line.find("  ", from) - from);
    }
    return "no row for " + dev;
}

}  // namespace

TEST(TernctlSettings, SetChangesExactlyTheNamedSettingsOnEachCameraAndGetReadsThemBack) {
    TempDir dir;
    camera::CameraOptions pal;
    pal.pal = true;
    Camera a, b(pal);
    const Outcome first = Ctl(dir, "get --json" + a.Port() + b.Port());
    ASSERT_EQ(first.rc, 0) << first.err;
    auto objects = ByDevice(first.out);
    ASSERT_EQ(objects.size(), 2u) << first.out;
    const json oldA = objects[a.Dev()]["settings"], oldB = objects[b.Dev()]["settings"];
    EXPECT_EQ(oldA["CName"], "CAMERA");
    const auto readable = std::count_if(transfer::Settings().begin(), transfer::Settings().end(),
                                        [](const transfer::Setting& s) { return !s.writeOnly; });
    EXPECT_EQ(static_cast<long>(oldA.size()), readable) << "every setting the camera reports read";
    EXPECT_NE(oldA["v_pha_lvl"], oldB["v_pha_lvl"]) << "NTSC and PAL cameras differ";
    EXPECT_EQ(SummaryOf(first.err, a.Dev()), "ok") << first.err;

    std::string grid(48, '0');
    grid[0] = grid[47] = '1';
    const auto expectedGrid = [](const std::string& digits) {
        json cells = json::array();
        for (char c : digits) cells.push_back(c == '1');
        return cells;
    };
    const std::string changes = " Sync=LINE CName=SITE-7 AGC_MAX=5 Mirror=on Shutter=1/250 BLCCheck=" + grid + " ";
    const Outcome set = Ctl(dir, "set" + a.Port() + b.Port() + changes);
    ASSERT_EQ(set.rc, 0) << set.err;
    EXPECT_EQ(SummaryOf(set.err, b.Dev()), "ok") << set.err;

    objects = ByDevice(Ctl(dir, "get --json" + a.Port() + b.Port()).out);
    for (const auto& [dev, old] : {std::pair{a.Dev(), oldA}, std::pair{b.Dev(), oldB}}) {
        json expected = old;
        expected["Sync"] = "LINE";
        expected["CName"] = "SITE-7";
        expected["AGC_MAX"] = 5;
        expected["Mirror"] = true;
        expected["Shutter"] = "1/250";
        expected["BLCCheck"] = expectedGrid(grid);
        EXPECT_EQ(objects[dev]["settings"], expected) << dev;
    }
    // Single cells change the grid as the camera holds it.
    ASSERT_EQ(Ctl(dir, "set" + a.Port() + "BLCCheck01=off BLCCheck02=on MoCheck48=off").rc, 0);
    grid[0] = '0';
    grid[1] = '1';
    const json cells = Settings(Ctl(dir, "get --json" + a.Port() + "BLCCheck MoCheck").out);
    EXPECT_EQ(cells["BLCCheck"], expectedGrid(grid));
    EXPECT_EQ(cells["MoCheck"], expectedGrid(std::string(47, '1') + "0"));
    // Plain lines, limited to the names asked for.
    const Outcome plain = Ctl(dir, "get" + a.Port() + "Sync AGC_MAX");
    EXPECT_EQ(plain.rc, 0) << plain.err;
    EXPECT_EQ(plain.out, "AGC_MAX=5\nSync=LINE\n");
}

TEST(TernctlSettings, BadValuesAreRefusedBeforeAnythingIsSent) {
    TempDir dir;
    Camera a;
    for (const char* bad : {"Sync=EXT", "AGC_MAX=9", "Mirror=yes", "CName=ABCDEFGHIJKLM", "Colour=red", "BLCCheck=01",
                            "wb_sel=on"}) {
        const Outcome r = Ctl(dir, "set" + a.Port() + "AGC_MAX=2 " + bad);
        EXPECT_EQ(r.rc, 2) << bad;
        EXPECT_NE(r.err.find(std::string(bad).substr(0, std::string(bad).find('='))), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Nothing was sent"), std::string::npos) << r.err;
    }
    EXPECT_NE(Ctl(dir, "set" + a.Port() + "Sync=EXT").err.find("INT, LINE, VBS"), std::string::npos);
    EXPECT_EQ(a.cam.WithModel([](camera::CameraModel& m) { return m.CommandsSeen(); }), 0u);
}

TEST(TernctlSettings, RefusalsAreNamedAndACameraThatIsGoneFailsAlone) {
    TempDir dir;
    camera::CameraOptions refusing;
    refusing.refuseItems = {link::kItemSync};
    refusing.errorItems = {link::kItemPwmRef};
    Camera good, picky(refusing), gone;
    // Its device stays taken while gone: a pseudo-terminal freed whole could
    // be handed to another program, whose device ternctl would then reach.
    const int goneKept = ::open(gone.Dev().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(goneKept, 0);
    gone.cam.HangUp();
    const Outcome r = Ctl(dir, "set" + good.Port() + picky.Port() + gone.Port() + "Sync=VBS Nega=on");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find(picky.Dev() + ": ternctl set: Sync: the camera refused it (A8)"), std::string::npos) << r.err;
    EXPECT_EQ(SummaryOf(r.err, good.Dev()), "ok") << r.err;
    EXPECT_EQ(SummaryOf(r.err, picky.Dev()), "failed (exit 1)") << r.err;
    EXPECT_EQ(SummaryOf(r.err, gone.Dev()), "failed (exit 1)") << r.err;
    ::close(goneKept);
    EXPECT_EQ(Ctl(dir, "get" + good.Port() + "Sync Nega").out, "Sync=VBS\nNega=on\n");
    // The refusing camera took the change it accepted.
    EXPECT_EQ(Ctl(dir, "get" + picky.Port() + "Nega").out, "Nega=on\n");

    // A read answered with an error is reported, not invented.
    const Outcome g = Ctl(dir, "get --json" + picky.Port());
    EXPECT_EQ(g.rc, 1);
    const json j = json::parse(g.out.substr(0, g.out.find('\n')));
    EXPECT_FALSE(j["settings"].contains("pwm_ref"));
    EXPECT_EQ(j["unread"]["pwm_ref"], "the camera answered it with an error (E0)");
    EXPECT_EQ(j["settings"]["Sync"], "INT") << "read through its block; the refused change left it as it was";
}

TEST(TernctlSettings, GetThenSetFromCopiesTheVisibleSettingsToAnotherCamera) {
    TempDir dir;
    Camera a, b;
    ASSERT_EQ(Ctl(dir, "set" + a.Port() + "--service Sync=LINE CName=NORTH MoLv=7 gamma=1.00 shut_disp_sel='No use'").rc, 0);
    const Outcome got = Ctl(dir, "get --json" + a.Port());
    ASSERT_EQ(got.rc, 0) << got.err;
    Put(dir.File("a.json"), got.out);
    Put(dir.File("a.txt"), Ctl(dir, "get" + a.Port()).out);

    for (const char* file : {"a.json", "a.txt"}) {
        Camera c;
        const Outcome set = Ctl(dir, "set" + c.Port() + "--save --from " + dir.File(file));
        ASSERT_EQ(set.rc, 0) << set.err;
        EXPECT_NE(set.err.find("left out the service settings"), std::string::npos) << set.err;
        EXPECT_NE(set.err.find("shut_disp_sel"), std::string::npos) << set.err;
        EXPECT_EQ(c.cam.WithModel([](camera::CameraModel& m) { return m.Saves(); }), 1);
        json copied = Settings(Ctl(dir, "get --json" + c.Port()).out), source = Settings(got.out);
        EXPECT_EQ(copied["shut_disp_sel"], "Use") << "a service setting is not copied without --service";
        copied.erase("shut_disp_sel");
        source.erase("shut_disp_sel");
        EXPECT_EQ(copied, source) << file;
    }
}

TEST(TernctlSettings, BackupOfManyCamerasWritesOneFilePerCamera) {
    TempDir dir;
    Camera a, b;
    a.cam.WithModel([](camera::CameraModel& m) { m.SetMemoryWord(0x12, 0x0AAA); });
    b.cam.WithModel([](camera::CameraModel& m) { m.SetMemoryWord(0x12, 0x0BBB); });
    EXPECT_EQ(Ctl(dir, "backup" + a.Port() + b.Port() + dir.File("cam.dat")).rc, 2) << "one file for two cameras";
    const Outcome r = Ctl(dir, "backup --quiet" + a.Port() + b.Port() + dir.File("cam-{n}.dat"));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(Slurp(dir.File("cam-1.dat")).find("210C00120AAA"), std::string::npos);
    EXPECT_NE(Slurp(dir.File("cam-2.dat")).find("210C00120BBB"), std::string::npos);
}

TEST(TernctlSettings, TheReadmeListsEverySettingAsTheHelpDoes) {
    std::ostringstream list;
    cli::SettingsList(list);
    const std::string readme = Slurp(TERN_SOURCE_DIR "/README.md");
    EXPECT_NE(readme.find("```text" + list.str() + "```"), std::string::npos)
        << "run scripts/readme_settings.sh to bring the README up to date";
}

#endif
