#include "cli/console_host.h"

#include <iostream>

#include "link/ports.h"

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
    : loop_(loop), session_(port, *this) {
    sendTimer_ = loop_.AddTimer(link::kSendTimerMs, [this] { RunShowingErrors(*this, [this] { session_.Link().SendTimerTimer(); }); });
    reloadTimer_ = loop_.AddTimer(link::kReloadTimerMs, [this] { RunShowingErrors(*this, [this] { session_.Link().ReloadTimerTimer(); }); });
    cursorTimer_ = loop_.AddTimer(link::kCursorTimerMs, [this] { session_.Link().cursor_timerTimer(); });
    // SendTimer runs from the start.
    loop_.EnableTimer(sendTimer_, true);
}

ConsoleHost::~ConsoleHost() = default;

void ConsoleHost::ChangesDropped(const std::vector<std::string>& names) {
    std::string text = "not sent:";
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? " " : ", ") + (names[i].empty() ? std::string("a change") : names[i]);
    }
    messages.emplace_back(text, "");
    if (!quiet) std::cerr << text << "\n";
}

void ConsoleHost::ShowMessage(const std::string& text, const std::string& caption) {
    messages.emplace_back(text, caption);
    if (!quiet) std::cerr << caption << ": " << text << "\n";
    if (text == link::kMsgDrOff) {
        // The camera answered ENQ but its DSR line is off: nothing is read,
        // so nothing would ever end the command. Say what to check and stop.
        if (!quiet) {
            std::cerr << "The camera answers but the port's DSR line is off: check that the cable carries DSR "
                         "(a three-wire cable does not) and that the camera is powered.\n";
        }
        Terminate();
    }
}

void ConsoleHost::ShowException(const std::exception& e) {
    const std::string text = link::ExceptionText(e);
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
    session_.Link().Close();
    loop_.Quit();
}

void ConsoleHost::Trans_init(int step) {
    if (!chain) {
        session_.Engine().Trans_init(activePage, step);
        if (session_.Engine().LoadStep() == 0) ++chainsCompleted;
        return;
    }
    loadStep = step + 1;
    link::Payload p;
    p[1] = link::kGroupRead;
    const int n = chain(step, p);
    if (n == 0) {
        loadStep = 0;
        ++chainsCompleted;
        return;
    }
    session_.Link().StxCommand(p, n);
}

void ConsoleHost::Trans_end() {
    const transfer::CommonDecoded found = session_.Engine().Trans_end_common();
    if (found.reg) registerKnown[static_cast<std::size_t>(*found.reg)] = true;
    if (found.resolution) resolutionText = *found.resolution;
    if (found.tv) tvText = *found.tv;
    if (onReply) onReply();
}

}  // namespace tern::cli
