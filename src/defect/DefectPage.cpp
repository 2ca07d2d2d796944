#include "defect/DefectPage.h"

#include <QWidget>

#include "widgets/PageHost.h"

namespace tern::defect {

DefectPage::DefectPage(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host) {
    setObjectName("DefectPage");
}

void DefectPage::Trans_end_at_kizu() {}

void DefectPage::PlaceCursorDot() {}

}  // namespace tern::defect
