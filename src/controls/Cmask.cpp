#include "controls/Cmask.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QWindow>

#include "link/link.h"
#include "transfer/Decode.h"
#include "transfer/Engine.h"
#include "widgets/Make.h"
#include "widgets/PageHost.h"

namespace tern::controls {

using transfer::WindowPoint;

namespace {

constexpr int kPanelWidth = 194;
constexpr int kPanelHeight = 145;
constexpr int kPaintWidth = 205;
constexpr int kPaintHeight = 145;
// The drawing area reaches 10 pixels left of and 1 above the panel's client
// area, so its pixels count in the camera's way from there.
constexpr int kPaintLeft = -10;
constexpr int kPaintTop = -1;
// The grid: a 5-pixel mesh over a 240-pixel square.
constexpr int kGridExtent = 240;
constexpr int kGridStep = 5;

}  // namespace

TFMask::TFMask(widgets::PageHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      host_(host) {
    setObjectName("FMask");
    setWindowTitle("Mask");
    setFixedSize(transfer::kMaskWindowWidth, transfer::kMaskWindowHeight);

    Panel9 = new QFrame(this);
    Panel9->setObjectName("Panel9");
    Panel9->setFrameShape(QFrame::Box);
    Panel9->setFrameShadow(QFrame::Plain);
    Panel9->setLineWidth(1);
    Panel9->setGeometry((transfer::kMaskWindowWidth - kPanelWidth) / 2, 12, kPanelWidth, kPanelHeight);
    auto* client = new QWidget(Panel9);
    client->setObjectName("Panel9Client");
    client->setGeometry(Panel9->contentsRect());

    PaintBox2 = new QWidget(client);
    PaintBox2->setObjectName("PaintBox2");
    PaintBox2->setGeometry(kPaintLeft, kPaintTop, kPaintWidth, kPaintHeight);
    PaintBox2->setAttribute(Qt::WA_OpaquePaintEvent);
    PaintBox2->setMouseTracking(true);  // the position shows while hovering too
    PaintBox2->installEventFilter(this);

    lbHorz = widgets::make::Label("lbHorz", "0", this);
    lbVert = widgets::make::Label("lbVert", "0", this);
    lbHorz->setGeometry(8, 170, 30, 14);
    lbVert->setGeometry(40, 170, 30, 14);
    lbHorz->hide();
    lbVert->hide();

    Button1 = widgets::make::Button("Button1", "Exit", this);
    Button1->setGeometry((transfer::kMaskWindowWidth - 75) / 2, 167, 75, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { host_.Guard([this] { Button1Click(); }); });
}

void TFMask::OpenFor(int mask) {
    if (mask >= 0 && mask < transfer::kMaskCount) mask_ = mask;
    // A window the platform still counts as focused (hidden without handing
    // the focus on, or open already) is not activated again, so it reads here.
    const bool focused = windowHandle() != nullptr && QGuiApplication::focusWindow() == windowHandle();
    show();
    raise();
    activateWindow();
    if (focused) host_.Guard([this] { FormActivate(); });
}

bool TFMask::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) host_.Guard([this] { FormActivate(); });
    return QWidget::event(e);
}

// Every activation starts from the camera's rectangle.
void TFMask::FormActivate() { Mask_read(Mask()); }

int TFMask::Mask() const {
    const int chosen = choice_ ? choice_() : -1;
    return chosen >= 0 && chosen < transfer::kMaskCount ? chosen : mask_;
}

void TFMask::Mask_read(int m) {
    const auto cmd = transfer::MaskReadCommand(m);
    if (!cmd || !host_.Link().Trans_chk()) return;
    host_.Link().StxCommand(cmd->payload, cmd->n);
}

void TFMask::ShowPoint(int x, int y) {
    lbHorz->setText(QString::number(x));
    lbVert->setText(QString::number(y));
}

void TFMask::PaintBox2MouseDown(int x, int y) {
    press_ = {x, y};
    ShowPoint(x, y);
}

void TFMask::PaintBox2MouseMove(int x, int y) { ShowPoint(x, y); }

void TFMask::PaintBox2MouseUp(int x, int y) {
    release_ = {x, y};
    ShowPoint(x, y);
    Mask_write(Mask(), press_, release_);
}

void TFMask::Mask_write(int m, WindowPoint press, WindowPoint release) {
    if (!host_.Link().Trans_chk()) return;  // the user draws again
    const transfer::MaskVideo video{host_.Engine().Geometry().PalSystem != 0,
                                    host_.Engine().Geometry().LowResolution != 0};
    const auto rect = transfer::MaskFromDrag(press, release, video);
    if (!rect) return;  // drawn from right to left or bottom to top
    const auto cmd = transfer::MaskWriteCommand(m, *rect);
    if (!cmd) return;
    host_.Link().StxCommand(cmd->payload, cmd->n);
    // The drawing shows the drag itself, not the camera's limited rectangle.
    Draw(press, release);
}

void TFMask::ShowCameraRect(const transfer::MaskReply& reply) {
    if (reply.mask != Mask()) return;  // another mask's rectangle is not this window's
    Draw(reply.window.topLeft, reply.window.bottomRight);
}

void TFMask::Draw(WindowPoint topLeft, WindowPoint bottomRight) {
    Mask_area_clear();
    drawn_ = QRect(QPoint(topLeft.x, topLeft.y), QPoint(bottomRight.x, bottomRight.y)).normalized();
    PaintBox2->update();
}

void TFMask::Mask_area_clear() {
    drawn_.reset();
    PaintBox2->update();
}

void TFMask::Button1Click() { hide(); }

void TFMask::PaintArea() {
    QPainter p(PaintBox2);
    const QColor face = palette().color(QPalette::Button);
    p.fillRect(0, 0, kGridExtent, kGridExtent, face);
    p.setPen(QPen(Qt::black, 0));
    for (int v = 0; v < kGridExtent; v += kGridStep) {
        p.drawLine(0, v, kGridExtent, v);
        p.drawLine(v, 0, v, kGridExtent);
    }
    if (drawn_) {
        p.setBrush(face);
        p.drawRect(drawn_->adjusted(0, 0, -1, -1).normalized());
        if (drawn_->width() <= 1 || drawn_->height() <= 1) p.fillRect(*drawn_, Qt::black);
    }
}

bool TFMask::eventFilter(QObject* watched, QEvent* e) {
    if (watched != PaintBox2) return QWidget::eventFilter(watched, e);
    switch (e->type()) {
        case QEvent::Paint:
            PaintArea();
            return true;
        case QEvent::MouseButtonPress: {
            const QPoint at = static_cast<QMouseEvent*>(e)->position().toPoint();
            host_.Guard([this, at] { PaintBox2MouseDown(at.x(), at.y()); });
            return true;
        }
        case QEvent::MouseMove: {
            const QPoint at = static_cast<QMouseEvent*>(e)->position().toPoint();
            host_.Guard([this, at] { PaintBox2MouseMove(at.x(), at.y()); });
            return true;
        }
        case QEvent::MouseButtonRelease: {
            const QPoint at = static_cast<QMouseEvent*>(e)->position().toPoint();
            host_.Guard([this, at] { PaintBox2MouseUp(at.x(), at.y()); });
            return true;
        }
        default: return QWidget::eventFilter(watched, e);
    }
}

}  // namespace tern::controls
