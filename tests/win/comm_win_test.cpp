// The Win32 port against the virtual camera, under wine (scripts/wine_test.sh):
// TERN_WIN_PORT (COM1) is the camera's pseudo-terminal, TERN_WIN_MISSING
// (COM77) names no port at all.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "link/codec.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "link/ports.h"
#include "link/protocol.h"

#include <windows.h>

using namespace tern::link;
using namespace std::chrono_literals;

namespace {

std::string Port(const char* variable, const char* fallback) {
    const char* v = std::getenv(variable);
    return std::string("\\\\.\\") + (v && *v ? v : fallback);
}
const std::string kCamera = Port("TERN_WIN_PORT", "COM1");
const std::string kMissing = Port("TERN_WIN_MISSING", "COM77");

/// The port on the camera, its handlers on the console's loop (true) or on
/// the port's watch thread (false); what arrives is collected in order.
class WinComm : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        comm.SetPortDevice(1, kCamera);
        if (GetParam()) comm.SetNotifier(&loop);
        comm.OnCommReceive = [this](TComm& c, std::uint16_t n) {
            std::vector<std::uint8_t> b(n);
            b.resize(c.Read(b.data(), n));
            std::lock_guard lock(m);
            bytes.insert(bytes.end(), b.begin(), b.end());
            cv.notify_all();
        };
        comm.Open();
    }
    void TearDown() override { comm.Close(); }

    std::vector<std::uint8_t> WaitBytes(std::size_t n) {
        auto enough = [&] { return bytes.size() >= n; };
        if (GetParam()) {
            loop.RunUntil([&] { std::lock_guard lock(m); return enough(); }, 5000ms);
        } else {
            std::unique_lock lock(m);
            cv.wait_for(lock, 5000ms, enough);
        }
        std::lock_guard lock(m);
        return bytes;
    }

    EventLoop loop;  // before the port: it outlives the port's use of it
    TComm comm;
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::uint8_t> bytes;
};

TEST_P(WinComm, EnqIsAnsweredWithAck) {
    comm.Write(&ENQ, 1);
    EXPECT_EQ(WaitBytes(1), std::vector<std::uint8_t>{ACK});
}

TEST_P(WinComm, AFrameGetsItsAckAndAReplyWithAGoodCheckCode) {
    Payload p;
    p[1] = 0x31;  // read
    p[2] = 0x0A;  // DSP register
    p[3] = 0x01;
    const FrameBytes frame = BuildStxFrame(p, 3);
    comm.Write(frame.data(), static_cast<std::uint32_t>(frame.size()));
    const auto got = WaitBytes(1 + kCmdFrameSize);
    ASSERT_EQ(got.size(), 1 + kCmdFrameSize);
    EXPECT_EQ(got[0], ACK);
    EXPECT_EQ(got[1], STX);
    EXPECT_EQ(got[2], kStatusAccepted);
    EXPECT_EQ(got[17], ETX);
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(got.data() + 2, 16));
    EXPECT_EQ(crc, (got[18] << 8) | got[19]);
}

INSTANTIATE_TEST_SUITE_P(Handlers, WinComm, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "OnTheEventLoop" : "OnTheWatchThread"; });

TEST(WinCommPort, ReadWithNothingComingGivesNothingAfterItsSecond) {
    TComm comm;
    comm.SetPortDevice(1, kCamera);
    comm.Open();
    std::uint8_t b = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(comm.Read(&b, 1), 0u);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3000ms);
}

TEST(WinCommPort, AMissingComPortIsAnOpenErrorThatSendsTheUserToDeviceManager) {
    TComm comm;
    comm.SetPortDevice(1, kMissing);
    try {
        comm.Open();
        FAIL() << "opened " << kMissing;
    } catch (const ECommOpenError& e) {
        EXPECT_STREQ(e.what(), "オープンエラー ErrorCode = -1");
        EXPECT_EQ(e.Errno, ENOENT) << e.Reason;
        const std::string help = OpenErrorHelp(e);
        EXPECT_NE(help.find("Device Manager"), std::string::npos) << help;
        EXPECT_EQ(help.find("dialout"), std::string::npos) << help;
    }
    EXPECT_FALSE(comm.IsOpen());
}

