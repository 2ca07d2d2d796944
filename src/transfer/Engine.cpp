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
        return;
    }
    link_.StxCommand(request->payload, request->n);
}

CommonDecoded Engine::Trans_end_common() {
    link::Payload last;
    for (int i = 1; i <= static_cast<int>(link::kPayloadSize); ++i) last[i] = link_.CmdPayload(i);
    return Trans_end_common(link::Reply(link_.RecvFrame()), last);
}

CommonDecoded Engine::Trans_end_common(const link::Reply& reply, const link::Payload& lastCommand) {
    CommonDecoded out;
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
    out.updates = std::move(d.updates);
    out.mask = d.mask;
    out.loadGuard = d.loadGuard;
    return out;
}

}  // namespace tern::transfer
