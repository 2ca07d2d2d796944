// The Adjust page (TabSheet1): the factory adjustments — white-balance
// presets from ATW, the DC-lens reference, use selectors, delay nibbles and
// the hue vectors.
#pragma once

#include <QObject>

class QWidget;

namespace tern::widgets {
class PageHost;
}

namespace tern::controls {

class AdjustPage : public QObject {
    Q_OBJECT
public:
    AdjustPage(QWidget* sheet, widgets::PageHost& host);

    /// The page's reply handler.
    void Trans_end_cstm();

private:
    widgets::PageHost& host_;
};

}  // namespace tern::controls
