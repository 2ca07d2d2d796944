#include "transfer/Engine.h"

namespace tern::transfer {

void Engine::ClearFlags() {
    defect_ = DefectLockState{};
    loadGuard_ = false;
}

void Engine::Trans_init(link::Page page, int step) {
    loadStep_ = step + 1;
    const auto request = LoadChainStep(page, step);
    if (!request) {
        loadStep_ = 0;  // the chain of this page ends here
        model_.EndRead();
        return;
    }
    if (step == 0) {
        model_.BeginRead(page);
        rereadPending_ = false;
    }
    link_.StxCommand(request->payload, request->n);
}

link::Payload Engine::LastCommand() const {
    link::Payload last;
    for (int i = 1; i <= static_cast<int>(link::kPayloadSize); ++i) last[i] = link_.CmdPayload(i);
    return last;
}

CommonDecoded Engine::Trans_end_common() { return Trans_end_common(link::Reply(link_.RecvFrame()), LastCommand()); }

CommonDecoded Engine::Trans_end_common(const link::Reply& reply, const link::Payload& lastCommand) {
    CommonDecoded out;
    // The camera answers: a read that a give-up cut short can run again.
    out.rereadPage = rereadPending_ && loadStep_ == 0;
    if (lastCommand[1] == link::kGroupWrite) out.refused = model_.Answered(lastCommand, reply.Status());
    // Only answers to reads carry settings; the pages look at write echoes.
    if (!reply.Accepted() || lastCommand[1] != link::kGroupRead) return out;
    DecodedReply d = DecodeReply(reply, lastCommand, MaskVideo{geometry_.PalSystem != 0, geometry_.LowResolution != 0});
    if (d.reg) {
        const int reg = d.reg->reg;
        const int w = d.reg->word;
        registers_[static_cast<std::size_t>(reg & 0xFF)] = w;
        geometry_.ApplyRegister(reg, w);
        out.reg = reg;
        out.value = w;
    }
    // The title strip's labels, as the decoder words them.
    for (const ControlUpdate& u : d.updates) {
        if (u.kind != ControlUpdate::Kind::Text) continue;
        if (u.control == "Resolution") out.resolution = u.text;
        if (u.control == "TV") out.tv = u.text;
    }
    // Block 4 is the last of the Setup1 settings: once it is back, a preset
    // or reset lock on the page is released.
    if (d.releasePanelLock && link_.PanelLock()) link_.Lock_off();
    // A setting whose user's value waits to be sent keeps showing it: the
    // read tells the model what the camera has, not the control.
    out.updates.reserve(d.updates.size());
    for (ControlUpdate& u : d.updates) {
        if (model_.Read(u)) out.updates.push_back(std::move(u));
    }
    out.mask = d.mask;
    out.loadGuard = d.loadGuard;
    return out;
}

std::vector<Control> Engine::ReplyGivenUp(const link::Payload& inFlight) {
    const bool reading = loadStep_ != 0;
    std::vector<Control> unknown = model_.GiveUp(inFlight);
    if (reading) {
        loadStep_ = 0;
        rereadPending_ = true;
    }
    return unknown;
}

}  // namespace tern::transfer
