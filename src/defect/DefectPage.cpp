// The CCD Defect page: the table of fifteen correction slots read in six
// pieces, the camera's automatic search stepped by Start / Next / Retry, and
// the manual cursor moved by the arrows, the keys and the sensor picture.
#include "defect/DefectPage.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "link/codec.h"
#include "link/link.h"
#include "transfer/Engine.h"
#include "widgets/Make.h"
#include "widgets/PageHost.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinEdit.h"

namespace tern::defect {

using transfer::CursorMove;
using transfer::DefectLockState;
using transfer::kDefectSlots;
using transfer::SlotSwitch;
using widgets::make::Button;
using widgets::make::Group;
using widgets::make::Label;

namespace {

constexpr int kPictureWidth = 200;
constexpr int kPictureHeight = 150;
constexpr int kPictureBorder = 3;
constexpr int kDotSize = 6;
constexpr QPoint kDotDesignPlace{12, 18};
constexpr int kHexEditWidth = 40;
constexpr int kEditHeight = 19;
constexpr int kArrowWidth = 44;
/// "Defect Select" has two columns: A..H, then I..O.
constexpr int kSelectRows = (kDefectSlots + 1) / 2;
/// Steps beyond the largest range move to the edge anyway.
constexpr int kMaxStep = transfer::kDefectMaxX;

const char* const kErrorText = " Error ";
const char* const kErrorCaption = "ERR";

QString Letter(int slot) { return QString(QChar(transfer::DefectSlotLetter(slot))); }
QString Lower(int slot) { return Letter(slot).toLower(); }

QString HexWord(int value) {
    return QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(value & 0xFFFF)));
}

QLineEdit* ValueEdit(const QString& name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMaxLength(4);
    e->setEnabled(false);
    e->setFixedSize(kHexEditWidth, kEditHeight);
    e->setAlignment(Qt::AlignCenter);
    return e;
}

QCheckBox* Box(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QCheckBox(caption, parent);
    b->setObjectName(name);
    return b;
}

}  // namespace

// ---- the picture and the dot ---------------------------------------------------------

TSensorPicture::TSensorPicture(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
    setCursor(Qt::CrossCursor);
}

void TSensorPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QBrush(QColor(128, 128, 0), Qt::DiagCrossPattern));
}

void TSensorPicture::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit MouseUp(at.x(), at.y());
}

TCursorDot::TCursorDot(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
    setFixedSize(kDotSize, kDotSize);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TCursorDot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::black);
    p.setBrush(Qt::red);
    p.drawEllipse(QRectF(0.5, 0.5, kDotSize - 1, kDotSize - 1));
}

// ---- building ---------------------------------------------------------------------------

DefectPage::DefectPage(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host) {
    setObjectName("DefectPage");
    auto* outer = new QHBoxLayout(sheet);
    outer->setContentsMargins(4, 4, 4, 4);
    Panel9 = new QFrame(sheet);
    Panel9->setObjectName("Panel9");
    Panel9->setFrameShape(QFrame::Panel);
    Panel9->setFrameShadow(QFrame::Raised);
    outer->addWidget(Panel9);

    auto* panel = new QHBoxLayout(Panel9);
    panel->setContentsMargins(6, 6, 6, 6);
    panel->setSpacing(8);
    auto* left = new QVBoxLayout;
    left->addWidget(BuildAuto(Panel9));
    left->addStretch();
    panel->addLayout(left);

    fine_adj = Group("fine_adj", "Manual", Panel9);
    auto* manual = new QHBoxLayout(fine_adj);
    manual->setContentsMargins(8, 6, 8, 6);
    manual->setSpacing(14);
    manual->addWidget(BuildTable(fine_adj), 0, Qt::AlignTop);
    manual->addWidget(BuildCursor(fine_adj), 0, Qt::AlignTop);
    manual->addStretch();
    panel->addWidget(fine_adj, 1);

    kizu_auto_timer = host_.ConnectTimer("kizu_auto_timer", [this] { kizu_auto_timerTimer(); });
    Connect();
}

