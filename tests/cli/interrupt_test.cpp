// Ctrl-C (or SIGTERM) in the middle of a backup: the file being written
// beside the target is removed, the target is left as it was, and the
// program ends by the signal (the shell shows 130 for Ctrl-C).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "camera/pty_camera.h"
#include "temp_dir.h"

using namespace tern;
using namespace std::chrono_literals;

namespace {

class Interrupted : public ::testing::TestWithParam<int> {};

TEST_P(Interrupted, BackupRemovesItsTemporaryFileAndEndsBySignal) {
    camera::CameraOptions o;
    o.baud = 1200;  // a backup of many seconds: the signal comes in the middle
    camera::PtyCamera cam(o);
    cam.Start();
    test::TempDir dir;
    const std::string target = dir.File("cam.dat");
    const std::string device = cam.DevicePath();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setpgid(0, 0);  // its own group, killed whole below whatever happens
        ::execl(TERNCTL_PATH, "ternctl", "backup", "--quiet", "--port", device.c_str(), target.c_str(), nullptr);
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    // The temporary file is made before the port is opened; its presence
    // says the backup has begun.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (dir.Entries().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(dir.Entries().size(), 1u);
    EXPECT_NE(dir.Entries()[0].find("cam.dat.tmp"), std::string::npos) << dir.Entries()[0];

    ::kill(pid, GetParam());
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline + 30s)
        std::this_thread::sleep_for(10ms);
    if (done == 0) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "ternctl did not end on the signal";
    }
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), GetParam());
    EXPECT_TRUE(dir.Entries().empty()) << dir.Entries()[0];
    cam.Stop();
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return std::string(info.param == SIGINT ? "CtrlC" : "Sigterm"); });

}  // namespace
