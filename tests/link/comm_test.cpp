// TComm on real pseudo-terminals. The test holds the master
// side; TComm opens the slave as port 1 (or 2), the device it is given. The
// slave is left in the kernel's default cooked settings before TComm opens
// it: the transparency tests show that Open makes the line fully raw.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/comm.h"
#include "link/event_loop.h"
#include "link/pty_util.h"

using namespace tern::link;
using tern::test::Pty;
using tern::test::ThreadCount;
using tern::test::WaitFor;
using namespace std::chrono_literals;

namespace {

class CommTest : public ::testing::Test {
protected:
    void SetUp() override { devices.com1 = pty.SlavePath(); }

    /// COM1 is the pseudo-terminal's slave.
    PortDevices devices;

    /// The slave's termios, read through the master (the kernel answers
    /// TCGETS on a pty master with its slave's settings).
    termios SlaveTermios() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(pty.Master(), &t), 0);
        return t;
    }

    Pty pty;
};

/// Every byte value, `rounds` times over.
std::vector<std::uint8_t> AllBytes(int rounds) {
    std::vector<std::uint8_t> v;
    for (int r = 0; r < rounds; ++r)
        for (int b = 0; b < 256; ++b) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

/// Collects what OnCommReceive reports, reading exactly the reported size.
struct Receiver {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::uint8_t> bytes;
    std::atomic<int> calls{0};

    void Install(TComm& c) {
        c.OnCommReceive = [this](TComm& sender, std::uint16_t size) {
            std::vector<std::uint8_t> buf(size);
            std::uint32_t got = 0;
            while (got < size) {
                const std::uint32_t n = sender.Read(buf.data() + got, size - got);
                if (n == 0) break;
                got += n;
            }
            {
                std::lock_guard lk(m);
                bytes.insert(bytes.end(), buf.begin(), buf.begin() + got);
            }
            ++calls;
            cv.notify_all();
        };
    }
    bool WaitBytes(std::size_t n, std::chrono::milliseconds timeout = 3000ms) {
        std::unique_lock lk(m);
        return cv.wait_for(lk, timeout, [&] { return bytes.size() >= n; });
    }
    std::vector<std::uint8_t> Take() {
        std::lock_guard lk(m);
        return bytes;
    }
};

}  // namespace

// ---- exceptions and names ----------------------------------------------------------------

TEST(CommErrors, MessagesAndCodes) {
    ECommOpenError open(-1, "in use");
    EXPECT_STREQ(open.what(), "オープンエラー ErrorCode = -1");
    EXPECT_EQ(open.ErrorCode, -1);
    EXPECT_EQ(open.Reason, "in use");
    ECommOpenError open2(-2, "");
    EXPECT_STREQ(open2.what(), "オープンエラー ErrorCode = -2");

    ECommReadWriteError rw(5, "Input/output error");
    EXPECT_STREQ(rw.what(), "入出力エラー ErrorCode = 5");
    EXPECT_EQ(rw.ErrorCode, 5u);
    EXPECT_EQ(rw.Reason, "Input/output error");

    // Both are ECommErrors.
    const ECommError& base = rw;
    EXPECT_STREQ(base.what(), "入出力エラー ErrorCode = 5");
    EXPECT_STREQ(kMsgNotStarted, "通信が開始されていない。");
    EXPECT_STREQ(kMsgTooLong, "送信データ長が長すぎる。");
}

TEST(CommPortNames, DefaultsAndOverridesBelongToEachPort) {
    TComm a;
    EXPECT_EQ(a.PortDeviceName(1), "/dev/ttyS0");
    EXPECT_EQ(a.PortDeviceName(2), "/dev/ttyS1");
    a.SetPortDevice(2, "/dev/ttyUSB0");
    EXPECT_EQ(a.PortDeviceName(2), "/dev/ttyUSB0");
    EXPECT_EQ(a.PortDeviceName(1), "/dev/ttyS0");
    TComm b;  // another port keeps its own
    EXPECT_EQ(b.PortDeviceName(2), "/dev/ttyS1");
    TComm c(PortDevices{"/dev/ttyACM0", "/dev/ttyUSB1"});
    EXPECT_EQ(c.PortDeviceName(1), "/dev/ttyACM0");
    EXPECT_EQ(c.PortDeviceName(2), "/dev/ttyUSB1");
}

