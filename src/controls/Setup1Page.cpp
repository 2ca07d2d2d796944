#include "controls/Setup1Page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "controls/PageParts.h"
#include "link/link.h"
#include "link/protocol.h"
#include "transfer/Decode.h"
#include "transfer/Engine.h"
#include "widgets/HexEdit.h"
#include "widgets/Make.h"
#include "widgets/PageHost.h"
#include "widgets/RadioGroup.h"

namespace tern::controls {

using transfer::Control;
using widgets::THexEdit;
using widgets::TRadioGroup;
using widgets::make::Button;
using widgets::make::Group;

Setup1Page::Setup1Page(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host), send_(host) {
    setObjectName("Setup1Page");
    Build(sheet);
    Connect();
}

// ---- layout ----------------------------------------------------------------------------------

void Setup1Page::Build(QWidget* sheet) {
    auto* box = new QVBoxLayout(sheet);
    box->setContentsMargins(0, 0, 0, 0);
    Panel4 = new QFrame(sheet);
    Panel4->setObjectName("Panel4");
    box->addWidget(Panel4);
    QWidget* p = Panel4;

    // Camera ID
    CameraIdGrp = Group("CameraIdGrp", "Camera ID", p);
    Ctitle = parts::Radio("Ctitle", {}, {"OFF", "ON"}, CameraIdGrp);
    CName = new QLineEdit(CameraIdGrp);
    CName->setObjectName("CName");
    CName->setMaxLength(transfer::kTitleLength);
    Ctitlepos = parts::Combo("Ctitlepos", {"UpperLeft", "LowerLeft", "UpperRight", "LowerRight"}, CameraIdGrp);
    {
        auto* g = parts::Grid(CameraIdGrp);
        g->addWidget(Ctitle, 0, 0);
        g->addWidget(Ctitlepos, 0, 1, Qt::AlignRight);
        g->addWidget(CName, 1, 0, 1, 2);
    }

    // Zoom
    ZoomGrp = Group("ZoomGrp", "Zoom", p);
    Zoom = parts::Radio("Zoom", {}, {"OFF", "ON"}, ZoomGrp);
    ZoomBar = parts::Bar("ZoomBar", 0, 128, ZoomGrp);
    ZoomBar->setSingleStep(16);
    ZoomBar->setPageStep(16);
    ZoomBar->setTickInterval(16);
    ZoomBar->setTickPosition(QSlider::TicksBelow);
    Zoomlvl = new THexEdit("Zoomlvl", QString(), 2, ZoomGrp);
    Zoomlvl->hide();
    {
        auto* g = parts::Grid(ZoomGrp);
        g->addWidget(Zoom, 0, 0, 1, 2);
        parts::Row(g, 1, "LEVEL", ZoomBar, ZoomGrp);
    }

    // Sense up
    sens_Grp = Group("sens_Grp", "Sense up", p);
    SenseUp = parts::Combo("SenseUp",
                           {"OFF", "x2", "x4", "x6", "x8", "x12", "x16", "x24", "x32", "x48", "x64", "x96", "x128"},
                           sens_Grp);
    {
        auto* g = parts::Grid(sens_Grp);
        g->addWidget(SenseUp, 0, 0);
        g->setColumnStretch(1, 1);
    }
    parts::KeepPlace(sens_Grp);
    sens_Grp->hide();

    // Light control
    LightGrp = Group("LightGrp", "Light control", p);
    Lens = parts::Radio("Lens", {}, {"ALC", "ELC"}, LightGrp);
    Shutter = parts::Combo("Shutter",
                           {"OFF", "1/100", "1/120", "1/180", "1/250", "1/350", "1/500", "1/750", "1/1000", "1/1500",
                            "1/2000", "1/3000", "1/4000", "1/6000", "1/8000", "1/12000"},
                           LightGrp);
    parts::KeepPlace(Shutter);
    Shutter->hide();
    ELCLVL = parts::Bar("ELCLVL", 0, 8, LightGrp);
    PEAK_LVL = parts::Bar("PEAK_LVL", 0, 8, LightGrp);
    PEAK_LVL->hide();
    {
        auto* g = parts::Grid(LightGrp);
        auto* top = new QHBoxLayout;
        top->addWidget(Lens);
        top->addWidget(Shutter);
        top->addStretch();
        g->addLayout(top, 0, 0, 1, 2);
        parts::Row(g, 1, "LEVEL", ELCLVL, LightGrp);
    }

    // BLC, with its 48-cell area
    BlcGrp = Group("BlcGrp", "BLC", p);
    BLC = parts::Radio("BLC", {}, {"OFF", "ON"}, BlcGrp);
    BlcPreset = parts::Check("BlcPreset", "BlcPreset", BlcGrp);
    blc_panel = parts::CellGrid("blc_panel", Control::BLCArea, BLCCheck, BlcGrp);
    {
        auto* g = parts::Grid(BlcGrp);
        g->addWidget(BLC, 0, 0);
        g->addWidget(BlcPreset, 0, 1);
        g->addWidget(blc_panel, 1, 0, 1, 2, Qt::AlignHCenter);
    }

    // AGC
    AgcGrp = Group("AgcGrp", "AGC", p);
    AGC_SEL = parts::Radio("AGC_SEL", {}, {"OFF", "ON", "MANUAL"}, AgcGrp);
    AGC_MAX = parts::Bar("AGC_MAX", 0, 8, AgcGrp);
    AGC_MAN = parts::Bar("AGC_MAN", 0, 8, AgcGrp);
    {
        auto* g = parts::Grid(AgcGrp);
        g->addWidget(AGC_SEL, 0, 0, 1, 2);
        parts::Row(g, 1, "Max", AGC_MAX, AgcGrp);
        parts::Row(g, 2, "Manu", AGC_MAN, AgcGrp);
    }

    // White balance
    WbGrp = Group("WbGrp", "White balance", p);
    wb_select = parts::Radio("wb_select", {}, {"ATW", "AWC", "MANUAL"}, WbGrp);
    AWC = Button("AWC", "PUSH", WbGrp);
    AWC->setFixedWidth(AWC->fontMetrics().horizontalAdvance("PUSH") + 20);
    WB_preset = parts::Radio("WB_preset", "Manual", {"3200", "5600", "User"}, WbGrp);
    WB_preset->layout()->setContentsMargins(4, 2, 2, 2);
    WB_preset->layout()->setSpacing(2);
    Rgain = parts::Bar("Rgain", 0, 8, WbGrp);
    BGain = parts::Bar("BGain", 0, 8, WbGrp);
    {
        auto* g = parts::Grid(WbGrp);
        g->addWidget(wb_select, 0, 0, 1, 3);
        g->addWidget(WB_preset, 1, 0, 1, 2);
        g->addWidget(AWC, 1, 2, Qt::AlignBottom);
        parts::Row(g, 2, "R GAIN", Rgain, WbGrp, 2);
        parts::Row(g, 3, "B GAIN", BGain, WbGrp, 2);
    }

    // Sync
    Sync_grp = Group("Sync_grp", "Sync", p);
    Sync = parts::Radio("Sync", {}, {"INT", "LINE", "VBS"}, Sync_grp);
    v_pha_lvl = parts::Bar("v_pha_lvl", 0, 0, Sync_grp);
    h_pha_lvl = parts::Bar("h_pha_lvl", 0, 0, Sync_grp);
    v_data = widgets::make::Label("v_data", QString(), Sync_grp);
    h_data = widgets::make::Label("h_data", QString(), Sync_grp);
    v_data->hide();
    h_data->hide();
    {
        auto* g = parts::Grid(Sync_grp);
        g->addWidget(Sync, 0, 0, 1, 2);
        parts::Row(g, 1, "V-Phase", v_pha_lvl, Sync_grp);
        parts::Row(g, 2, "H-Phase", h_pha_lvl, Sync_grp);
    }
    parts::KeepPlace(Sync_grp);

    // Masks
    MaskGrp = Group("MaskGrp", "Mask", p);
    MaskA = parts::Check("MaskA", "MaskA", MaskGrp);
    MaskB = parts::Check("MaskB", "MaskB", MaskGrp);
    MaskC = parts::Check("MaskC", "MaskC", MaskGrp);
    MaskD = parts::Check("MaskD", "MaskD", MaskGrp);
    mask = parts::Combo("mask", {"Mask A", "Mask B", "Mask C", "Mask D"}, MaskGrp);
    mask->setCurrentIndex(0);
    {
        auto* g = parts::Grid(MaskGrp);
        g->addWidget(new QLabel("Area check", MaskGrp), 0, 0, 1, 2);
        g->addWidget(MaskA, 1, 0);
        g->addWidget(MaskB, 1, 1);
        g->addWidget(MaskC, 2, 0);
        g->addWidget(MaskD, 2, 1);
        g->addWidget(mask, 1, 2, Qt::AlignRight);
        g->setColumnStretch(2, 1);
    }

    // picture flags and the buttons
    Priority = parts::Radio("Priority", "Priority", {"AGC-Sense", "Sense-AGC"}, p, Qt::Vertical);
    Mirror = parts::Check("Mirror", "H Rev.", p);
    Nega = parts::Check("Nega", "Nega", p);
    v_rev = parts::Check("v_rev", "V Rev.", p);
    Freeze = parts::Check("Freeze", "Freeze", p);
    Frz_type = parts::Radio("Frz_type", "Freeze type", {"Field", "Frame"}, p, Qt::Vertical);
    Save = Button("Save", "SAVE", p);
    Preset = Button("Preset", "PRESET", p);
    exitbtn = Button("exitbtn", "EXIT", p);

    auto* flags = new QWidget(p);
    flags->setObjectName("PictureFlags");
    {
        auto* g = new QGridLayout(flags);
        g->setContentsMargins(4, 0, 0, 0);
        g->setVerticalSpacing(2);
        g->addWidget(Mirror, 0, 0);
        g->addWidget(v_rev, 0, 1);
        g->addWidget(Nega, 1, 0);
        g->addWidget(Freeze, 1, 1);
    }
    auto* buttons = new QWidget(p);
    buttons->setObjectName("Setup1Buttons");
    {
        auto* row = new QHBoxLayout(buttons);
        row->setContentsMargins(0, 0, 0, 0);
        for (QPushButton* b : {Save, Preset, exitbtn}) {
            b->setMinimumWidth(64);
            row->addWidget(b);
        }
    }

    // Three columns: camera ID to light control; BLC and AGC; white balance,
    // sync, masks and the buttons. The picture flags run along the bottom of
    // the first two.
    auto* page = new QGridLayout(Panel4);
    page->setContentsMargins(6, 4, 6, 6);
    page->setHorizontalSpacing(6);
    page->setVerticalSpacing(4);
    page->addLayout(parts::Column({CameraIdGrp, ZoomGrp, sens_Grp, LightGrp}), 0, 0);
    page->addLayout(parts::Column({BlcGrp, AgcGrp}), 0, 1);
    auto* col3 = parts::Column({WbGrp, Sync_grp, MaskGrp});
    col3->addWidget(buttons);
    page->addLayout(col3, 0, 2, 2, 1);
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(6);
    bottom->addWidget(Priority);
    bottom->addWidget(flags, 0, Qt::AlignBottom);
    bottom->addWidget(Frz_type);
    bottom->addStretch();
    page->addLayout(bottom, 1, 0, 1, 2);
    page->setRowStretch(0, 1);
    page->setColumnStretch(2, 1);
}

void Setup1Page::Connect() {
    auto on = [this](auto* sender, auto signal, void (Setup1Page::*handler)()) {
        connect(sender, signal, this, [this, handler] { host_.Guard([this, handler] { (this->*handler)(); }); });
    };
    // Change events come from the value signals, so a value set from code (a
    // read reply) raises the same handler as the user's change does.
    on(Ctitle, &TRadioGroup::Click, &Setup1Page::CtitleClick);
    on(CName, &QLineEdit::textChanged, &Setup1Page::CNameChange);
    on(Ctitlepos, &QComboBox::currentIndexChanged, &Setup1Page::CtitleposChange);
    on(Zoom, &TRadioGroup::Click, &Setup1Page::ZoomClick);
    on(ZoomBar, &QSlider::valueChanged, &Setup1Page::ZoomBarChange);
    on(Zoomlvl, &QLineEdit::textChanged, &Setup1Page::ZoomlvlChange);
    on(Save, &QPushButton::clicked, &Setup1Page::SaveClick);
    on(Preset, &QPushButton::clicked, &Setup1Page::PresetClick);
    on(SenseUp, &QComboBox::currentIndexChanged, &Setup1Page::SenseUpChange);
    on(Mirror, &QCheckBox::toggled, &Setup1Page::MirrorClick);
    on(Nega, &QCheckBox::toggled, &Setup1Page::NegaClick);
    on(Priority, &TRadioGroup::Click, &Setup1Page::PriorityClick);
    on(MaskA, &QCheckBox::toggled, &Setup1Page::MaskAClick);
    on(MaskB, &QCheckBox::toggled, &Setup1Page::MaskBClick);
    on(MaskC, &QCheckBox::toggled, &Setup1Page::MaskCClick);
    on(MaskD, &QCheckBox::toggled, &Setup1Page::MaskDClick);
    // The user's choice, even of the mask already shown, opens the window.
    on(mask, &QComboBox::activated, &Setup1Page::maskChange);
    on(Lens, &TRadioGroup::Click, &Setup1Page::LensClick);
    on(Shutter, &QComboBox::currentIndexChanged, &Setup1Page::ShutterChange);
    on(ELCLVL, &QSlider::valueChanged, &Setup1Page::ELCLVLChange);
    on(PEAK_LVL, &QSlider::valueChanged, &Setup1Page::PEAK_LVLChange);
    on(BLC, &TRadioGroup::Click, &Setup1Page::BLCClick);
    on(BlcPreset, &QCheckBox::toggled, &Setup1Page::BlcPresetClick);
    for (QCheckBox* cell : BLCCheck) on(cell, &QCheckBox::toggled, &Setup1Page::BLCCheck01Click);
    on(AGC_SEL, &TRadioGroup::Click, &Setup1Page::AGC_SELClick);
    on(AGC_MAX, &QSlider::valueChanged, &Setup1Page::AGC_MAXChange);
    on(AGC_MAN, &QSlider::valueChanged, &Setup1Page::AGC_MANChange);
    on(wb_select, &TRadioGroup::Click, &Setup1Page::wb_selectClick);
    on(WB_preset, &TRadioGroup::Click, &Setup1Page::WB_presetClick);
    on(Rgain, &QSlider::valueChanged, &Setup1Page::RgainChange);
    on(BGain, &QSlider::valueChanged, &Setup1Page::BGainChange);
    on(AWC, &QPushButton::clicked, &Setup1Page::AWCClick);
    on(Sync, &TRadioGroup::Click, &Setup1Page::SyncClick);
    on(v_pha_lvl, &QSlider::valueChanged, &Setup1Page::v_pha_lvlChange);
    on(h_pha_lvl, &QSlider::valueChanged, &Setup1Page::h_pha_lvlChange);
    on(v_rev, &QCheckBox::toggled, &Setup1Page::v_revClick);
    on(Freeze, &QCheckBox::toggled, &Setup1Page::FreezeClick);
    on(Frz_type, &TRadioGroup::Click, &Setup1Page::Frz_typeClick);
    connect(exitbtn, &QPushButton::clicked, this, &Setup1Page::ExitRequested);

    // The user's own signals follow the value signals above: a change of
    // theirs that found the link busy goes out once it is free; a throttled
    // control is armed even while a chain runs.
    auto user = [this](auto* control, auto signal, Control c, void (Setup1Page::*handler)()) {
        send_.OnUser(this, control, signal, c, handler);
    };
    user(Ctitle, &TRadioGroup::UserClick, Control::Ctitle, &Setup1Page::CtitleClick);
    user(Ctitlepos, &QComboBox::activated, Control::Ctitlepos, &Setup1Page::CtitleposChange);
    user(Zoom, &TRadioGroup::UserClick, Control::Zoom, &Setup1Page::ZoomClick);
    user(SenseUp, &QComboBox::activated, Control::SenseUp, &Setup1Page::SenseUpChange);
    user(Mirror, &QCheckBox::clicked, Control::Mirror, &Setup1Page::MirrorClick);
    user(Nega, &QCheckBox::clicked, Control::Nega, &Setup1Page::NegaClick);
    user(Priority, &TRadioGroup::UserClick, Control::Priority, &Setup1Page::PriorityClick);
    user(MaskA, &QCheckBox::clicked, Control::MaskA, &Setup1Page::MaskAClick);
    user(MaskB, &QCheckBox::clicked, Control::MaskB, &Setup1Page::MaskBClick);
    user(MaskC, &QCheckBox::clicked, Control::MaskC, &Setup1Page::MaskCClick);
    user(MaskD, &QCheckBox::clicked, Control::MaskD, &Setup1Page::MaskDClick);
    user(Lens, &TRadioGroup::UserClick, Control::Lens, &Setup1Page::LensClick);
    user(Shutter, &QComboBox::activated, Control::Shutter, &Setup1Page::ShutterChange);
    user(BLC, &TRadioGroup::UserClick, Control::BLC, &Setup1Page::BLCClick);
    user(BlcPreset, &QCheckBox::clicked, Control::BlcPreset, &Setup1Page::BlcPresetClick);
    user(AGC_SEL, &TRadioGroup::UserClick, Control::AGC_SEL, &Setup1Page::AGC_SELClick);
    user(wb_select, &TRadioGroup::UserClick, Control::wb_select, &Setup1Page::wb_selectClick);
    user(WB_preset, &TRadioGroup::UserClick, Control::WB_preset, &Setup1Page::WB_presetClick);
    user(Sync, &TRadioGroup::UserClick, Control::Sync, &Setup1Page::SyncClick);
    user(v_rev, &QCheckBox::clicked, Control::v_rev, &Setup1Page::v_revClick);
    user(Freeze, &QCheckBox::clicked, Control::Freeze, &Setup1Page::FreezeClick);
    user(Frz_type, &TRadioGroup::UserClick, Control::Frz_type, &Setup1Page::Frz_typeClick);
    auto userBar = [this](QSlider* bar, Control c, QTimer* const* timer) { send_.OnUserBar(this, bar, c, timer); };
    userBar(ZoomBar, Control::ZoomBar, &ZoomTimer);
    userBar(ELCLVL, Control::ELCLVL, &LensTimer);
    userBar(PEAK_LVL, Control::PEAK_LVL, &PEAKTimer);
    userBar(AGC_MAX, Control::AGC_MAX, &AGCTimer);
    userBar(AGC_MAN, Control::AGC_MAN, &AGCManTimer);
    userBar(Rgain, Control::Rgain, &RTimer);
    userBar(BGain, Control::BGain, &BTimer);
    userBar(v_pha_lvl, Control::v_pha_lvl, &v_pha_timer);
    userBar(h_pha_lvl, Control::h_pha_lvl, &h_pha_timer);
    connect(CName, &QLineEdit::textEdited, this, [this] { send_.UserArm(Control::CName, TitleTimer); });
    for (QCheckBox* cell : BLCCheck) {
        connect(cell, &QCheckBox::clicked, this,
                [this] { send_.UserArm(Control::BLCArea, BLCAreaTimer, BlcPreset->isChecked()); });
    }

    // The window's timers: intervals are the window's, the ticks this page's.
    auto timer = [this](const char* name, void (Setup1Page::*handler)()) {
        return host_.ConnectTimer(name, [this, handler] { (this->*handler)(); });
    };
    TitleTimer = timer("TitleTimer", &Setup1Page::TitleTimerTimer);
    ZoomTimer = timer("ZoomTimer", &Setup1Page::ZoomTimerTimer);
    LensTimer = timer("LensTimer", &Setup1Page::LensTimerTimer);
    PEAKTimer = timer("PEAKTimer", &Setup1Page::PEAKTimerTimer);
    BLCAreaTimer = timer("BLCAreaTimer", &Setup1Page::BLCAreaTimerTimer);
    AGCTimer = timer("AGCTimer", &Setup1Page::AGCTimerTimer);
    AGCManTimer = timer("AGCManTimer", &Setup1Page::AGCManTimerTimer);
    RTimer = timer("RTimer", &Setup1Page::RTimerTimer);
    BTimer = timer("BTimer", &Setup1Page::BTimerTimer);
    AWC_Timer = timer("AWC_Timer", &Setup1Page::AWC_TimerTimer);
    v_pha_timer = timer("v_pha_timer", &Setup1Page::v_pha_timerTimer);
    h_pha_timer = timer("h_pha_timer", &Setup1Page::h_pha_timerTimer);
}

// ---- sending: the idle test and the throttles ---------------------------------------------------------------

void Setup1Page::Arm(Control c, QTimer* timer) {
    send_.Arm(c, timer, BlcPreset != nullptr && BlcPreset->isChecked());
}

// ---- camera ID ----------------------------------------------------------------------------------

void Setup1Page::CtitleClick() { SendNow(Control::Ctitle, Ctitle->ItemIndex()); }

void Setup1Page::CNameChange() { Arm(Control::CName, TitleTimer); }

void Setup1Page::TitleTimerTimer() {
    if (!Fire(Control::CName, TitleTimer)) return;
    Send(transfer::TitleCommand(CName->text().toStdU32String()));
}

void Setup1Page::CtitleposChange() { SendNow(Control::Ctitlepos, Ctitlepos->currentIndex()); }

// ---- zoom: the bar's tick writes Zoomlvl, whose change sends -------------------------------------

void Setup1Page::ZoomClick() { SendNow(Control::Zoom, Zoom->ItemIndex()); }

void Setup1Page::ZoomBarChange() { Arm(Control::ZoomBar, ZoomTimer); }

void Setup1Page::ZoomTimerTimer() {
    if (!Fire(Control::ZoomBar, ZoomTimer)) return;
    Zoomlvl->setText(QString::fromStdString(link::HexByteText(static_cast<std::uint8_t>(ZoomBar->value()))));
}

void Setup1Page::ZoomlvlChange() {
    if (!Idle()) return;
    if (const auto cmd = transfer::ZoomLevelCommand(Zoomlvl->text().toStdString(), Zoom->ItemIndex() == 1)) Send(*cmd);
}

// ---- buttons ------------------------------------------------------------------------------------

void Setup1Page::SaveClick() {
    if (!Idle()) return send_.Button(Control::Save, [this] { SaveClick(); });
    SendNow(Control::Save, 0);
}

void Setup1Page::PresetClick() {
    if (!Idle()) return send_.Button(Control::Preset, [this] { PresetClick(); });
    SendNow(Control::Preset, 0);
    // The page stays locked until the settings read after the camera's preset are back.
    host_.Link().Lock_on();
}

// ---- sense up, picture flags, masks ------------------------------------------------------------------

void Setup1Page::SenseUpChange() { SendNow(Control::SenseUp, SenseUp->currentIndex()); }
void Setup1Page::MirrorClick() { SendNow(Control::Mirror, Mirror->isChecked() ? 1 : 0); }
void Setup1Page::NegaClick() { SendNow(Control::Nega, Nega->isChecked() ? 1 : 0); }
void Setup1Page::PriorityClick() { SendNow(Control::Priority, Priority->ItemIndex()); }
void Setup1Page::MaskAClick() { SendNow(Control::MaskA, MaskA->isChecked() ? 1 : 0); }
void Setup1Page::MaskBClick() { SendNow(Control::MaskB, MaskB->isChecked() ? 1 : 0); }
void Setup1Page::MaskCClick() { SendNow(Control::MaskC, MaskC->isChecked() ? 1 : 0); }
void Setup1Page::MaskDClick() { SendNow(Control::MaskD, MaskD->isChecked() ? 1 : 0); }
void Setup1Page::v_revClick() { SendNow(Control::v_rev, v_rev->isChecked() ? 1 : 0); }
void Setup1Page::FreezeClick() { SendNow(Control::Freeze, Freeze->isChecked() ? 1 : 0); }
void Setup1Page::Frz_typeClick() { SendNow(Control::Frz_type, Frz_type->ItemIndex()); }

void Setup1Page::maskChange() {
    const int m = mask->currentIndex();
    const QCheckBox* on[transfer::kMaskCount] = {MaskA, MaskB, MaskC, MaskD};
    if (m < 0 || m >= transfer::kMaskCount || !on[m]->isChecked()) return;  // a mask switched off is not edited
    emit MaskRequested(m);
}

// ---- light control ---------------------------------------------------------------------------------

void Setup1Page::LensClick() { SendNow(Control::Lens, Lens->ItemIndex()); }
void Setup1Page::ShutterChange() { SendNow(Control::Shutter, Shutter->currentIndex()); }
void Setup1Page::ELCLVLChange() { Arm(Control::ELCLVL, LensTimer); }

void Setup1Page::LensTimerTimer() {
    if (Fire(Control::ELCLVL, LensTimer)) Send(*transfer::CommandFor(Control::ELCLVL, ELCLVL->value()));
}

void Setup1Page::PEAK_LVLChange() { Arm(Control::PEAK_LVL, PEAKTimer); }

void Setup1Page::PEAKTimerTimer() {
    if (Fire(Control::PEAK_LVL, PEAKTimer)) Send(*transfer::CommandFor(Control::PEAK_LVL, PEAK_LVL->value()));
}

// ---- BLC ------------------------------------------------------------------------------------------------

void Setup1Page::BLCClick() { SendNow(Control::BLC, BLC->ItemIndex()); }
void Setup1Page::BlcPresetClick() { SendNow(Control::BlcPreset, BlcPreset->isChecked() ? 1 : 0); }

void Setup1Page::BLCCheck01Click() { Arm(Control::BLCArea, BLCAreaTimer); }

void Setup1Page::BLCAreaTimerTimer() {
    if (Fire(Control::BLCArea, BLCAreaTimer)) Send(transfer::GridCommand(Control::BLCArea, BlcCells()));
}

transfer::GridCells Setup1Page::BlcCells() const { return parts::CellsOf(BLCCheck); }

void Setup1Page::BlcArea_Flags(transfer::GridBytesArray& flags, int direction) {
    if (direction == 0) {
        flags = transfer::GridBytes(BlcCells());
    } else if (direction == 1) {
        parts::SetCells(BLCCheck, transfer::GridCellsOf(std::span<const std::uint8_t, transfer::kGridBytes>(flags)));
    }
}

// ---- AGC --------------------------------------------------------------------------------------------------

void Setup1Page::AGC_SELClick() { SendNow(Control::AGC_SEL, AGC_SEL->ItemIndex()); }
void Setup1Page::AGC_MAXChange() { Arm(Control::AGC_MAX, AGCTimer); }
void Setup1Page::AGC_MANChange() { Arm(Control::AGC_MAN, AGCManTimer); }

void Setup1Page::AGCTimerTimer() {
    if (Fire(Control::AGC_MAX, AGCTimer)) Send(*transfer::CommandFor(Control::AGC_MAX, AGC_MAX->value()));
}

void Setup1Page::AGCManTimerTimer() {
    if (Fire(Control::AGC_MAN, AGCManTimer)) Send(*transfer::CommandFor(Control::AGC_MAN, AGC_MAN->value()));
}

// ---- white balance ---------------------------------------------------------------------------------------

void Setup1Page::wb_selectClick() { SendNow(Control::wb_select, wb_select->ItemIndex()); }
void Setup1Page::WB_presetClick() { SendNow(Control::WB_preset, WB_preset->ItemIndex()); }
void Setup1Page::RgainChange() { Arm(Control::Rgain, RTimer); }
void Setup1Page::BGainChange() { Arm(Control::BGain, BTimer); }

void Setup1Page::RTimerTimer() {
    if (Fire(Control::Rgain, RTimer)) Send(*transfer::CommandFor(Control::Rgain, Rgain->value()));
}

void Setup1Page::BTimerTimer() {
    if (Fire(Control::BGain, BTimer)) Send(*transfer::CommandFor(Control::BGain, BGain->value()));
}

void Setup1Page::AWCClick() {
    if (!Idle()) return send_.Button(Control::AWC, [this] { AWCClick(); });
    Send(*transfer::CommandFor(Control::AWC, 0));
    // The mode cannot change while the camera balances.
    wb_select->setEnabled(false);
    AWC->setEnabled(false);
    AWC_Timer->start();
}

void Setup1Page::AWC_TimerTimer() {
    AWC_Timer->stop();
    wb_select->setEnabled(true);
    AWC->setEnabled(true);
}

// ---- sync and phases ---------------------------------------------------------------------------------------

void Setup1Page::SyncClick() {
    if (syncReset_.Click(send_.IdleFor(Control::Sync))) SendNow(Control::Sync, Sync->ItemIndex());
}

void Setup1Page::SyncRefused() {
    if (syncReset_.Refused(Sync->ItemIndex())) Sync->SetItemIndex(0);  // its click is swallowed
}

void Setup1Page::v_pha_lvlChange() { Arm(Control::v_pha_lvl, v_pha_timer); }
void Setup1Page::h_pha_lvlChange() { Arm(Control::h_pha_lvl, h_pha_timer); }

void Setup1Page::v_pha_timerTimer() {
    if (!Fire(Control::v_pha_lvl, v_pha_timer)) return;
    v_data->setText(QString::fromStdString(transfer::PhaseText(v_pha_lvl->value())));
    Send(*transfer::CommandFor(Control::v_pha_lvl, v_pha_lvl->value()));
}

void Setup1Page::h_pha_timerTimer() {
    if (!Fire(Control::h_pha_lvl, h_pha_timer)) return;
    h_data->setText(QString::fromStdString(transfer::PhaseText(h_pha_lvl->value())));
    Send(*transfer::CommandFor(Control::h_pha_lvl, h_pha_lvl->value()));
}

// ---- replies ------------------------------------------------------------------------------------------------

void Setup1Page::Trans_end_setup1() {
    const link::Reply reply(host_.Link().RecvFrame());
    switch (transfer::SetupReplyAction(reply, false)) {
        case transfer::SetupAction::Reload: host_.ReLoadClick(); break;
        case transfer::SetupAction::Refused: SyncRefused(); break;
        case transfer::SetupAction::ShowError:
            host_.ShowMessage(std::string(transfer::kErrorText), std::string(transfer::kErrorCaption));
            break;
        case transfer::SetupAction::ReReadBlock6:
        case transfer::SetupAction::None: break;
    }
}

}  // namespace tern::controls
