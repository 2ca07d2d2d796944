#include "controls/AdjustPage.h"

#include <QWidget>

#include "widgets/PageHost.h"

namespace tern::controls {

AdjustPage::AdjustPage(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host) {
    setObjectName("AdjustPage");
}

void AdjustPage::Trans_end_cstm() {}

}  // namespace tern::controls