TEST(CommProperties, Defaults) {
    TComm c;
    EXPECT_EQ(c.Port(), 1);
    EXPECT_EQ(c.BaudRate(), 9600);
    EXPECT_EQ(c.BaudRateUserDefined(), 9600);
    EXPECT_EQ(c.ByteSize(), TCommByteSize::cbs8);
    EXPECT_EQ(c.ParityBits(), TCommParityBits::cpbNone);
    EXPECT_EQ(c.StopBits(), TCommStopBits::csb1);
    EXPECT_EQ(c.FlowControls(), cfcRtsCts);
    EXPECT_EQ(c.InQueueSize(), 4096);
    EXPECT_EQ(c.OutQueueSize(), 4096);
    EXPECT_EQ(c.ReceiveNotifySize(), 3072);
    EXPECT_EQ(c.SendNotifySize(), 1024);
    EXPECT_EQ(c.EventMask(), 0);
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(c.DeviceName(), "");
}

TEST(CommProperties, BaudRateUserDefined) {
    TComm c;
    c.SetBaudRateUserDefined(19200);
    EXPECT_EQ(c.BaudRate(), -1);
    EXPECT_EQ(c.BaudRateUserDefined(), 19200);
    EXPECT_EQ(c.EffectiveBaudRate(), 19200);
    c.SetBaudRate(4800);
    EXPECT_EQ(c.EffectiveBaudRate(), 4800);
    EXPECT_EQ(c.BaudRateUserDefined(), 19200);
}

// ---- open / close ----------------------------------------------------------------------------

TEST_F(CommTest, OpenAndCloseAreIdempotent) {
    TComm c(devices);
    c.Open();
    EXPECT_TRUE(c.IsOpen());
    EXPECT_EQ(c.DeviceName(), pty.SlavePath());
    c.Open();  // no-op
    EXPECT_TRUE(c.IsOpen());
    c.Close();
    EXPECT_FALSE(c.IsOpen());
    c.Close();  // no-op
    EXPECT_FALSE(c.IsOpen());
    // Opens again (the exclusive mode was released on the pty).
    c.Open();
    EXPECT_TRUE(c.IsOpen());
    c.Close();
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    if (fd >= 0) ::close(fd);
}

TEST_F(CommTest, DestructorCloses) {
    const int before = ThreadCount();
    {
        TComm c(devices);
        c.Open();
        EXPECT_EQ(ThreadCount(), before + 1);
    }
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == before; }));  // joined; the kernel lists an ended thread a moment longer
    TComm again(devices);  // the device is free again
    EXPECT_NO_THROW(again.Open());
}

TEST_F(CommTest, Port2OpensTheCom2Device) {
    Pty other;
    devices.com2 = other.SlavePath();
    TComm c(devices);
    c.SetPort(2);
    c.Open();
    EXPECT_EQ(c.DeviceName(), other.SlavePath());
    const std::vector<std::uint8_t> hello{'C', 'O', 'M', '2'};
    c.Write(hello.data(), 4);
    EXPECT_EQ(other.Read(4), hello);
}

TEST_F(CommTest, SecondOpenOfADeviceInUseIsRefused) {
    TComm a(devices), b(devices);
    a.Open();
    try {
        b.Open();
        FAIL() << "second open succeeded";
    } catch (const ECommOpenError& e) {
        EXPECT_EQ(e.ErrorCode, -1);
        EXPECT_STREQ(e.what(), "オープンエラー ErrorCode = -1");
        EXPECT_EQ(e.Reason, "in use");
    }
    EXPECT_FALSE(b.IsOpen());
    // The first opener is untouched (still raw, still working).
    const std::vector<std::uint8_t> data{0x03, 0x11, 0x13, 0x0D};
    a.Write(data.data(), 4);
    EXPECT_EQ(pty.Read(4), data);
    a.Close();
    EXPECT_NO_THROW(b.Open());
    EXPECT_TRUE(b.IsOpen());
}

TEST_F(CommTest, OpenInUseByAnotherProcessIsRefused) {
    TComm a(devices);
    a.Open();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int rc = 1;
        try {
            TComm b(devices);
            b.Open();
            rc = 2;  // opened: wrong
        } catch (const ECommOpenError& e) {
            rc = (e.ErrorCode == -1 && e.Reason == "in use") ? 0 : 3;
        } catch (...) {
            rc = 4;
        }
        ::_exit(rc);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(a.IsOpen());
}

TEST_F(CommTest, MissingDeviceKeepsTheReason) {
    devices.com1 = "/dev/tern-no-such-device";
    TComm c(devices);
    try {
        c.Open();
        FAIL() << "opened a missing device";
    } catch (const ECommOpenError& e) {
        EXPECT_STREQ(e.what(), "オープンエラー ErrorCode = -1");
        EXPECT_EQ(e.ErrorCode, -1);
        EXPECT_FALSE(e.Reason.empty());
        EXPECT_EQ(e.Reason, std::strerror(ENOENT));
    }
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(c.DeviceName(), "/dev/tern-no-such-device");
}

