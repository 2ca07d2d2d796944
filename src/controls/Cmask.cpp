#include "controls/Cmask.h"

namespace tern::controls {

TFMask::TFMask(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName("FMask");
    setWindowTitle("Mask");
    setFixedSize(263, 203);
}

}  // namespace tern::controls
