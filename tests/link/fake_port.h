// A port stand-in for what a pseudo-terminal cannot do: DSR off, a refused
// write, a failing open. Records every write.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/comm.h"
#include "link/host.h"
#include "link/link.h"

namespace tern::test {

class FakePort : public link::CommPort {
public:
    void SetPort(std::uint8_t p) override { port = p; }
    void SetBaudRate(std::int32_t b) override { baud = b; }
    void Open() override {
        ++opens;
        openedPorts.push_back(port);
        if (failOpen) throw link::ECommOpenError(-1, "No such file or directory");
        open = true;
    }
    void Close() override {
        if (open) ++closes;
        open = false;
    }
    void Write(const void* buffer, std::uint32_t count) override {
        if (!open) throw link::ECommError(link::kMsgNotStarted);
        if (refuseWrites) throw link::ECommReadWriteError(5, "Input/output error");
        const auto* b = static_cast<const std::uint8_t*>(buffer);
        writes.emplace_back(b, b + count);
        wire.insert(wire.end(), b, b + count);
    }
    std::uint32_t Read(void*, std::uint32_t) override { return 0; }
    bool DsrState() const override { return open && dsr; }
    bool IsOpen() const override { return open; }

    std::vector<std::uint8_t> TakeWire() {
        auto w = std::move(wire);
        wire.clear();
        writes.clear();
        return w;
    }

    std::uint8_t port = 1;
    std::int32_t baud = 0;
    bool open = false;
    bool dsr = true;
    bool failOpen = false;
    bool refuseWrites = false;
    int opens = 0, closes = 0;
    std::vector<std::uint8_t> openedPorts;
    std::vector<std::vector<std::uint8_t>> writes;
    std::vector<std::uint8_t> wire;
};

/// Records what the link asks of its host; the load chain is the one every
/// page starts with (registers 1 and 64).
class RecordingHost : public link::LinkHost {
public:
    // The link's reports, shown as the window's status bar shows them.
    void BusyChanged(bool b) override { busy = b; }
    void FrameSent() override {
        if (mode != link::ToolMode::Kizu) panels[1] = link->CommandText();
    }
    void ExchangeDone() override { panels[2] = mode != link::ToolMode::Kizu ? link->ReplyText() : std::string(); }
    void ExchangeRefused() override { panels[1] = "Busy"; }
    void NoiseRepeated(int n) override { panels[3] = std::string(link::kMsgRecvErr) + " +" + std::to_string(n); }
    void StaleReplyDropped(int count) override { staleReplies = count; }
    void ResetLockChanged(bool locked) override { panel4 = !locked; }
    bool ReadAgainAfterReset() const override { return page != link::Page::Debug; }
    void ChangesDropped(const std::vector<std::string>& names) override { dropped = names; }
    void LineStateChanged(link::LineState state) override {
        lineStates.push_back(state);
        if (state == link::LineState::Connecting) panels[0] = link::kTextConnecting;
    }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        messages.emplace_back(text, caption);
        if (onMessage) onMessage();
    }
    void ShowException(const std::exception& e) override { exceptions.emplace_back(e.what()); }
    void EnableTimer(link::LinkTimer t, bool on) override {
        timers[static_cast<int>(t)] = on;
        ++timerSwitches[static_cast<int>(t)];
    }
    void EnablePageControl(bool on) override { pagesEnabled = on; }
    link::ToolMode ToolMode() const override { return mode; }
    void CloseCopyFile() override { ++copyFileClosed; }
    void Terminate() override { terminated = true; }
    int LoadStep() const override { return loadStep; }
    bool DefectLock() const override { return defectLock; }
    bool LoadGuard() const override { return loadGuard; }
    void Trans_init(int step) override {
        inits.push_back(step);
        loadStep = step + 1;
        if (step >= chainLength) {
            loadStep = 0;
            return;
        }
        link::Payload p;
        p[1] = 0x31;
        p[2] = 0x0A;
        p[3] = step == 0 ? 0x01 : 0x40;
        link->StxCommand(p, 3);
    }
    void Trans_end() override {
        ++ends;
        if (onEnd) onEnd();
    }
    void PostToEventThread(std::function<void()> fn) override { posted.push_back(std::move(fn)); }

    bool Timer(link::LinkTimer t) const { return timers[static_cast<int>(t)]; }

    link::Link* link = nullptr;
    std::string panels[4];
    bool busy = false;
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<std::string> exceptions;
    bool timers[3] = {false, false, false};
    int timerSwitches[3] = {0, 0, 0};
    bool pagesEnabled = false;
    bool panel4 = true;
    link::Page page = link::Page::Debug;
    link::ToolMode mode = link::ToolMode::Dbg;
    int copyFileClosed = 0;
    bool terminated = false;
    int loadStep = 0;
    bool defectLock = false;
    bool loadGuard = false;
    int chainLength = 2;
    std::vector<int> inits;
    int ends = 0;
    std::function<void()> onEnd;
    std::function<void()> onMessage;
    std::vector<std::function<void()>> posted;
    int staleReplies = 0;
    std::vector<std::string> dropped;
    std::vector<link::LineState> lineStates;
};

}  // namespace tern::test
