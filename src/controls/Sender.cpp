#include "controls/Sender.h"

#include <QTimer>

#include "link/link.h"
#include "transfer/Engine.h"
#include "widgets/PageHost.h"

namespace tern::controls {

bool Sender::Idle() const { return host_.Link().Trans_chk(); }

bool Sender::LoadRunning() const { return host_.Engine().LoadStep() != 0; }

void Sender::Send(const transfer::SettingCommand& cmd) { host_.Link().StxCommand(cmd.payload, cmd.n); }

void Sender::SendNow(transfer::Control c, int value) {
    if (!Idle()) return;
    if (const auto cmd = transfer::CommandFor(c, value)) Send(*cmd);
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
