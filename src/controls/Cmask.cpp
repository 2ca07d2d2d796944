#include "controls/Cmask.h"

#include "transfer/Decode.h"
#include "widgets/PageHost.h"

namespace tern::controls {

TFMask::TFMask(widgets::PageHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      host_(host) {
    setObjectName("FMask");
    setWindowTitle("Mask");
    setFixedSize(263, 203);
}

void TFMask::OpenFor(int mask) {
    (void)mask;
    show();
    raise();
}

void TFMask::ShowCameraRect(const transfer::MaskReply& reply) { (void)reply; }

}  // namespace tern::controls