QWidget* DefectPage::BuildAuto(QWidget* parent) {
    GroupBox11 = Group("GroupBox11", "Auto", parent);
    auto* col = new QVBoxLayout(GroupBox11);
    col->setContentsMargins(8, 6, 8, 8);
    col->setSpacing(6);
    kizu_start = Button("kizu_start", "Start", GroupBox11);
    kizu_next = Button("kizu_next", "Next", GroupBox11);
    kizu_retry = Button("kizu_retry", "Retry", GroupBox11);
    for (QPushButton* b : {kizu_start, kizu_next, kizu_retry}) {
        b->setMinimumWidth(90);
        col->addWidget(b);
    }
    kizu_rtn = new widgets::TRadioGroup("kizu_rtn", "Return code", {"Success", "Not found"}, GroupBox11);
    kizu_rtn->setEnabled(false);
    col->addWidget(kizu_rtn);

    auto* result = new QGridLayout;
    result->setHorizontalSpacing(6);
    result->setVerticalSpacing(1);
    kizu_rtn_x = ValueEdit("kizu_rtn_x", GroupBox11);
    kizu_rtn_y = ValueEdit("kizu_rtn_y", GroupBox11);
    result->addWidget(new QLabel("X", GroupBox11), 0, 0, Qt::AlignHCenter);
    result->addWidget(new QLabel("Y", GroupBox11), 0, 1, Qt::AlignHCenter);
    result->addWidget(kizu_rtn_x, 1, 0);
    result->addWidget(kizu_rtn_y, 1, 1);
    result->setColumnStretch(2, 1);
    col->addLayout(result);

    // The last result's FIX and REV, which kizu_disp_set copies into a slot; never shown.
    kizu_rtn_fix = Box("kizu_rtn_fix", "FIX", GroupBox11);
    kizu_rtn_rev = Box("kizu_rtn_rev", "REV", GroupBox11);
    kizu_rtn_fix->hide();
    kizu_rtn_rev->hide();
    return GroupBox11;
}

QWidget* DefectPage::BuildTable(QWidget* parent) {
    auto* table = new QWidget(parent);
    table->setObjectName("DefectTable");
    auto* col = new QVBoxLayout(table);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(6);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(1);
    const char* const headers[] = {"Defect", "FIX ", "REV ", "X ", "Y "};
    for (int c = 0; c < 5; ++c) grid->addWidget(new QLabel(headers[c], table), 0, c, Qt::AlignLeft);
    for (int s = 0; s < kDefectSlots; ++s) {
        Row& r = rows_.at(static_cast<std::size_t>(s));
        r.Defect = Box("Defect_" + Letter(s), Letter(s), table);
        r.fix = Box(Lower(s) + "_fix", QString(), table);
        r.rev = Box(Lower(s) + "_rev", QString(), table);
        r.x = ValueEdit(Lower(s) + "_x", table);
        r.y = ValueEdit(Lower(s) + "_y", table);
        const int line = s + 1;
        grid->addWidget(r.Defect, line, 0);
        grid->addWidget(r.fix, line, 1);
        grid->addWidget(r.rev, line, 2);
        grid->addWidget(r.x, line, 3);
        grid->addWidget(r.y, line, 4);
    }
    col->addLayout(grid);
    kizu_load = Button("kizu_load", "Load", table);
    kizu_load->setMinimumWidth(90);
    col->addWidget(kizu_load, 0, Qt::AlignLeft);
    return table;
}