TEST_F(CommTest, NonTerminalIsRefused) {
    devices.com1 = "/dev/null";
    TComm c(devices);
    try {
        c.Open();
        FAIL() << "opened /dev/null as a serial port";
    } catch (const ECommOpenError& e) {
        EXPECT_EQ(e.ErrorCode, -1);
        EXPECT_FALSE(e.Reason.empty());
    }
    EXPECT_FALSE(c.IsOpen());
}

// ---- line settings -----------------------------------------------------------------------------

TEST_F(CommTest, OpenMakesACookedLineRaw) {
    termios before = SlaveTermios();
    ASSERT_TRUE(before.c_lflag & ICANON) << "the pty should start cooked";
    ASSERT_TRUE(before.c_iflag & (ICRNL | IXON));

    TComm c(devices);
    c.Open();
    const termios t = SlaveTermios();
    EXPECT_EQ(t.c_iflag, 0u);
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    // Setters apply at once while open.
    c.SetFlowControls(0);
    EXPECT_FALSE(SlaveTermios().c_cflag & CRTSCTS);
    c.SetFlowControls(cfcXonXoff);
    EXPECT_EQ(SlaveTermios().c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    c.SetFlowControls(cfcRtsCts);
    EXPECT_EQ(SlaveTermios().c_iflag, 0u);
    // A pty keeps CS8 and no parity whatever it is told: the refused values
    // are ignored without a message, and the line goes on working.
    EXPECT_NO_THROW(c.SetByteSize(TCommByteSize::cbs7));
    EXPECT_NO_THROW(c.SetByteSize(TCommByteSize::cbs4));
    EXPECT_NO_THROW(c.SetParityBits(TCommParityBits::cpbEven));
    EXPECT_EQ(c.ByteSize(), TCommByteSize::cbs4);
    EXPECT_EQ(c.ParityBits(), TCommParityBits::cpbEven);
    c.SetByteSize(TCommByteSize::cbs8);
    c.SetParityBits(TCommParityBits::cpbNone);
    EXPECT_EQ(SlaveTermios().c_cflag & (CSIZE | PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(CS8));
    const std::vector<std::uint8_t> d{0x03, 0xFF};
    c.Write(d.data(), 2);
    EXPECT_EQ(pty.Read(2), d);
    c.SetStopBits(TCommStopBits::csb2);
    EXPECT_TRUE(SlaveTermios().c_cflag & CSTOPB);
    c.SetStopBits(TCommStopBits::csb1);
    EXPECT_FALSE(SlaveTermios().c_cflag & CSTOPB);
}

TEST_F(CommTest, BaudRatesAreApplied) {
    TComm c(devices);
    c.SetBaudRateUserDefined(19200);
    EXPECT_EQ(c.BaudRate(), -1);
    EXPECT_EQ(c.EffectiveBaudRate(), 19200);
    c.Open();
    termios t = SlaveTermios();
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));
    c.SetBaudRate(9600);
    t = SlaveTermios();
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    // A rate without a Bxxx constant goes through termios2 (BOTHER) where the
    // platform has it; a refused rate would be ignored without a message.
    EXPECT_NO_THROW(c.SetBaudRateUserDefined(12345));
    EXPECT_EQ(c.EffectiveBaudRate(), 12345);
#if defined(__x86_64__) || defined(__aarch64__)
    {
        struct {  // the kernel's struct termios2 on these architectures
            tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
            cc_t c_line;
            cc_t c_cc[19];
            speed_t c_ispeed, c_ospeed;
        } t2{};
        ASSERT_EQ(::ioctl(pty.Master(), _IOR('T', 0x2A, decltype(t2)), &t2), 0);  // TCGETS2
        EXPECT_EQ(t2.c_ospeed, 12345u);
        EXPECT_EQ(t2.c_cflag & 0010017, 0010000u);  // CBAUD == BOTHER
    }
#endif
    // Later changes of other settings keep the line working.
    EXPECT_NO_THROW(c.SetByteSize(TCommByteSize::cbs8));
    const std::vector<std::uint8_t> d{1, 2, 3};
    c.Write(d.data(), 3);
    EXPECT_EQ(pty.Read(3), d);
}

// ---- write / read ------------------------------------------------------------------------------

