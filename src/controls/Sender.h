// The rules every setting control of the Setup and Adjust pages sends by:
// the idle test before an immediate command, and the throttle of the
// continuous controls run on the window's timers.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "transfer/Catalogue.h"

#include <QObject>

class QSlider;
class QTimer;

namespace tern::widgets {
class PageHost;
}

namespace tern::controls {

class Sender {
public:
    explicit Sender(widgets::PageHost& host) : host_(host) {}

    /// Trans_chk: no chain, no frame in flight, no defect lock, no LoadGuard.
    bool Idle() const;
    /// A load chain runs (LoadStep non-zero): a change arms no timer.
    bool LoadRunning() const;
    /// Hands a payload to StxCommand (which drops it while a frame is in flight).
    /// `change`: the user's change this frame carries, when it was queued
    /// (SettingsModel::Want); a newer change of the same setting then still waits.
    void Send(const transfer::SettingCommand& cmd, std::optional<std::uint64_t> change = std::nullopt);
    /// An immediate command: sent only when idle. A change that finds the
    /// link busy is remembered as dropped, so that the user's own signal that
    /// follows it (User) can let it wait for the link.
    void SendNow(transfer::Control c, int value);
    /// Sends `cmd` for c when idle; else remembers it as c's dropped change,
    /// so that the user's own signal that follows queues this very frame.
    void SendOrKeep(transfer::Control c, const transfer::SettingCommand& cmd);
    /// Idle(); a false answer is remembered as a dropped change of c.
    bool IdleFor(transfer::Control c);
    /// The user's own action on c (clicked, activated, textEdited): when the
    /// change it raised was dropped for a busy link, `handler` runs again once
    /// the link is free. Changes the tool makes itself raise no such signal
    /// and wait for nothing.
    void User(transfer::Control c, std::function<void()> handler);
    /// A change the user made while the link was busy: `handler` runs once it is free.
    void Later(transfer::Control c, std::function<void()> handler);
    /// A command button the user pressed while the link was busy: `handler`
    /// runs once it is free, after every change made before it and before
    /// every change made after it.
    void Button(transfer::Control c, std::function<void()> handler);
    /// The user moved a throttled control: its timer is armed even while a
    /// chain runs, and its tick waits for the link (Fire).
    void UserArm(transfer::Control c, QTimer* timer, bool blcPresetChecked = false);
    /// A throttled control changed: starts its timer unless it is armed
    /// already (the interval runs from the first change) or a chain runs.
    void Arm(transfer::Control c, QTimer* timer, bool blcPresetChecked = false);
    /// The timer ticked: true when the command is to go now (the timer is
    /// then stopped); false while busy, the timer ticking again one interval later.
    bool Fire(transfer::Control c, QTimer* timer);

    /// Connects a user's own signal of `control` (clicked, activated,
    /// textEdited, UserClick) to User; connect it after the value signal.
    template <typename Page, typename Widget, typename Signal>
    void OnUser(Page* page, Widget* control, Signal signal, transfer::Control c, void (Page::*handler)()) {
        QObject::connect(control, signal, page, [this, page, c, handler] { User(c, [page, handler] { (page->*handler)(); }); });
    }
    /// The user moves a throttled bar (actionTriggered, before its value
    /// changes): its timer is armed (UserArm). `timer` is read at each move.
    void OnUserBar(QObject* page, QSlider* bar, transfer::Control c, QTimer* const* timer);

    const transfer::Throttle& Throttles() const { return throttle_; }

private:
    widgets::PageHost& host_;
    transfer::Throttle throttle_;
    std::optional<transfer::Control> dropped_;
    /// The frame the dropped change would have sent, when the change was one value.
    std::optional<transfer::SettingCommand> droppedCmd_;
};

}  // namespace tern::controls