QWidget* DefectPage::BuildCursor(QWidget* parent) {
    auto* cursor = new QWidget(parent);
    cursor->setObjectName("DefectCursor");
    auto* grid = new QGridLayout(cursor);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(4);

    // Above the picture: "Cursor Display" at its left end, X at its right end.
    kizu_sel = Box("kizu_sel", "Cursor Display", cursor);
    kizu_ax = ValueEdit("kizu_ax", cursor);
    kizu_ay = ValueEdit("kizu_ay", cursor);
    auto* top = new QHBoxLayout;
    top->addWidget(kizu_sel);
    top->addStretch();
    top->addWidget(new QLabel("X", cursor));
    top->addWidget(kizu_ax);
    grid->addLayout(top, 0, 0);

    Panel13 = new QFrame(cursor);
    Panel13->setObjectName("Panel13");
    Panel13->setFrameShape(QFrame::Box);
    Panel13->setLineWidth(1);
    Panel13->setFixedSize(kPictureWidth + 2 * kPictureBorder, kPictureHeight + 2 * kPictureBorder);
    Shape1 = new TSensorPicture("Shape1", Panel13);
    Shape1->setGeometry(kPictureBorder, kPictureBorder, kPictureWidth, kPictureHeight);
    Shape2 = new TCursorDot("Shape2", Panel13);
    Shape2->move(kDotDesignPlace);
    Shape2->raise();
    grid->addWidget(Panel13, 1, 0);

    // Y beside the picture's lower right corner.
    auto* yBox = new QVBoxLayout;
    yBox->addStretch();
    yBox->addWidget(new QLabel("Y", cursor), 0, Qt::AlignLeft);
    yBox->addWidget(kizu_ay);
    grid->addLayout(yBox, 1, 1);

    // Below the picture: "Defect Select" under its left half, the arrows
    // around the step under its right half.
    auto* below = new QHBoxLayout;
    below->setSpacing(8);
    Kizu_abc = new widgets::TRadioGroup("Kizu_abc", "Defect Select", [] {
        QStringList letters;
        for (int s = 0; s < kDefectSlots; ++s) letters << Letter(s);
        return letters;
    }(), cursor);
    delete Kizu_abc->layout();
    auto* columns = new QGridLayout(Kizu_abc);
    columns->setContentsMargins(8, 4, 8, 4);
    columns->setHorizontalSpacing(14);
    columns->setVerticalSpacing(1);
    for (int s = 0; s < kDefectSlots; ++s) columns->addWidget(Kizu_abc->Button(s), s % kSelectRows, s / kSelectRows);
    below->addWidget(Kizu_abc, 0, Qt::AlignTop);

    auto* cross = new QGridLayout;
    cross->setHorizontalSpacing(3);
    cross->setVerticalSpacing(3);
    kizu_up = Button("kizu_up", "Up", cursor);
    kizu_left = Button("kizu_left", "Left", cursor);
    kizu_right = Button("kizu_right", "Right", cursor);
    kizu_down = Button("kizu_down", "Down", cursor);
    for (QPushButton* b : {kizu_up, kizu_left, kizu_right, kizu_down}) b->setFixedWidth(kArrowWidth);
    SpinEdit1 = new widgets::TCSpinEdit("SpinEdit1", cursor);
    SpinEdit1->setRange(1, kMaxStep);  // a step below 1 would not move, or move the wrong way
    SpinEdit1->SetValue(1);
    SpinEdit1->setFixedWidth(kArrowWidth + 6);
    cross->addWidget(kizu_up, 0, 1, Qt::AlignHCenter);
    cross->addWidget(new QLabel("Step", cursor), 1, 1, Qt::AlignHCenter | Qt::AlignBottom);
    cross->addWidget(kizu_left, 2, 0);
    cross->addWidget(SpinEdit1, 2, 1);
    cross->addWidget(kizu_right, 2, 2);
    cross->addWidget(kizu_down, 3, 1, Qt::AlignHCenter);
    below->addLayout(cross);
    below->addStretch();
    grid->addLayout(below, 2, 0, 1, 2);
    grid->setRowStretch(3, 1);

    Kizu_abc->SetItemIndex(0);  // "A" chosen at start-up, before any handler is connected
    return cursor;
}