TEST_F(CommTest, WriteAndReadOnAClosedPortAreRefused) {
    std::uint8_t b[4] = {1, 2, 3, 4};
    TComm c(devices);
    try {
        c.Write(b, 4);
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_STREQ(e.what(), kMsgNotStarted);
    }
    try {
        c.Read(b, 4);
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_STREQ(e.what(), kMsgNotStarted);
    }
    c.Open();
    c.Close();
    try {
        c.Write(b, 1);
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_STREQ(e.what(), kMsgNotStarted);
    }
    EXPECT_THROW(c.Read(b, 1), ECommError);
    EXPECT_THROW(c.SendString("x"), ECommError);
}

TEST_F(CommTest, WriteOfOutQueueSizeIsAcceptedOneMoreIsRefused) {
    TComm c(devices);
    c.Open();
    const std::uint32_t size = c.OutQueueSize();
    std::vector<std::uint8_t> data(size);
    for (std::uint32_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);

    std::vector<std::uint8_t> drained;
    std::thread drain([&] { drained = pty.Read(size, 5000); });
    EXPECT_NO_THROW(c.Write(data.data(), size));
    drain.join();
    EXPECT_EQ(drained, data);

    std::vector<std::uint8_t> more(size + 1, 0x55);
    try {
        c.Write(more.data(), size + 1);
        FAIL() << "accepted OutQueueSize + 1 bytes";
    } catch (const ECommReadWriteError&) {
        FAIL() << "wrong exception";
    } catch (const ECommError& e) {
        EXPECT_STREQ(e.what(), kMsgTooLong);
    }
    // Nothing of the refused block went out.
    EXPECT_TRUE(pty.Read(1, 200).empty());

    c.SetOutQueueSize(16);
    EXPECT_THROW(c.Write(more.data(), 17), ECommError);
    EXPECT_NO_THROW(c.Write(more.data(), 16));
    EXPECT_EQ(pty.Read(16).size(), 16u);
}

TEST_F(CommTest, WriteThatCannotGoOutRaisesReadWriteError) {
    // Nobody reads the master: the pty's buffers fill up and a Write makes no
    // progress for its 1000 ms. It must raise, not return as if sent.
    TComm c(devices);
    c.Open();
    std::vector<std::uint8_t> block(c.OutQueueSize(), 0xA5);
    bool raised = false;
    for (int i = 0; i < 200 && !raised; ++i) {
        try {
            c.Write(block.data(), static_cast<std::uint32_t>(block.size()));
        } catch (const ECommReadWriteError& e) {
            raised = true;
            EXPECT_EQ(e.ErrorCode, static_cast<std::uint32_t>(ETIMEDOUT));
            EXPECT_FALSE(e.Reason.empty());
            EXPECT_EQ(std::string(e.what()), "入出力エラー ErrorCode = " + std::to_string(ETIMEDOUT));
        }
    }
    EXPECT_TRUE(raised);
}

TEST_F(CommTest, ReadWaitsAtMostOneSecond) {
    TComm c(devices);
    c.Open();
    std::uint8_t b[8];
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(c.Read(b, 8), 0u);
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, 900ms);

    // Bytes already waiting come at once (no receive handler installed).
    pty.Write({0x41, 0x42});
    ASSERT_TRUE(WaitFor([&] {
        int n = 0;
        return ::ioctl(pty.Master(), TIOCOUTQ, &n) == 0 && n == 0;
    }));
    t0 = std::chrono::steady_clock::now();
    std::uint32_t got = 0;
    while (got < 2) got += c.Read(b + got, 8);
    EXPECT_EQ(b[0], 0x41);
    EXPECT_EQ(b[1], 0x42);
}

TEST_F(CommTest, SendStringWritesTheCharacters) {
    TComm c(devices);
    c.Open();
    c.SendString(std::string("AB\0C", 4));
    EXPECT_EQ(pty.Read(4), (std::vector<std::uint8_t>{'A', 'B', 0, 'C'}));
}

// ---- transparency ------------------------------------------------------------------------------

TEST_F(CommTest, EveryByteValuePassesFromToolToPeer) {
    TComm c(devices);
    c.Open();
    const auto data = AllBytes(8);  // 2048 bytes
    std::vector<std::uint8_t> got;
    std::thread drain([&] { got = pty.Read(data.size(), 5000); });
    c.Write(data.data(), static_cast<std::uint32_t>(data.size()));
    drain.join();
    EXPECT_EQ(got, data);

    // The troublesome ones one at a time, too.
    for (std::uint8_t b : {0x03, 0x11, 0x13, 0x0D, 0x0A, 0x7F, 0xFF, 0x00, 0x04, 0x1A, 0x1C, 0x15}) {
        c.Write(&b, 1);
        EXPECT_EQ(pty.Read(1), std::vector<std::uint8_t>{b}) << "byte " << int(b);
    }
}

