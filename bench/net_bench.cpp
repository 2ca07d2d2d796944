// A backup through a terminal server against the same backup on the line
// itself: `ternctl backup` (the built program, timed from its start to its
// exit) of a virtual camera paced at 9600 baud, once through ser2net
// (rfc2217://127.0.0.1:PORT, ser2net's connector the camera's
// pseudo-terminal) and once on the pseudo-terminal directly. Rounds run
// interleaved (direct, network, direct, ...) so that a slow moment of the
// machine falls on both alike; the figures are medians. Goal: through the
// server at most 1.01 times the direct time (the line is the limit).
// Run: net_bench [--rounds N]
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/cli/ser2net_rig.h"
#include "bench_util.h"
#include "camera/pty_camera.h"

using namespace tern;
using namespace tern::bench;

namespace {

constexpr double kGoal = 1.01;

/// Seconds one `ternctl backup` on `port` takes; negative when it failed.
double Backup(const std::string& port, const std::string& file) {
    const std::string cmd = std::string("timeout 300 ") + TERNCTL_PATH + " backup --quiet --port " + port + " --port2 " +
                            port + " '" + file + "' >/dev/null 2>&1";
    return TimedCommand(cmd);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    char tmpl[] = "/tmp/net_bench.XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    if (dir == nullptr) return 1;
    std::vector<double> direct, network;
    {
        // Two cameras alike: ser2net holds its device only while a client is
        // connected, but each path keeps a camera of its own all the same.
        camera::CameraOptions o;
        o.baud = 9600;
        camera::PtyCamera line(o), served(o);
        line.Start();
        served.Start();
        test::Ser2net server(dir, {{served.DevicePath(), true}});
        const std::string file = std::string(dir) + "/cam.dat";
        for (int r = 0; r < rounds; ++r) {
            const double d = Backup(line.DevicePath(), file);
            const double n = Backup(server[0].Url(), file);
            if (d < 0 || n < 0) {
                std::fprintf(stderr, "net_bench: the backup %s failed\n", d < 0 ? "on the line" : "through ser2net");
                break;
            }
            direct.push_back(d);
            network.push_back(n);
            std::printf("round %d: direct %.2f s, through ser2net %.2f s\n", r + 1, d, n);
            std::fflush(stdout);
        }
    }
    std::system((std::string("rm -rf '") + dir + "'").c_str());
    if (direct.empty()) {
        std::fprintf(stderr, "net_bench: nothing measured\n");
        return 1;
    }
    std::printf("\n512-word backup at 9600 baud, %zu rounds interleaved\n", direct.size());
    std::printf("path            median     min     max\n");
    std::printf("direct (pty)   %6.2f s  %6.2f  %6.2f\n", Median(direct), Min(direct), Max(direct));
    std::printf("rfc2217        %6.2f s  %6.2f  %6.2f\n", Median(network), Min(network), Max(network));
    const double ratio = Median(network) / Median(direct);
    std::printf("\nthrough ser2net / direct: %.3f (goal <= %.2f): %s\n", ratio, kGoal, ratio <= kGoal ? "met" : "MISSED");
    return 0;
}