void DefectPage::Connect() {
    // Clicks come from the state signals, so a change made from code raises
    // the same handler as the user's click; a change to the same state raises none.
    auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this, [this, handler] { host_.Guard([this, handler] { handler(); }); });
    };
    for (int s = 0; s < kDefectSlots; ++s) {
        const Row& r = rows_.at(static_cast<std::size_t>(s));
        // Only the user's click sends: the page's own changes to a box (a
        // table piece, a search result) raise no click.
        on(r.Defect, &QCheckBox::clicked, [this, s] { Defect_AClick(s, SlotSwitch::Enable); });
        on(r.fix, &QCheckBox::clicked, [this, s] { Defect_AClick(s, SlotSwitch::Fix); });
        on(r.rev, &QCheckBox::clicked, [this, s] { Defect_AClick(s, SlotSwitch::Rev); });
    }
    on(kizu_load, &QPushButton::clicked, [this] { kizu_loadClick(); });
    on(kizu_start, &QPushButton::clicked, [this] { kizu_startClick(); });
    on(kizu_next, &QPushButton::clicked, [this] { kizu_nextClick(); });
    on(kizu_retry, &QPushButton::clicked, [this] { kizu_retryClick(); });
    on(kizu_up, &QPushButton::clicked, [this] { kizu_upClick(); });
    on(kizu_down, &QPushButton::clicked, [this] { kizu_downClick(); });
    on(kizu_left, &QPushButton::clicked, [this] { kizu_leftClick(); });
    on(kizu_right, &QPushButton::clicked, [this] { kizu_rightClick(); });
    on(kizu_sel, &QCheckBox::toggled, [this] { kizu_selClick(); });
    on(Kizu_abc, &widgets::TRadioGroup::Click, [this] { kizu_selClick(); });
    connect(Shape1, &TSensorPicture::MouseUp, this,
            [this](int x, int y) { host_.Guard([this, x, y] { Shape1MouseUp(x, y); }); });
    for (QWidget* w : std::initializer_list<QWidget*>{kizu_up, kizu_left, kizu_right, kizu_down, kizu_sel}) {
        w->installEventFilter(this);
    }
}

// ---- shared ---------------------------------------------------------------------------------

bool DefectPage::Idle() const { return host_.Link().Trans_chk(); }

void DefectPage::Send(const transfer::DefectCommand& command) { host_.Link().StxCommand(command.payload, command.n); }

int DefectPage::CursorX() const { return static_cast<int>(link::HexTextValue(kizu_ax->text().toStdString())); }
int DefectPage::CursorY() const { return static_cast<int>(link::HexTextValue(kizu_ay->text().toStdString())); }

// ---- the table ------------------------------------------------------------------------------

bool DefectPage::Busy(const void* key, std::function<void()> retry) {
    if (Idle()) return false;
    host_.Link().SendWhenFree(key, [this, retry = std::move(retry)] { host_.Guard(retry); });
    return true;
}

void DefectPage::Defect_AClick(int slot, SlotSwitch which) {
    const Row& r = Rows(slot);
    QCheckBox* box = which == SlotSwitch::Enable ? r.Defect : which == SlotSwitch::Fix ? r.fix : r.rev;
    // A click that finds the link busy waits for it; until it has gone out,
    // nothing the camera reports meanwhile changes the box (SetBox), so the
    // state sent is the user's.
    if (Busy(box, [this, slot, which] { Defect_AClick(slot, which); })) {
        wanted_.insert(box);
        return;
    }
    wanted_.erase(box);
    Send(transfer::SlotSwitchCommand(which, slot, box->isChecked()));
}

void DefectPage::SetBox(QCheckBox* box, bool on) {
    // With nothing waiting on the link, no click waits either (a device
    // loss drops the waiting changes).
    if (host_.Link().WaitingChanges() == 0) wanted_.clear();
    if (!wanted_.contains(box)) box->setChecked(on);
}

void DefectPage::kizu_loadClick() {
    if (Busy(kizu_load, [this] { kizu_loadClick(); })) return;
    Send(host_.Engine().Defect().StartRead());
}

