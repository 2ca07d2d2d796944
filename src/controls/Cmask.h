// TFMask: the privacy-mask editor window. Created hidden with the main
// window; the Setup1 page's mask selector opens it for the chosen mask.
// Each activation reads the mask's rectangle from the camera and draws it;
// a drag on the drawing area from the upper-left to the lower-right corner
// is sent to the camera at once as the mask's new rectangle.
#pragma once

#include <QRect>
#include <QWidget>

#include <functional>
#include <optional>

#include "transfer/MaskGeometry.h"

class QFrame;
class QLabel;
class QPushButton;

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

    /// Shows the window for mask 0..3 (A..D); its activation reads the rectangle.
    void OpenFor(int mask);
    /// The camera's rectangle of a mask, as read back.
    void ShowCameraRect(const transfer::MaskReply& reply);

    // ---- handlers ---------------------------------------------------------------
    void FormActivate();
    /// Asks the camera for mask m's rectangle, when idle.
    void Mask_read(int m);
    void PaintBox2MouseDown(int x, int y);
    void PaintBox2MouseMove(int x, int y);
    void PaintBox2MouseUp(int x, int y);
    /// Sends the rectangle of a drag from `press` to `release` (PaintBox2
    /// pixels) as mask m's, and draws it; nothing when the link is busy or
    /// the drag ends left of or above its start.
    void Mask_write(int m, transfer::WindowPoint press, transfer::WindowPoint release);
    /// Clears the drawing area to its grid.
    void Mask_area_clear();
    void Button1Click();

    /// The mask the window edits (0..3): the one the main window's mask
    /// choice names at the moment, once FollowChoice has been given it.
    int Mask() const;
    /// Where the main window's current mask choice is read.
    void FollowChoice(std::function<int()> choice) { choice_ = std::move(choice); }
    /// The rectangle on the drawing area, in its pixels (corners inclusive).
    std::optional<QRect> Drawn() const { return drawn_; }

    // ---- controls (named as on the window) ------------------------------------
    QFrame* Panel9 = nullptr;
    QWidget* PaintBox2 = nullptr;
    QLabel* lbHorz = nullptr;
    QLabel* lbVert = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ShowPoint(int x, int y);
    void Draw(transfer::WindowPoint topLeft, transfer::WindowPoint bottomRight);
    void PaintArea();

    widgets::PageHost& host_;
    int mask_ = 0;
    std::function<int()> choice_;
    transfer::WindowPoint press_;
    transfer::WindowPoint release_;
    std::optional<QRect> drawn_;
};

}  // namespace tern::controls
