// The transfer engine of the main window: the load chain of the page shown
// and the routing of every reply to the common decoder and the page that
// asked.
#include <QLabel>
#include <QTabWidget>

#include "app/MTern.h"
#include "transfer/Chain.h"

namespace tern::app {

void TFTern::Trans_init(int step) {
    loadStep_ = step + 1;
    const auto request = transfer::LoadChainStep(ActivePage(), step);
    if (!request) {
        loadStep_ = 0;  // the chain of this page ends here
        return;
    }
    link_->StxCommand(request->payload, request->n);
}

void TFTern::Trans_end() {
    Trans_end_common();
    switch (ActivePage()) {
        case transfer::kPageAdjust: Trans_end_cstm(); break;
        case transfer::kPageDebug: Debug_tend(); break;
        case transfer::kPageDefect: Trans_end_at_kizu(); break;
        case transfer::kPageCopy: Trans_end_copy(); break;
        case transfer::kPageSetup1: Trans_end_setup1(); break;
        case transfer::kPageSetup2: Trans_end_setup2(); break;
        default: break;
    }
    Trans_cstm_hidden();
    PlaceCursorDot();
    if (OnReply) OnReply();
}

void TFTern::Trans_end_common() {
    const link::Link& l = *link_;
    // Only answers to reads carry settings; the pages look at write echoes.
    if (l.Recv(1) != 0xA0 || l.CmdPayload(1) != 0x31) return;
    switch (l.Recv(2)) {
        case 0x0A:
        case 0x0B: {
            const int reg = l.Recv(3);
            const int w = l.Recv(4) * 256 + l.Recv(5);
            SettingsImage[static_cast<std::size_t>(reg)] = w;
            Geometry.ApplyRegister(reg, w);
            if (reg == transfer::kRegResolution) {
                Resolution->setText((w & 0x4000) ? "Hi-Resolution" : "Lo-Resolution");
            } else if (reg == transfer::kRegVideoStandard) {
                TV->setText((w & 0x0001) ? "PAL" : "NTSC");
            }
            break;
        }
        case 0x45:
            // Block 4 is the last of the Setup1 settings: once it is back, a
            // preset or reset lock on the page is released.
            if (l.Recv(3) == 4 && l.PanelLock()) link_->Lock_off();
            break;
        default:
            break;  // the items of the Adjust and Setup pages come with those pages
    }
}

// Page handlers of the pages still to be built: their replies change nothing yet.
void TFTern::Trans_end_cstm() {}
void TFTern::Trans_end_at_kizu() {}
void TFTern::Trans_end_copy() {}
void TFTern::Trans_end_setup1() {}
void TFTern::Trans_end_setup2() {}
void TFTern::Trans_cstm_hidden() {}
/// The defect cursor dot is placed once the CCD Defect page has its picture.
void TFTern::PlaceCursorDot() {}

}  // namespace tern::app