void DefectPage::Trans_end_at_kizu() {
    const link::Reply reply(host_.Link().RecvFrame());
    const transfer::DefectReplyAction action = host_.Engine().Defect().OnReply(reply, host_.Link().CmdPayload(1));
    if (action.showError) {
        // A read that was running has ended with the lock released; the box's answer is not used.
        host_.ShowAbortRetryIgnore(kErrorText, kErrorCaption);
        return;
    }
    if (action.piece) ShowPiece(*action.piece);
    if (action.next) Send(*action.next);  // the read holds the lock: no idle test
    if (action.search) ShowSearch(*action.search);
}

void DefectPage::ShowPiece(const transfer::DefectTablePiece& piece) {
    DefectLockState::Hold hold(host_.Engine().Defect());
    for (const transfer::DefectSlotUpdate& u : piece.entries) {
        const Row& r = Rows(u.slot);
        if (u.hasY) {
            SetBox(r.Defect, u.value.enabled);
            SetBox(r.fix, u.value.fix);
            SetBox(r.rev, u.value.rev);
        }
        if (u.hasX) r.x->setText(HexWord(u.value.x));
        if (u.hasY) r.y->setText(HexWord(u.value.y));
    }
}

void DefectPage::kizu_disp_set() {
    DefectLockState::Hold hold(host_.Engine().Defect());
    const int i = Kizu_abc->ItemIndex();
    if (i < 0) return;
    const Row& r = Rows(i);
    SetBox(r.Defect, true);
    r.x->setText(kizu_ax->text());
    r.y->setText(kizu_ay->text());
    SetBox(r.fix, kizu_rtn_fix->isChecked());
    SetBox(r.rev, kizu_rtn_rev->isChecked());
}

// ---- the automatic search -------------------------------------------------------------------

void DefectPage::ShowSearch(const transfer::SearchResult& result) {
    DefectLockState::Hold hold(host_.Engine().Defect());
    kizu_rtn->SetItemIndex(result.Success() ? 0 : 1);
    Kizu_abc->SetItemIndex(result.Slot().value_or(-1));  // its handler does nothing under the lock
    kizu_rtn_x->setText(HexWord(result.x));
    kizu_rtn_y->setText(HexWord(result.y));
    kizu_rtn_fix->setChecked(result.fix);
    kizu_rtn_rev->setChecked(result.rev);
    // A cursor move the user made while the search ran is kept: it goes out
    // once the link is free, and the reply does not replace it.
    if (!cursorMoved_) {
        kizu_ax->setText(kizu_rtn_x->text());
        kizu_ay->setText(kizu_rtn_y->text());
    }
    kizu_disp_set();
}

void DefectPage::CheckClear() {
    // A hold never releases the lock of a running table read, so clearing the
    // rows in the middle of a read leaves the read's next pieces unsent-back.
    DefectLockState::Hold hold(host_.Engine().Defect());
    for (const Row& r : rows_) SetBox(r.Defect, false);
    for (const Row& r : rows_) SetBox(r.fix, false);
    for (const Row& r : rows_) SetBox(r.rev, false);
}

void DefectPage::kizu_startClick() {
    CheckClear();
    if (Busy(kizu_start, [this] { kizu_startClick(); })) return;
    kizu_rtn->SetItemIndex(-1);
    Send(transfer::SearchStartCommand(transfer::SearchParametersFor(host_.Engine().Geometry())));
}

void DefectPage::kizu_nextClick() {
    if (Busy(kizu_next, [this] { kizu_nextClick(); })) return;
    kizu_rtn->SetItemIndex(-1);
    Send(transfer::SearchNextCommand());
}

void DefectPage::kizu_retryClick() {
    if (Busy(kizu_retry, [this] { kizu_retryClick(); })) return;
    kizu_rtn->SetItemIndex(-1);
    Send(transfer::SearchRetryCommand());
}

// ---- the manual cursor ----------------------------------------------------------------------

void DefectPage::StartAutoTimer() {
    // A burst of moves sends once, the latest position, one interval after its first move.
    if (kizu_auto_timer != nullptr && !kizu_auto_timer->isActive()) kizu_auto_timer->start();
}

