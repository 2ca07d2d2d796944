// The Setup1 page (TabSheet3): the everyday settings of the camera. Its
// controls sit on Panel4, which a preset or reset locks until block 4 of the
// settings has been read back.
#pragma once

#include <QObject>

class QFrame;
class QPushButton;
class QWidget;

namespace tern::widgets {
class PageHost;
}

namespace tern::controls {

class Setup1Page : public QObject {
    Q_OBJECT
public:
    Setup1Page(QWidget* sheet, widgets::PageHost& host);

    /// The page's reply handler.
    void Trans_end_setup1();

    QFrame* Panel4 = nullptr;
    QPushButton* exitbtn = nullptr;

signals:
    /// EXIT: the tool ends.
    void ExitRequested();

private:
    widgets::PageHost& host_;
};

}  // namespace tern::controls
