#include "transfer/Engine.h"

namespace tern::transfer {

void Engine::ClearFlags() {
    defectLock_ = false;
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
    return Trans_end_common(link::Reply(link_.RecvFrame()), link_.CmdPayload(1));
}

CommonDecoded Engine::Trans_end_common(const link::Reply& reply, std::uint8_t commandGroup) {
    CommonDecoded out;
    // Only answers to reads carry settings; the pages look at write echoes.
    if (!reply.Accepted() || commandGroup != link::kGroupRead) return out;
    switch (reply.Item()) {
        case link::kItemRegister:
        case link::kItemRegisterOnly: {
            const int reg = reply.Sub();
            const int w = reply.WordHL(4);
            registers_[static_cast<std::size_t>(reg)] = w;
            geometry_.ApplyRegister(reg, w);
            out.reg = reg;
            out.value = w;
            if (reg == link::kRegResolution) {
                out.resolution = (w & 0x4000) ? "Hi-Resolution" : "Lo-Resolution";
            } else if (reg == link::kRegVideoStandard) {
                out.tv = (w & 0x0001) ? "PAL" : "NTSC";
            }
            break;
        }
        case link::kItemBlock:
            // Block 4 is the last of the Setup1 settings: once it is back, a
            // preset or reset lock on the page is released.
            if (reply.Sub() == 4 && link_.PanelLock()) link_.Lock_off();
            break;
        default:
            break;
    }
    return out;
}

}  // namespace tern::transfer
