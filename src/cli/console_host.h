// The link's host without a window: ternctl and the tests. It runs the
// link's timers on an EventLoop, prints messages, and drives the same
// transfer engine as the window: the chain of its page (the Debug page's
// reads registers 1 and 64, so it can tell the camera's resolution and TV
// standard).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/comm.h"
#include "link/event_loop.h"
#include "link/host.h"
#include "link/link.h"
#include "transfer/Engine.h"
#include "transfer/Session.h"

namespace tern::cli {

class ConsoleHost : public link::LinkHost {
public:
    /// Wires a host, a port and a link together; timers run on `loop`.
    ConsoleHost(link::EventLoop& loop, link::CommPort& port);
    ~ConsoleHost() override;

    link::Link& Link() { return session_.Link(); }
    transfer::Engine& Engine() { return session_.Engine(); }
    transfer::Session& Session() { return session_; }
    link::EventLoop& Loop() { return loop_; }

    // LinkHost ------------------------------------------------------------------
    void BusyChanged(bool busy) override { busyCursor = busy; }
    void NoiseRepeated(int repeats) override { noiseRepeats = repeats; }
    void ChangesDropped(const std::vector<std::string>& names) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowException(const std::exception& e) override;
    void EnableTimer(link::LinkTimer timer, bool on) override;
    void EnablePageControl(bool on) override { pageControlEnabled = on; }
    link::ToolMode ToolMode() const override { return toolMode; }
    void Terminate() override;
    int LoadStep() const override { return chain ? loadStep : session_.Engine().LoadStep(); }
    bool DefectLock() const override { return session_.Engine().DefectLock(); }
    bool LoadGuard() const override { return session_.Engine().LoadGuard(); }
    void Trans_init(int step) override;
    void Trans_end() override;
    void PostToEventThread(std::function<void()> fn) override { loop_.Post(std::move(fn)); }
    void ReplyGivenUp() override { ++givenUp; }

    bool TimerEnabled(link::LinkTimer timer) const;

    // what the run showed ------------------------------------------------------
    link::Page activePage = link::Page::Debug;
    link::ToolMode toolMode = link::ToolMode::Dbg;
    bool busyCursor = false;
    bool pageControlEnabled = false;
    bool terminated = false;
    bool quiet = false;  // no messages on stderr
    /// Repeats of a frame that did not end well since the first (shown).
    int noiseRepeats = 0;
    std::vector<std::pair<std::string, std::string>> messages;  // text, caption
    std::array<bool, link::kRegisterCount> registerKnown{};
    std::string resolutionText;  // "Hi-Resolution" / "Lo-Resolution"
    std::string tvText;          // "NTSC" / "PAL"
    int chainsCompleted = 0;
    /// Exchanges the link ended with its give-up message.
    int givenUp = 0;
    /// Called after each reply has been handled (tests, benchmarks).
    std::function<void()> onReply;
    /// Replaces the page's chain when set (benchmarks): returns the payload
    /// length, 0 to end.
    std::function<int(int step, link::Payload& p)> chain;

private:
    link::EventLoop& loop_;
    transfer::Session session_;
    int loadStep = 0;  // the step of a replaced chain
    int sendTimer_ = -1, reloadTimer_ = -1, cursorTimer_ = -1;
};

/// Wraps a timer or posted handler so an exception leaving it is shown and the loop goes on.
void RunShowingErrors(link::LinkHost& host, const std::function<void()>& fn);

}  // namespace tern::cli