TEST(WinCommPort, CloseFromItsOwnHandlerOnTheWatchThread) {
    std::mutex m;
    std::condition_variable cv;
    int calls = 0;
    TComm comm;
    comm.SetPortDevice(1, kCamera);
    comm.OnCommReceive = [&](TComm& c, std::uint16_t) {
        c.Close();
        std::lock_guard lock(m);
        ++calls;
        cv.notify_all();
    };
    comm.Open();
    comm.Write(&ENQ, 1);
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 5000ms, [&] { return calls > 0; }));
    lock.unlock();
    EXPECT_FALSE(comm.IsOpen());
    comm.Open();  // joins the thread kept aside, and the port is free again
    EXPECT_TRUE(comm.IsOpen());
    comm.Close();
    EXPECT_EQ(calls, 1);
}

TEST(WinCommPort, FiftyOpenCloseCyclesLeaveThePortWorking) {
    TComm comm;
    comm.SetPortDevice(1, kCamera);
    for (int i = 0; i < 50; ++i) {
        ASSERT_NO_THROW(comm.Open()) << "cycle " << i;
        comm.Close();
    }
    EventLoop loop;
    bool acked = false;
    comm.SetNotifier(&loop);
    comm.OnCommReceive = [&](TComm& c, std::uint16_t n) {
        std::vector<std::uint8_t> b(n);
        b.resize(c.Read(b.data(), n));
        for (std::uint8_t x : b) acked = acked || x == ACK;
    };
    comm.Open();
    comm.Write(&ENQ, 1);
    EXPECT_TRUE(loop.RunUntil([&] { return acked; }, 5000ms));
    comm.Close();
}

/// The camera's port as a user may write it: "com1", "Com1", "\\.\com1".
class WinPortName : public ::testing::TestWithParam<int> {};

TEST_P(WinPortName, OpensTheCameraWhateverTheCaseAndPrefix) {
    std::string name = kCamera.substr(4);  // "COM1"
    if (GetParam() != 1) std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (GetParam() == 1) name = "Com" + name.substr(3);
    if (GetParam() == 2) name = "\\\\.\\" + name;
    TComm comm;
    comm.SetPortDevice(1, name);
    ASSERT_NO_THROW(comm.Open()) << name;
    comm.Write(&ENQ, 1);
    std::uint8_t b = 0;
    EXPECT_EQ(comm.Read(&b, 1), 1u) << name;
    EXPECT_EQ(b, ACK) << name;
    comm.Close();
}

INSTANTIATE_TEST_SUITE_P(Names, WinPortName, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return std::string(info.param == 0 ? "LowerCase" : info.param == 1 ? "MixedCase" : "DevicePrefix"); });

// (A port another program holds is listed busy on Windows; wine does not
// keep a serial device's open exclusive, so that is not tried here.)
TEST(WinCommPort, TheListNamesTheCameraPortAndNoMissingOne) {
    const std::string com = kCamera.substr(4);
    auto find = [&](const std::vector<SerialPort>& ports) {
        return std::find_if(ports.begin(), ports.end(), [&](const SerialPort& p) { return p.device == com; });
    };
    const std::vector<SerialPort> ports = ListSerialPorts();
    const auto it = find(ports);
    ASSERT_NE(it, ports.end()) << PortListText(ports);
    EXPECT_TRUE(it->accessible);
    for (const SerialPort& p : ports) EXPECT_NE(p.device, kMissing.substr(4));
}

// The watch's wait is the one a real port gives: it pends until a byte
// comes (wine does so on the pseudo-terminal with the test's modem-line
// preload), and the camera's answer ends it with EV_RXCHAR.
TEST(WinCommPort, TheEventWaitPendsUntilTheCameraAnswers) {
    const HANDLE h = ::CreateFileA(kCamera.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD modem = 0;
    EXPECT_TRUE(::GetCommModemStatus(h, &modem));
    EXPECT_TRUE(modem & MS_DSR_ON);
    ::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    ASSERT_TRUE(::SetCommMask(h, EV_RXCHAR | EV_ERR));
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD mask = 0;
    EXPECT_FALSE(::WaitCommEvent(h, &mask, &ov));
    ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

    OVERLAPPED wov{};
    wov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    if (!::WriteFile(h, &ENQ, 1, &n, &wov)) ::GetOverlappedResult(h, &wov, &n, TRUE);
    ASSERT_EQ(::WaitForSingleObject(ov.hEvent, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(::GetOverlappedResult(h, &ov, &n, FALSE)) << ::GetLastError();
    EXPECT_TRUE(mask & EV_RXCHAR) << mask;
    ::CloseHandle(wov.hEvent);
    ::CloseHandle(ov.hEvent);
    ::CloseHandle(h);
}

}  // namespace