TEST_F(CommTest, EveryByteValuePassesFromPeerToTool) {
    Receiver rx;
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    rx.Install(c);
    c.Open();
    const auto data = AllBytes(8);
    for (std::size_t off = 0; off < data.size(); off += 256)  // in frames
        pty.Write(std::vector<std::uint8_t>(data.begin() + off, data.begin() + off + 256));
    ASSERT_TRUE(rx.WaitBytes(data.size())) << "got " << rx.Take().size();
    EXPECT_EQ(rx.Take(), data);

    // One at a time, too.
    std::vector<std::uint8_t> singles{0x03, 0x11, 0x13, 0x0D, 0x0A, 0x7F, 0xFF, 0x00, 0x1A};
    for (std::uint8_t b : singles) pty.Write({b});
    ASSERT_TRUE(rx.WaitBytes(data.size() + singles.size()));
    auto all = rx.Take();
    EXPECT_EQ(std::vector<std::uint8_t>(all.begin() + static_cast<long>(data.size()), all.end()), singles);
}

// ---- receive notifications ---------------------------------------------------------------------

TEST_F(CommTest, ReceiveNotificationsReportTheWaitingBytes) {
    std::vector<int> sizes;
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::uint8_t> bytes;
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    c.OnCommReceive = [&](TComm& s, std::uint16_t size) {
        EXPECT_GT(size, 0);
        std::vector<std::uint8_t> buf(size);
        for (std::uint16_t i = 0; i < size; ++i) ASSERT_EQ(s.Read(&buf[i], 1), 1u);  // as the tool does
        std::lock_guard lk(m);
        sizes.push_back(size);
        bytes.insert(bytes.end(), buf.begin(), buf.end());
        cv.notify_all();
    };
    c.Open();
    pty.Write({0x06});
    pty.Write({0x02, 0x21, 0x1A});
    std::unique_lock lk(m);
    ASSERT_TRUE(cv.wait_for(lk, 3s, [&] { return bytes.size() >= 4; }));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x06, 0x02, 0x21, 0x1A}));
    int total = 0;
    for (int s : sizes) total += s;
    EXPECT_EQ(total, 4);
}

TEST_F(CommTest, NoNotificationAfterCloseReturns) {
    std::atomic<int> calls{0};
    std::atomic<bool> inHandler{false};
    std::atomic<bool> entered{false};
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    c.OnCommReceive = [&](TComm& s, std::uint16_t size) {
        inHandler = true;
        entered = true;
        std::this_thread::sleep_for(200ms);  // Close is called meanwhile
        std::vector<std::uint8_t> buf(size);
        s.Read(buf.data(), size);
        ++calls;
        inHandler = false;
    };
    const int before = ThreadCount();
    c.Open();
    EXPECT_EQ(ThreadCount(), before + 1);
    pty.Write({0x06});
    ASSERT_TRUE(WaitFor([&] { return entered.load(); }));
    c.Close();  // joins the watch thread: the handler has finished
    EXPECT_FALSE(inHandler.load());
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == before; }));  // joined; the kernel lists an ended thread a moment longer

    const int after = calls.load();
    pty.Write({0x06, 0x15});
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.load(), after);
    EXPECT_FALSE(inHandler.load());
}

TEST_F(CommTest, HandlerExceptionGoesToOnCommErrorAndTheLoopGoesOn) {
    std::atomic<int> calls{0};
    std::mutex m;
    std::vector<std::string> errors;
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    c.OnCommReceive = [&](TComm& s, std::uint16_t size) {
        std::vector<std::uint8_t> buf(size);
        s.Read(buf.data(), size);
        if (++calls == 1) throw std::runtime_error("handler failed");
    };
    c.OnCommError = [&](TComm&, const std::string& what) {
        std::lock_guard lk(m);
        errors.push_back(what);
    };
    c.Open();
    pty.Write({0x01});
    ASSERT_TRUE(WaitFor([&] { return calls.load() >= 1; }));
    pty.Write({0x02});
    ASSERT_TRUE(WaitFor([&] { return calls.load() >= 2; }));
    std::lock_guard lk(m);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "handler failed");
}

