#include "controls/Sender.h"

#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <array>
#include <span>
#include <utility>

#include "link/link.h"
#include "transfer/Engine.h"
#include "widgets/PageHost.h"

namespace tern::controls {

bool Sender::Idle() const { return host_.Link().Trans_chk(); }

bool Sender::LoadRunning() const { return host_.Engine().LoadStep() != 0; }

void Sender::Send(const transfer::SettingCommand& cmd, std::optional<std::uint64_t> change) {
    link::Link& link = host_.Link();
    link.StxCommand(cmd.payload, cmd.n);
    // The frame went out (StxCommand leaves CmdFrame as it was when it refuses).
    const auto sent = std::span(link.CmdFrame()).subspan(1, static_cast<std::size_t>(cmd.n));
    if (link.LinkBusy() && std::equal(sent.begin(), sent.end(), cmd.payload.b.begin() + 1)) {
        host_.Engine().Model().Sent(cmd.payload, change);
    }
}

namespace {
/// One address per control: the key of its waiting change in the link.
const void* Key(transfer::Control c) {
    static const std::array<char, static_cast<std::size_t>(transfer::Control::MaskRead) + 1> keys{};
    return &keys[static_cast<std::size_t>(c)];
}
}  // namespace

bool Sender::IdleFor(transfer::Control c) {
    droppedCmd_.reset();
    if (Idle()) {
        if (dropped_ == c) dropped_.reset();
        return true;
    }
    dropped_ = c;
    return false;
}

void Sender::SendNow(transfer::Control c, int value) {
    if (const auto cmd = transfer::CommandFor(c, value)) SendOrKeep(c, *cmd);
}

void Sender::SendOrKeep(transfer::Control c, const transfer::SettingCommand& cmd) {
    if (IdleFor(c)) {
        Send(cmd);
        return;
    }
    droppedCmd_ = cmd;
}

void Sender::User(transfer::Control c, std::function<void()> handler) {
    if (dropped_ != c) return;
    dropped_.reset();
    // The control shows the user's value until it is sent: reads meanwhile
    // change only what the tool knows of the camera.
    const std::uint64_t change = host_.Engine().Model().Want(c);
    if (auto cmd = std::exchange(droppedCmd_, std::nullopt)) {
        // The value as it was when the user chose it: a later change of the
        // same control after a command button goes out after that button.
        host_.Link().SendWhenFree(Key(c), std::string(transfer::ControlName(c)), [this, cmd = *cmd, change] { Send(cmd, change); });
        return;
    }
    Later(c, std::move(handler));
}

void Sender::Later(transfer::Control c, std::function<void()> handler) {
    host_.Link().SendWhenFree(Key(c), std::string(transfer::ControlName(c)),
                              [this, handler = std::move(handler)] { host_.Guard(handler); });
}

void Sender::Button(transfer::Control c, std::function<void()> handler) {
    host_.Link().QueueButton(std::string(transfer::ControlName(c)),
                             [this, handler = std::move(handler)] { host_.Guard(handler); });
}

void Sender::UserArm(transfer::Control c, QTimer* timer, bool blcPresetChecked) {
    if (!throttle_.Change(c, false, blcPresetChecked)) return;
    host_.Engine().Model().Want(c);
    if (timer != nullptr && !timer->isActive()) timer->start();
}

void Sender::Arm(transfer::Control c, QTimer* timer, bool blcPresetChecked) {
    if (!throttle_.Change(c, LoadRunning(), blcPresetChecked)) return;
    if (timer != nullptr && !timer->isActive()) timer->start();
}

bool Sender::Fire(transfer::Control c, QTimer* timer) {
    if (throttle_.Tick(c, Idle())) {
        if (timer != nullptr) timer->stop();
        return true;
    }
    // A tick with nothing armed (a stray one) stops the timer; a busy one keeps it.
    if (!throttle_.Armed(c) && timer != nullptr) timer->stop();
    return false;
}

}  // namespace tern::controls

namespace tern::controls {

void Sender::OnUserBar(QObject* page, QSlider* bar, transfer::Control c, QTimer* const* timer) {
    QObject::connect(bar, &QSlider::actionTriggered, page, [this, c, timer] { UserArm(c, *timer); });
}

}  // namespace tern::controls
