#include "cli/console_host.h"

#include <iostream>

namespace tern::cli {

using link::LinkTimer;

void RunShowingErrors(link::LinkHost& host, const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        host.ShowException(e);
    }
}

ConsoleHost::ConsoleHost(link::EventLoop& loop, link::CommPort& port)
    : loop_(loop), link_(std::make_unique<link::Link>(port, *this)) {
    sendTimer_ = loop_.AddTimer(link::kSendTimerMs, [this] { RunShowingErrors(*this, [this] { link_->SendTimerTimer(); }); });
    reloadTimer_ = loop_.AddTimer(link::kReloadTimerMs, [this] { RunShowingErrors(*this, [this] { link_->ReloadTimerTimer(); }); });
    cursorTimer_ = loop_.AddTimer(link::kCursorTimerMs, [this] { link_->cursor_timerTimer(); });
    // SendTimer runs from the start.
    loop_.EnableTimer(sendTimer_, true);
}

ConsoleHost::~ConsoleHost() = default;

void ConsoleHost::SetStatusPanel(int panel, const std::string& text) {
    panels.at(static_cast<std::size_t>(panel)) = text;
}

void ConsoleHost::ShowMessage(const std::string& text, const std::string& caption) {
    messages.emplace_back(text, caption);
    if (!quiet) std::cerr << caption << ": " << text << "\n";
}

void ConsoleHost::ShowException(const std::exception& e) {
    std::string text = e.what();
    if (const auto* open = dynamic_cast<const link::ECommOpenError*>(&e); open && !open->Reason.empty()) {
        text += "\n" + open->Reason;
    } else if (const auto* rw = dynamic_cast<const link::ECommReadWriteError*>(&e); rw && !rw->Reason.empty()) {
        text += "\n" + rw->Reason;
    }
    messages.emplace_back(text, "");
    if (!quiet) std::cerr << text << "\n";
}

void ConsoleHost::EnableTimer(LinkTimer timer, bool on) {
    switch (timer) {
        case LinkTimer::Send: loop_.EnableTimer(sendTimer_, on); break;
        case LinkTimer::Reload: loop_.EnableTimer(reloadTimer_, on); break;
        case LinkTimer::Cursor: loop_.EnableTimer(cursorTimer_, on); break;
    }
}

bool ConsoleHost::TimerEnabled(LinkTimer timer) const {
    switch (timer) {
        case LinkTimer::Send: return loop_.TimerEnabled(sendTimer_);
        case LinkTimer::Reload: return loop_.TimerEnabled(reloadTimer_);
        case LinkTimer::Cursor: return loop_.TimerEnabled(cursorTimer_);
    }
    return false;
}

void ConsoleHost::Terminate() {
    terminated = true;
    link_->Close();
    loop_.Quit();
}

void ConsoleHost::Trans_init(int step) {
    loadStep = step + 1;
    link::Payload p;
    p[1] = 0x31;
    int n = 0;
    if (chain) {
        n = chain(step, p);
    } else if (step == 0 || step == 1) {
        // Every page reads register 1 (resolution) and 64 (TV standard) first.
        p[2] = 0x0A;
        p[3] = step == 0 ? 0x01 : 0x40;
        n = 3;
    }
    if (n == 0) {
        loadStep = 0;
        ++chainsCompleted;
        return;
    }
    link_->StxCommand(p, n);
}

void ConsoleHost::Trans_end() {
    const link::Link& l = *link_;
    if (l.Recv(1) == 0xA0 && l.CmdPayload(1) == 0x31 && (l.Recv(2) == 0x0A || l.Recv(2) == 0x0B)) {
        const int reg = l.Recv(3);
        const int w = l.Recv(4) * 256 + l.Recv(5);
        registers[static_cast<std::size_t>(reg)] = w;
        registerKnown[static_cast<std::size_t>(reg)] = true;
        if (reg == 1) resolutionText = (w & 0x4000) ? "Hi-Resolution" : "Lo-Resolution";
        if (reg == 64) tvText = (w & 0x0001) ? "PAL" : "NTSC";
    }
    if (onReply) onReply();
}

}  // namespace tern::cli