TEST_F(CommTest, UnreadBytesDoNotMakeTheLoopSpin) {
    std::atomic<int> calls{0};
    std::atomic<bool> consume{false};
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    c.OnCommReceive = [&](TComm& s, std::uint16_t size) {
        ++calls;
        if (consume) {
            std::vector<std::uint8_t> buf(size);
            s.Read(buf.data(), size);
        }
    };
    c.Open();
    pty.Write({0x10, 0x20});
    ASSERT_TRUE(WaitFor([&] { return calls.load() >= 1; }));
    std::this_thread::sleep_for(300ms);
    // Reported again now and then (the bytes are still there), not thousands of times.
    EXPECT_LT(calls.load(), 60);
    consume = true;
    const int before = calls.load();
    ASSERT_TRUE(WaitFor([&] { return calls.load() > before; }));
    std::this_thread::sleep_for(100ms);
    const int settled = calls.load();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(calls.load(), settled);  // all read: no more reports
}

TEST_F(CommTest, CloseFromInsideAHandlerDoesNotDeadlock) {
    std::atomic<int> calls{0};
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    c.OnCommReceive = [&](TComm& s, std::uint16_t size) {
        std::vector<std::uint8_t> buf(size);
        s.Read(buf.data(), size);
        ++calls;
        s.Close();
    };
    c.Open();
    pty.Write({0x04});
    ASSERT_TRUE(WaitFor([&] { return !c.IsOpen(); }));
    pty.Write({0x05});
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.load(), 1);
    // The port opens again.
    EXPECT_NO_THROW(c.Open());
    EXPECT_TRUE(c.IsOpen());
}

TEST_F(CommTest, DestroyingThePortWaitsForAHandlerThatClosedIt) {
    std::mutex m;
    std::condition_variable cv;
    bool closed = false, release = false;
    std::atomic<bool> openAfterClose{true};
    auto c = std::make_unique<TComm>(devices);
    c->OnCommReceive = [&](TComm& s, std::uint16_t size) {
        std::vector<std::uint8_t> buf(size);
        s.Read(buf.data(), size);
        s.Close();
        {
            std::lock_guard lk(m);
            closed = true;
        }
        cv.notify_all();
        std::unique_lock lk(m);
        cv.wait(lk, [&] { return release; });
        openAfterClose = s.IsOpen();  // the port is still there to ask
    };
    c->Open();
    pty.Write({0x01});
    {
        std::unique_lock lk(m);
        ASSERT_TRUE(cv.wait_for(lk, 10s, [&] { return closed; }));
    }
    std::atomic<bool> destroyed{false};
    std::thread owner([&] {
        c.reset();
        destroyed = true;
    });
    // The handler is still running: the destructor waits for it.
    EXPECT_FALSE(WaitFor([&] { return destroyed.load(); }, 200));
    {
        std::lock_guard lk(m);
        release = true;
    }
    cv.notify_all();
    owner.join();
    EXPECT_TRUE(destroyed.load());
    EXPECT_FALSE(openAfterClose.load());
}

TEST_F(CommTest, CloseFromAHandlerWhileAnotherThreadClosesEndsBoth) {
    for (int round = 0; round < 10; ++round) {
        std::atomic<bool> entered{false}, go{false};
        std::atomic<int> calls{0};
        TComm c(devices);
        c.OnCommReceive = [&](TComm& s, std::uint16_t size) {
            std::vector<std::uint8_t> buf(size);
            s.Read(buf.data(), size);
            entered = true;
            while (!go.load()) std::this_thread::yield();
            s.Close();
            ++calls;
        };
        const int before = ThreadCount();
        c.Open();
        pty.Write({0x02});
        ASSERT_TRUE(WaitFor([&] { return entered.load(); }, 10000));
        std::thread closer([&] { c.Close(); });
        // Round by round, the handler's Close comes before, during or after
        // the other thread's.
        if (round % 2 == 0) std::this_thread::yield();
        go = true;
        closer.join();
        EXPECT_FALSE(c.IsOpen());
        EXPECT_EQ(calls.load(), 1);
        c.Close();
        EXPECT_TRUE(WaitFor([&] { return ThreadCount() == before; }));  // joined; the kernel lists an ended thread a moment longer
    }
}

TEST_F(CommTest, PortOpensAgainRightAfterAHandlerClosedIt) {
    std::atomic<int> calls{0};
    TComm c(devices);
    c.OnCommReceive = [&](TComm& s, std::uint16_t size) {
        std::vector<std::uint8_t> buf(size);
        s.Read(buf.data(), size);
        ++calls;
        s.Close();
    };
    const int before = ThreadCount();
    for (int round = 1; round <= 20; ++round) {
        c.Open();
        ASSERT_TRUE(c.IsOpen()) << round;
        pty.Write({0x03});
        ASSERT_TRUE(WaitFor([&] { return calls.load() == round; }, 10000)) << round;
        ASSERT_TRUE(WaitFor([&] { return !c.IsOpen(); }, 10000)) << round;
    }
    c.Close();
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == before; }));  // joined; the kernel lists an ended thread a moment longer
}

