// The CCD Defect page (TabSheet5): the fifteen correction slots, the
// camera's automatic defect search and the manual cursor.
#pragma once

#include <QObject>

class QWidget;

namespace tern::widgets {
class PageHost;
}

namespace tern::defect {

class DefectPage : public QObject {
    Q_OBJECT
public:
    DefectPage(QWidget* sheet, widgets::PageHost& host);

    /// The page's reply handler.
    void Trans_end_at_kizu();
    /// Re-places the cursor dot over the sensor picture; runs after every reply.
    void PlaceCursorDot();

private:
    widgets::PageHost& host_;
};

}  // namespace tern::defect
