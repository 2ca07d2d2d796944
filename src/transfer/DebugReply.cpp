// The Debug page's read answers: shown in the data field only while the
// field still shows the register or address that was read, and never sent
// back to the camera as a write.
#include <QComboBox>

#include "app/MTern.h"
#include "widgets/HexEdit.h"

namespace tern::app {

namespace {
constexpr char kMsgError[] = " Error ";
constexpr char kCapError[] = "ERR";
}  // namespace

void TFTern::Debug_tend() {
    if (link_->Recv(1) != 0xA0) {
        ShowMessage(kMsgError, kCapError);
        return;
    }
    if (link_->CmdPayload(1) == 0x31) Trans_rd_dbg();
}

void TFTern::Trans_rd_dbg() {
    const link::Link& l = *link_;
    switch (l.Recv(2)) {
        case 0x0A: {
            const int reg = l.Recv(3);
            const QString text = QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(l.Recv(4) * 256 + l.Recv(5))));
            if (text == DspData->text()) return;
            if (reg != DspAdr->currentIndex()) return;  // the user has moved on to another register
            // The flag is for the one change this text causes; the change
            // handler may return before looking at it (link not idle), so
            // it does not outlive the setText.
            dspDataSkip_ = true;
            DspData->setText(text);
            dspDataSkip_ = false;
            break;
        }
        case 0x0C: {
            const int address = l.Recv(3) * 256 + l.Recv(4);
            const QString text = QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(l.Recv(5) * 256 + l.Recv(6))));
            if (text == Eepdata->text()) return;
            if (link::HexTextValue(eepadr->text().toUpper().toStdString()) != address) return;
            eepDataSkip_ = true;
            Eepdata->setText(text);
            eepDataSkip_ = false;
            break;
        }
        default:
            break;
    }
}

}  // namespace tern::app