// ---- DSR -------------------------------------------------------------------------------------------

TEST_F(CommTest, DsrState) {
    TComm c(devices);
    EXPECT_FALSE(c.DsrState());
    c.Open();
    EXPECT_TRUE(c.DsrState());  // a pty has no modem-status lines: DSR on
    c.Close();
    EXPECT_FALSE(c.DsrState());
}

// ---- break -----------------------------------------------------------------------------------------

TEST_F(CommTest, SendBreakHoldsFor500ms) {
    TComm c(devices);
    EXPECT_THROW(c.SendBreak(), ECommReadWriteError);
    c.Open();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(c.SendBreak());
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, 500ms);
}

// ---- the device going away ---------------------------------------------------------------------

TEST_F(CommTest, OpenPtyPairReportsNoLoss) {
    std::atomic<int> lost{0};
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    c.OnCommLost = [&](TComm&, const std::string&) { ++lost; };
    const int before = ThreadCount();
    c.Open();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(ThreadCount(), before + 1);  // the watch thread is still there
}

TEST_F(CommTest, PeerClosingIsReportedOnceAndEndsTheWatch) {
    std::atomic<int> lost{0};
    std::mutex m;
    std::string reason;
    Receiver rx;
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    c.OnCommLost = [&](TComm&, const std::string& r) {
        std::lock_guard lk(m);
        reason = r;
        ++lost;
    };
    rx.Install(c);
    const int before = ThreadCount();
    c.Open();
    ASSERT_EQ(ThreadCount(), before + 1);
    pty.Write({0x06});
    ASSERT_TRUE(rx.WaitBytes(1));

    pty.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return lost.load() >= 1; }));
    // Once the watch thread has ended nothing can report again.
    ASSERT_TRUE(WaitFor([&] { return ThreadCount() == before; })) << "the watch thread did not end";
    EXPECT_EQ(lost.load(), 1);
    {
        std::lock_guard lk(m);
        EXPECT_FALSE(reason.empty());
    }
    EXPECT_TRUE(c.IsOpen());  // still open until Close
    EXPECT_FALSE(c.DsrState());
    std::uint8_t b = 0x15;
    EXPECT_THROW(c.Write(&b, 1), ECommReadWriteError);
    EXPECT_THROW(c.Read(&b, 1), ECommReadWriteError);

    c.Close();
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(lost.load(), 1);
}

TEST_F(CommTest, VanishingDeviceIsReportedOnceAndEndsTheWatch) {
    // A hang-up of the tty itself (what a pulled USB adapter does): every
    // open file of it is hung up, without the peer closing. Needs
    // CAP_SYS_ADMIN (TIOCVHANGUP); skipped without it.
    std::atomic<int> lost{0};
    Receiver rx;
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    c.OnCommLost = [&](TComm&, const std::string&) { ++lost; };
    rx.Install(c);
    const int before = ThreadCount();
    c.Open();

    const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (other < 0) GTEST_SKIP() << "cannot open the slave a second time: " << std::strerror(errno);
    if (::ioctl(other, TIOCVHANGUP) != 0) {
        const int e = errno;
        ::close(other);
        GTEST_SKIP() << "TIOCVHANGUP: " << std::strerror(e);
    }
    ::close(other);

    ASSERT_TRUE(WaitFor([&] { return lost.load() >= 1; }));
    // Once the watch thread has ended nothing can report again.
    ASSERT_TRUE(WaitFor([&] { return ThreadCount() == before; })) << "the watch thread did not end";
    EXPECT_EQ(lost.load(), 1);
    EXPECT_FALSE(c.DsrState());
    std::uint8_t b = 0;
    EXPECT_THROW(c.Write(&b, 1), ECommReadWriteError);
    EXPECT_THROW(c.Read(&b, 1), ECommReadWriteError);
    c.Close();
    EXPECT_EQ(lost.load(), 1);
}

TEST_F(CommTest, LossIsReportedPerOpening) {
    std::atomic<int> lost{0};
    TComm c(devices);  // after what its handlers use: destroyed (closed) first
    c.OnCommLost = [&](TComm&, const std::string&) { ++lost; };
    c.Open();
    pty.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return lost.load() == 1; }));
    c.Close();

    Pty second;
    c.SetPortDevice(1, second.SlavePath());
    c.Open();
    EXPECT_TRUE(c.DsrState());
    second.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return lost.load() == 2; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(lost.load(), 2);
}

// ---- on the console's event loop -------------------------------------------------------------

