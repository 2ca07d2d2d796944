// The Copy page (CopySheet): the camera's settings memory to a settings file
// and back, record by record or as one block.
#pragma once

#include <QObject>

class QLabel;
class QPushButton;
class QWidget;

namespace tern::widgets {
class PageHost;
}

namespace tern::copy {

class CopyPage : public QObject {
    Q_OBJECT
public:
    CopyPage(QWidget* sheet, widgets::PageHost& host);

    /// The page's reply handler.
    void Trans_end_copy();
    /// The camera acknowledged the reset that ends a copy.
    void ResetAcknowledged();
    /// The block frame of a batch copy went out: `by` bytes more.
    void AdvanceProgress(int by);
    /// The link gave up waiting for the copy's answer.
    void ReplyGivenUp();

    QPushButton* CtopOK2 = nullptr;
    QPushButton* ptocOk = nullptr;
    QPushButton* ptocOk2 = nullptr;
    QLabel* complete2 = nullptr;

private:
    widgets::PageHost& host_;
};

}  // namespace tern::copy
