// TFMask: the privacy-mask editor window. Created hidden with the main
// window; the Setup1 page's mask selector opens it for the chosen mask.
#pragma once

#include <QWidget>

namespace tern::transfer {
struct MaskReply;
}
namespace tern::widgets {
class PageHost;
}

namespace tern::controls {

class TFMask : public QWidget {
    Q_OBJECT
public:
    explicit TFMask(widgets::PageHost& host, QWidget* parent = nullptr);

    /// Shows the window for mask 0..3 (A..D) and reads its rectangle.
    void OpenFor(int mask);
    /// The camera's rectangle of a mask, as read back.
    void ShowCameraRect(const transfer::MaskReply& reply);

private:
    widgets::PageHost& host_;
};

}  // namespace tern::controls
