// The Setup2 page (TabSheet4): gamma, aperture, knee, colour bar and motion
// detection with its 48-cell area.
#pragma once

#include <QObject>

class QPushButton;
class QWidget;

namespace tern::widgets {
class PageHost;
}

namespace tern::controls {

class Setup2Page : public QObject {
    Q_OBJECT
public:
    Setup2Page(QWidget* sheet, widgets::PageHost& host);

    /// The page's reply handler.
    void Trans_end_setup2();

    QPushButton* exitbtn2 = nullptr;

signals:
    /// EXIT: the tool ends.
    void ExitRequested();

private:
    widgets::PageHost& host_;
};

}  // namespace tern::controls