namespace {
/// The port given the console's loop: no thread of its own; the loop's
/// thread reads the descriptor and runs the handlers.
class CommOnLoopTest : public CommTest {
protected:
    tern::link::EventLoop loop;
    bool RunUntil(const std::function<bool()>& pred) { return loop.RunUntil(pred, 3000ms); }
    /// Lets the loop run a while for what must not happen.
    void RunIdle() { loop.RunUntil([] { return false; }, 50ms); }
};
}  // namespace

TEST_F(CommOnLoopTest, BytesArriveInLargePiecesOnTheLoopThreadWithoutAThread) {
    const auto self = std::this_thread::get_id();
    std::vector<std::uint8_t> got;
    int calls = 0;
    bool onLoopThread = true;
    TComm c(devices);
    c.SetNotifier(&loop);
    c.OnCommReceive = [&](TComm& s, std::uint16_t size) {
        ++calls;
        onLoopThread = onLoopThread && std::this_thread::get_id() == self;
        std::vector<std::uint8_t> buf(size);
        EXPECT_EQ(s.Read(buf.data(), size), size);  // one Read takes all that was reported
        got.insert(got.end(), buf.begin(), buf.end());
    };
    const int before = ThreadCount();
    c.Open();
    EXPECT_EQ(ThreadCount(), before);
    const auto sent = AllBytes(64);  // more than a pty holds: written while the loop runs
    std::thread writer([&] { pty.Write(sent); });
    const bool all = RunUntil([&] { return got.size() >= sent.size(); });
    writer.join();
    ASSERT_TRUE(all);
    EXPECT_EQ(got, sent);
    EXPECT_TRUE(onLoopThread);
    EXPECT_LT(calls, static_cast<int>(sent.size() / 16));  // what waits is read in one call, not byte by byte
}

TEST_F(CommOnLoopTest, BytesLeftUnreadComeAgainWithTheNextOnesAndAFullBufferWaitsForRead) {
    std::vector<std::uint16_t> sizes;
    TComm c(devices);
    c.SetNotifier(&loop);
    c.OnCommReceive = [&](TComm&, std::uint16_t size) { sizes.push_back(size); };  // takes nothing
    c.Open();
    pty.Write({0x01, 0x02});
    ASSERT_TRUE(RunUntil([&] { return !sizes.empty(); }));
    RunIdle();
    EXPECT_EQ(sizes, std::vector<std::uint16_t>{2});  // no new bytes: not reported again
    pty.Write({0x03});
    ASSERT_TRUE(RunUntil([&] { return sizes.size() == 2; }));
    EXPECT_EQ(sizes.back(), 3);

    // Filled up, the port stops watching (no spinning on unread bytes) ...
    const auto more = AllBytes(96);
    std::thread writer([&] { pty.Write(more); });
    struct Join {
        std::thread& t;
        ~Join() { t.join(); }
    } join{writer};
    ASSERT_TRUE(RunUntil([&] { return sizes.back() >= 8192; }));
    const std::size_t reports = sizes.size();
    RunIdle();
    EXPECT_EQ(sizes.size(), reports);
    // ... until a Read makes room; then everything comes, in order.
    std::vector<std::uint8_t> got(8192);
    got.resize(c.Read(got.data(), 8192));
    c.OnCommReceive = [&](TComm& s, std::uint16_t size) {
        std::vector<std::uint8_t> buf(size);
        got.insert(got.end(), buf.begin(), buf.begin() + s.Read(buf.data(), size));
    };
    ASSERT_TRUE(RunUntil([&] { return got.size() >= 3 + more.size(); }));
    std::vector<std::uint8_t> expected{0x01, 0x02, 0x03};
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(got, expected);
}

TEST_F(CommOnLoopTest, HangUpIsReportedOnceAndItsHandlerMayClose) {
    int lost = 0;
    TComm c(devices);
    c.SetNotifier(&loop);
    c.OnCommLost = [&](TComm& s, const std::string&) {
        ++lost;
        s.Close();
    };
    c.Open();
    pty.CloseMaster();
    ASSERT_TRUE(RunUntil([&] { return lost > 0; }));
    RunIdle();
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(c.IsOpen());
}

// ---- closing -------------------------------------------------------------------------------------

TEST_F(CommTest, CloseSendsWhatWasWrittenBeforeIt) {
    // The last ACK of a copy is written just before the port is closed: the
    // camera must still get it, although nobody read it before the close.
    TComm c(devices);
    c.Open();
    const std::uint8_t last[] = {0x02, 0x21, 0x06};
    c.Write(last, sizeof last);
    c.Close();
    EXPECT_EQ(pty.Read(sizeof last, 1000), std::vector<std::uint8_t>(last, last + sizeof last));
}
