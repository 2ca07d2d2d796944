// One backup on many cameras at once: `ternctl backup` (the built program,
// timed from its start to its exit) on 1, 2 and 4 virtual cameras, each on
// its own pseudo-terminal and paced at 9600 baud, and the time of each
// against the time of one camera. Rounds run interleaved (1, 2, 4, 1, 2,
// 4, ...) so that a slow moment of the machine falls on every count alike;
// the figures are medians. Goal: 4 cameras in at most 1.1 times one.
// Run: many_bench [--rounds N]
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "camera/pty_camera.h"

using namespace tern;
using namespace tern::bench;

namespace {

constexpr int kCounts[] = {1, 2, 4};
constexpr double kGoal = 1.1;

/// Seconds one `ternctl backup` on `n` fresh cameras takes; negative when it failed.
double BackupOn(int n, const std::string& dir) {
    std::vector<std::unique_ptr<camera::PtyCamera>> cams;
    std::string ports;
    for (int i = 0; i < n; ++i) {
        camera::CameraOptions o;
        o.baud = 9600;
        cams.push_back(std::make_unique<camera::PtyCamera>(o));
        cams.back()->Start();
        ports += " --port " + cams.back()->DevicePath();
    }
    // One camera: the same file name pattern, the same program path (no fan-out).
    const std::string target = n == 1 ? dir + "/cam-1.dat" : dir + "/cam-{n}.dat";
    const std::string cmd = std::string(TERNCTL_PATH) + " backup --quiet" + ports + (n == 1 ? " --port2 " + cams[0]->DevicePath() : "") +
                            " '" + target + "' >/dev/null 2>&1";
    const double s = TimedCommand(cmd);
    for (auto& c : cams) c->Stop();
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    char tmpl[] = "/tmp/many_bench.XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    if (dir == nullptr) return 1;
    std::map<int, std::vector<double>> times;
    for (int r = 0; r < rounds; ++r) {
        for (const int n : kCounts) {
            const double s = BackupOn(n, dir);
            if (s < 0) {
                std::fprintf(stderr, "many_bench: the backup on %d camera(s) failed\n", n);
                return 1;
            }
            times[n].push_back(s);
            std::printf("round %d, %d camera(s): %.2f s\n", r + 1, n, s);
            std::fflush(stdout);
        }
    }
    std::system((std::string("rm -rf '") + dir + "'").c_str());
    const double one = Median(times[1]);
    std::printf("\nbackup at 9600 baud, median of %d rounds\n", rounds);
    std::printf("cameras  median     min     max  ratio to one\n");
    for (const int n : kCounts) {
        std::printf("%7d  %6.2f s  %6.2f  %6.2f  %5.3f\n", n, Median(times[n]), Min(times[n]), Max(times[n]), Median(times[n]) / one);
    }
    const double ratio = Median(times[4]) / one;
    std::printf("\n4 cameras / 1 camera: %.3f (goal <= %.1f): %s\n", ratio, kGoal, ratio <= kGoal ? "met" : "MISSED");
    return 0;
}