void DefectPage::Move(CursorMove move) {
    const bool vertical = move == CursorMove::Up || move == CursorMove::Down;
    QLineEdit* edit = vertical ? kizu_ay : kizu_ax;
    const int from = vertical ? CursorY() : CursorX();
    edit->setText(HexWord(transfer::MoveCursor(move, from, transfer::CursorStep(SpinEdit1->Value()))));
    cursorMoved_ = true;
    StartAutoTimer();
}

void DefectPage::kizu_upClick() { Move(CursorMove::Up); }
void DefectPage::kizu_downClick() { Move(CursorMove::Down); }
void DefectPage::kizu_leftClick() { Move(CursorMove::Left); }
void DefectPage::kizu_rightClick() { Move(CursorMove::Right); }

void DefectPage::Shape1MouseUp(int x, int y) {
    // Clamped to the picture: a release beyond its edge gives the edge.
    const transfer::CursorPoint p =
        transfer::PictureToSensor(x, y, Shape1->width(), Shape1->height(), host_.Engine().Geometry());
    kizu_ax->setText(HexWord(p.x));
    kizu_ay->setText(HexWord(p.y));
    cursorMoved_ = true;
    StartAutoTimer();
}

void DefectPage::kizu_auto_timerTimer() {
    if (kizu_auto_timer != nullptr) kizu_auto_timer->stop();
    kizu_xy_set();
}

void DefectPage::kizu_xy_set() {
    // The user's last move goes out once the link is free, with the position of then.
    if (Busy(kizu_ax, [this] { kizu_xy_set(); })) return;
    const int i = Kizu_abc->ItemIndex();
    {
        DefectLockState::Hold hold(host_.Engine().Defect());
        if (i >= 0) {
            Rows(i).x->setText(kizu_ax->text());
            Rows(i).y->setText(kizu_ay->text());
        }
    }
    cursorMoved_ = false;
    Send(transfer::CursorPositionCommand(i, CursorX(), CursorY(), kizu_sel->isChecked()));
}

void DefectPage::kizu_selClick() {
    if (!Idle()) return;  // the box or the choice keeps its new state; nothing is sent or copied
    const int i = Kizu_abc->ItemIndex();
    Send(transfer::CursorDisplayCommand(i, kizu_sel->isChecked()));
    DefectLockState::Hold hold(host_.Engine().Defect());
    if (i >= 0) {
        kizu_ax->setText(Rows(i).x->text());
        kizu_ay->setText(Rows(i).y->text());
    }
}

bool DefectPage::kizu_upKeyPress(QChar key) {
    if (key.unicode() > 0x7F) return false;
    switch (transfer::CursorKeyFor(key.toLatin1())) {
        case transfer::CursorKey::Up: kizu_upClick(); return true;
        case transfer::CursorKey::Down: kizu_downClick(); return true;
        case transfer::CursorKey::Left: kizu_leftClick(); return true;
        case transfer::CursorKey::Right: kizu_rightClick(); return true;
        case transfer::CursorKey::ToggleDisplay: kizu_sel->toggle(); return true;  // runs kizu_selClick
        case transfer::CursorKey::None: return false;
    }
    return false;
}

bool DefectPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (text.size() == 1) {
            bool handled = false;
            host_.Guard([&] { handled = kizu_upKeyPress(text.at(0)); });
            if (handled) return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void DefectPage::PlaceCursorDot() {
    const transfer::CursorPoint p =
        transfer::DotPosition(CursorX(), CursorY(), Shape1->width(), Shape1->height(), host_.Engine().Geometry());
    const QPoint place = Shape1->pos() + QPoint(p.x, p.y);
    // Every reply asks; most leave the dot where it is.
    if (place == Shape2->pos() && Shape2->isVisibleTo(Shape2->parentWidget())) return;
    Shape2->hide();
    Shape2->move(place);
    Shape2->show();
    Shape2->raise();
}

}  // namespace tern::defect
