// The CCD Defect page (TabSheet5): the fifteen correction slots, the
// camera's automatic defect search and the manual cursor.
//
// The fifteen rows are the table: the page keeps no other copy. Every change
// the page makes to its own boxes (a table piece, a search result, clearing
// the switches, the copies between a slot and the cursor) runs under the
// engine's defect lock; only the user's clicks send. A click that waits for
// the link, and a cursor move not yet sent, are the user's: what the camera
// reports meanwhile does not overwrite them.
#pragma once

#include <QObject>
#include <QWidget>

#include <array>
#include <functional>
#include <set>

#include "transfer/Defect.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace tern::widgets {
class PageHost;
class TCSpinEdit;
class TRadioGroup;
}  // namespace tern::widgets

namespace tern::defect {

/// The picture of the sensor: an olive cross-hatch that reports where a mouse
/// button was released, in its own pixels (outside its edges, too, when the
/// press began on it).
class TSensorPicture : public QWidget {
    Q_OBJECT
public:
    TSensorPicture(const QString& name, QWidget* parent);

signals:
    void MouseUp(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

/// The cursor dot: a small filled circle that lets the mouse through to the picture.
class TCursorDot : public QWidget {
    Q_OBJECT
public:
    TCursorDot(const QString& name, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class DefectPage : public QObject {
    Q_OBJECT
public:
    DefectPage(QWidget* sheet, widgets::PageHost& host);

    /// One slot's row: the enable box captioned with its letter, FIX, REV and
    /// the X and Y of the correction as four hexadecimal digits.
    struct Row {
        QCheckBox* Defect = nullptr;
        QCheckBox* fix = nullptr;
        QCheckBox* rev = nullptr;
        QLineEdit* x = nullptr;
        QLineEdit* y = nullptr;
    };

    // ---- the table -----------------------------------------------------------
    /// The forty-five row handlers (Defect_AClick, a_fixClick, a_revClick, ...):
    /// the switch's new state goes to the camera, once the link is free.
    void Defect_AClick(int slot, transfer::SlotSwitch which);
    /// "Load": reads the table in six pieces under the defect lock.
    void kizu_loadClick();
    /// The page's reply handler.
    void Trans_end_at_kizu();
    /// Writes the cursor position and the last search result's FIX and REV
    /// into the slot chosen in "Defect Select"; sends nothing.
    void kizu_disp_set();

    // ---- the automatic search ------------------------------------------------
    void kizu_startClick();
    void kizu_nextClick();
    void kizu_retryClick();
    /// Clears every enable, FIX and REV box on screen; sends nothing.
    void CheckClear();

    // ---- the manual cursor ---------------------------------------------------
    void kizu_upClick();
    void kizu_downClick();
    void kizu_leftClick();
    void kizu_rightClick();
    /// A mouse button released at (x, y) of the picture.
    void Shape1MouseUp(int x, int y);
    /// The tick of kizu_auto_timer: stops it and sends the position.
    void kizu_auto_timerTimer();
    /// Stores the cursor position in the chosen slot and sends it, when the link is idle.
    void kizu_xy_set();
    /// "Cursor Display" or "Defect Select" changed: switches the camera's
    /// cursor display and loads the chosen slot's position into the cursor.
    void kizu_selClick();
    /// Keys on the arrows and on "Cursor Display"; true when the key was one of theirs.
    bool kizu_upKeyPress(QChar key);
    /// Re-places the cursor dot over the sensor picture; runs after every reply.
    void PlaceCursorDot();

    const Row& Rows(int slot) const { return rows_.at(static_cast<std::size_t>(slot)); }

    // ---- controls (named as on the window) -----------------------------------
    QFrame* Panel9 = nullptr;
    QGroupBox* GroupBox11 = nullptr;
    QPushButton* kizu_start = nullptr;
    QPushButton* kizu_next = nullptr;
    QPushButton* kizu_retry = nullptr;
    widgets::TRadioGroup* kizu_rtn = nullptr;
    QLineEdit* kizu_rtn_x = nullptr;
    QLineEdit* kizu_rtn_y = nullptr;
    QCheckBox* kizu_rtn_fix = nullptr;
    QCheckBox* kizu_rtn_rev = nullptr;
    QGroupBox* fine_adj = nullptr;
    QPushButton* kizu_load = nullptr;
    QCheckBox* kizu_sel = nullptr;
    QLineEdit* kizu_ax = nullptr;
    QLineEdit* kizu_ay = nullptr;
    QFrame* Panel13 = nullptr;
    TSensorPicture* Shape1 = nullptr;
    TCursorDot* Shape2 = nullptr;
    QPushButton* kizu_up = nullptr;
    QPushButton* kizu_left = nullptr;
    QPushButton* kizu_right = nullptr;
    QPushButton* kizu_down = nullptr;
    widgets::TCSpinEdit* SpinEdit1 = nullptr;
    widgets::TRadioGroup* Kizu_abc = nullptr;
    QTimer* kizu_auto_timer = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildAuto(QWidget* parent);
    QWidget* BuildTable(QWidget* parent);
    QWidget* BuildCursor(QWidget* parent);
    void Connect();

    /// While the link is busy: `retry` runs once it is free (a user's action
    /// is never lost), and true is returned.
    bool Busy(const void* key, std::function<void()> retry);
    bool Idle() const;
    void Send(const transfer::DefectCommand& command);
    void ShowPiece(const transfer::DefectTablePiece& piece);
    void ShowSearch(const transfer::SearchResult& result);
    /// One arrow move of the cursor, then the send timer.
    void Move(transfer::CursorMove move);
    void StartAutoTimer();
    int CursorX() const;
    int CursorY() const;

    widgets::PageHost& host_;
    std::array<Row, transfer::kDefectSlots> rows_{};
    /// Sets a box from the camera's side (a table piece, a search result,
    /// clearing), unless the user's click on it is still waiting to go out.
    void SetBox(QCheckBox* box, bool on);

    /// The slot boxes whose click waits for the link: their state is the user's.
    std::set<const QCheckBox*> wanted_;
    /// The user moved the cursor and the position has not gone out yet.
    bool cursorMoved_ = false;
};

}  // namespace tern::defect
