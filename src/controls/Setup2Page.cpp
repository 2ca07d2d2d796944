#include "controls/Setup2Page.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "controls/PageParts.h"
#include "link/link.h"
#include "transfer/Decode.h"
#include "widgets/Apply.h"
#include "widgets/Make.h"
#include "widgets/PageHost.h"
#include "widgets/RadioGroup.h"

namespace tern::controls {

using transfer::Control;
using widgets::TRadioGroup;
using widgets::make::Button;
using widgets::make::Group;

Setup2Page::Setup2Page(QWidget* sheet, widgets::PageHost& host)
    : QObject(sheet), host_(host), send_(host) {
    setObjectName("Setup2Page");
    Build(sheet);
    Connect();
}

// ---- layout ----------------------------------------------------------------------------------

void Setup2Page::Build(QWidget* sheet) {
    auto* box = new QVBoxLayout(sheet);
    box->setContentsMargins(0, 0, 0, 0);
    Panel5 = new QFrame(sheet);
    Panel5->setObjectName("Panel5");
    box->addWidget(Panel5);
    QWidget* p = Panel5;

    color_bar = parts::Check("color_bar", "Color bar", p);

    KneeGrp = Group("KneeGrp", "High light set", p);
    knee_lvl = parts::Bar("knee_lvl", 0, 18, KneeGrp);
    parts::Row(parts::Grid(KneeGrp), 0, "LEVEL ", knee_lvl, KneeGrp);

    gamma = parts::Radio("gamma", "Gamma", {"0.45", "1.00"}, p);

    ApcGrp = Group("ApcGrp", "APC", p);
    apc_pre = Button("apc_pre", "Preset", ApcGrp);
    enh_h = parts::Bar("enh_h", 0, 18, ApcGrp);
    enh_v = parts::Bar("enh_v", 0, 18, ApcGrp);
    {
        auto* g = parts::Grid(ApcGrp);
        g->addWidget(apc_pre, 0, 0, 1, 2, Qt::AlignLeft);
        parts::Row(g, 1, "H-Gain ", enh_h, ApcGrp);
        parts::Row(g, 2, "V-Gain ", enh_v, ApcGrp);
    }

    MotionGrp = Group("MotionGrp", "Motion detect", p);
    MoDetect = parts::Radio("MoDetect", {}, {"OFF", "ON"}, MotionGrp);
    MoLv = parts::Bar("MoLv", 0, 8, MotionGrp);
    MoTime = parts::Radio("MoTime", "Timer select", {"10sec", "30sec", "60sec"}, MotionGrp);
    MoPre = parts::Check("MoPre", "Area Preset  ", MotionGrp);
    AreaGrp = Group("AreaGrp", "Area", MotionGrp);
    MoArea2 = parts::CellGrid("MoArea2", Control::MoArea, MoCheck, AreaGrp);
    {
        auto* a = new QHBoxLayout(AreaGrp);
        a->setContentsMargins(8, 4, 8, 6);
        a->addStretch();
        a->addWidget(MoArea2);
        a->addStretch();
        auto* g = parts::Grid(MotionGrp);
        g->addWidget(MoDetect, 0, 0, 1, 2);
        parts::Row(g, 1, "LEVEL ", MoLv, MotionGrp);
        g->addWidget(MoTime, 2, 0, 1, 2);
        g->addWidget(MoPre, 3, 0, 1, 2);
        g->addWidget(AreaGrp, 4, 0, 1, 2);
    }

    preset2 = Button("preset2", "PRESET", p);
    save2 = Button("save2", "SAVE", p);
    exitbtn2 = Button("exitbtn2", "EXIT", p);

    auto* page = new QGridLayout(Panel5);
    page->setContentsMargins(6, 4, 6, 6);
    page->setHorizontalSpacing(12);
    page->setVerticalSpacing(4);
    auto* left = new QVBoxLayout;
    left->setSpacing(6);
    left->addWidget(color_bar);
    left->addWidget(KneeGrp);
    left->addWidget(gamma);
    left->addWidget(ApcGrp);
    left->addStretch();
    page->addLayout(left, 0, 0);
    auto* right = new QVBoxLayout;
    right->addWidget(MotionGrp);
    right->addStretch();
    page->addLayout(right, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {preset2, save2, exitbtn2}) {
        b->setMinimumWidth(64);
        buttons->addWidget(b);
    }
    page->addLayout(buttons, 1, 0, 1, 3);
    page->setColumnStretch(0, 2);
    page->setColumnStretch(1, 2);
    page->setColumnStretch(2, 1);
    page->setRowStretch(0, 1);
}

void Setup2Page::Connect() {
    auto on = [this](auto* sender, auto signal, void (Setup2Page::*handler)()) {
        connect(sender, signal, this, [this, handler] { host_.Guard([this, handler] { (this->*handler)(); }); });
    };
    on(color_bar, &QCheckBox::toggled, &Setup2Page::color_barClick);
    on(knee_lvl, &QSlider::valueChanged, &Setup2Page::knee_lvlChange);
    on(gamma, &TRadioGroup::Click, &Setup2Page::gammaClick);
    on(apc_pre, &QPushButton::clicked, &Setup2Page::apc_preClick);
    on(enh_h, &QSlider::valueChanged, &Setup2Page::enh_hChange);
    on(enh_v, &QSlider::valueChanged, &Setup2Page::enh_vChange);
    on(MoDetect, &TRadioGroup::Click, &Setup2Page::MoDetectClick);
    on(MoLv, &QSlider::valueChanged, &Setup2Page::MoLvChange);
    on(MoTime, &TRadioGroup::Click, &Setup2Page::MoTimeClick);
    on(MoPre, &QCheckBox::toggled, &Setup2Page::MoPreClick);
    for (QCheckBox* cell : MoCheck) on(cell, &QCheckBox::toggled, &Setup2Page::MoCheck01Click);
    on(preset2, &QPushButton::clicked, &Setup2Page::PresetClick);
    on(save2, &QPushButton::clicked, &Setup2Page::SaveClick);
    connect(exitbtn2, &QPushButton::clicked, this, &Setup2Page::ExitRequested);

    // The user's own signals (as on Setup1): a change that found the link
    // busy goes out once it is free.
    auto user = [this](auto* control, auto signal, Control c, void (Setup2Page::*handler)()) {
        send_.OnUser(this, control, signal, c, handler);
    };
    user(color_bar, &QCheckBox::clicked, Control::color_bar, &Setup2Page::color_barClick);
    user(gamma, &TRadioGroup::UserClick, Control::gamma, &Setup2Page::gammaClick);
    user(MoDetect, &TRadioGroup::UserClick, Control::MoDetect, &Setup2Page::MoDetectClick);
    user(MoTime, &TRadioGroup::UserClick, Control::MoTime, &Setup2Page::MoTimeClick);
    user(MoPre, &QCheckBox::clicked, Control::MoPre, &Setup2Page::MoPreClick);
    for (QCheckBox* cell : MoCheck) user(cell, &QCheckBox::clicked, Control::MoArea, &Setup2Page::MoAreaSend);
    auto userBar = [this](QSlider* bar, Control c, QTimer* const* timer) { send_.OnUserBar(this, bar, c, timer); };
    userBar(knee_lvl, Control::knee_lvl, &kneeTimer);
    userBar(enh_h, Control::enh_h, &enh_h_timer);
    userBar(enh_v, Control::enh_v, &enh_v_timer);
    userBar(MoLv, Control::MoLv, &MoLvtimer);

    auto timer = [this](const char* name, void (Setup2Page::*handler)()) {
        return host_.ConnectTimer(name, [this, handler] { (this->*handler)(); });
    };
    kneeTimer = timer("kneeTimer", &Setup2Page::kneeTimerTimer);
    enh_h_timer = timer("enh_h_timer", &Setup2Page::enh_h_timerTimer);
    enh_v_timer = timer("enh_v_timer", &Setup2Page::enh_v_timerTimer);
    MoLvtimer = timer("MoLvtimer", &Setup2Page::MoLvtimerTimer);
}

// ---- handlers ------------------------------------------------------------------------------------

void Setup2Page::color_barClick() { send_.SendNow(Control::color_bar, color_bar->isChecked() ? 1 : 0); }
void Setup2Page::gammaClick() { send_.SendNow(Control::gamma, gamma->ItemIndex()); }
void Setup2Page::apc_preClick() {
    if (!send_.Idle()) return send_.Button(Control::apc_pre, [this] { apc_preClick(); });
    send_.SendNow(Control::apc_pre, 0);
}
void Setup2Page::MoDetectClick() { send_.SendNow(Control::MoDetect, MoDetect->ItemIndex()); }
void Setup2Page::MoTimeClick() { send_.SendNow(Control::MoTime, MoTime->ItemIndex()); }
void Setup2Page::MoPreClick() { send_.SendNow(Control::MoPre, MoPre->isChecked() ? 1 : 0); }
void Setup2Page::SaveClick() {
    if (!send_.Idle()) return send_.Button(Control::save2, [this] { SaveClick(); });
    send_.SendNow(Control::save2, 0);
}

void Setup2Page::PresetClick() {
    if (!send_.Idle()) return send_.Button(Control::preset2, [this] { PresetClick(); });
    send_.SendNow(Control::preset2, 0);
    host_.Link().Lock_on();  // as on Setup1: the lock ends once block 4 is read back
}

void Setup2Page::knee_lvlChange() { send_.Arm(Control::knee_lvl, kneeTimer); }
void Setup2Page::enh_hChange() { send_.Arm(Control::enh_h, enh_h_timer); }
void Setup2Page::enh_vChange() { send_.Arm(Control::enh_v, enh_v_timer); }
void Setup2Page::MoLvChange() { send_.Arm(Control::MoLv, MoLvtimer); }

void Setup2Page::kneeTimerTimer() {
    if (send_.Fire(Control::knee_lvl, kneeTimer)) send_.Send(*transfer::CommandFor(Control::knee_lvl, knee_lvl->value()));
}

void Setup2Page::enh_h_timerTimer() {
    if (send_.Fire(Control::enh_h, enh_h_timer)) send_.Send(*transfer::CommandFor(Control::enh_h, enh_h->value()));
}

void Setup2Page::enh_v_timerTimer() {
    if (send_.Fire(Control::enh_v, enh_v_timer)) send_.Send(*transfer::CommandFor(Control::enh_v, enh_v->value()));
}

void Setup2Page::MoLvtimerTimer() {
    if (send_.Fire(Control::MoLv, MoLvtimer)) send_.Send(*transfer::CommandFor(Control::MoLv, MoLv->value()));
}

// ---- the motion area ------------------------------------------------------------------------------

void Setup2Page::MoCheck01Click() {
    if (send_.IdleFor(Control::MoArea)) MoAreaSend();
}

void Setup2Page::MoAreaSend() {
    if (!send_.IdleFor(Control::MoArea)) return;
    send_.Send(transfer::GridCommand(Control::MoArea, parts::CellsOf(MoCheck)));
}

void Setup2Page::MotionSet(const link::Reply& reply) {
    // The engine's decoding of block 5, less gamma, which the caller sets after.
    link::Payload read{};
    read[1] = link::kGroupRead;
    read[2] = link::kItemBlock;
    read[3] = 5;
    const transfer::DecodedReply d = transfer::DecodeReply(reply, read, transfer::MaskVideo{});
    for (const transfer::ControlUpdate& u : d.updates) {
        if (u.control != "gamma") widgets::ApplyUpdate(Panel5, u);
    }
}

// ---- replies ----------------------------------------------------------------------------------------

void Setup2Page::Trans_end_setup2() {
    const link::Reply reply(host_.Link().RecvFrame());
    switch (transfer::SetupReplyAction(reply, true)) {
        case transfer::SetupAction::Reload: host_.ReLoadClick(); break;
        case transfer::SetupAction::ReReadBlock6: {
            // The gains went back to their preset: read them, under LoadGuard when they come.
            const transfer::SettingCommand read = transfer::BlockReadCommand(6);
            host_.Link().StxCommand(read.payload, read.n);
            break;
        }
        case transfer::SetupAction::Refused: emit SyncRefused(); break;
        case transfer::SetupAction::ShowError:
            host_.ShowMessage(std::string(transfer::kErrorText), std::string(transfer::kErrorCaption));
            break;
        case transfer::SetupAction::None: break;
    }
}

}  // namespace tern::controls
