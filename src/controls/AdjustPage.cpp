#include "controls/AdjustPage.h"

#include <QCheckBox>
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

#include "link/link.h"
#include "transfer/Decode.h"
#include "transfer/Engine.h"
#include "widgets/HexEdit.h"
#include "widgets/Make.h"
#include "widgets/PageHost.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinButton.h"

namespace tern::controls {

using transfer::Control;
using widgets::TCSpinButton;
using widgets::THexEdit;
using widgets::TRadioGroup;
using widgets::make::Button;
using widgets::make::Group;
using widgets::make::Label;

namespace {

std::string Std(const QString& s) { return s.toStdString(); }

constexpr int kHueTickEvery = 16;

}  // namespace

AdjustPage::AdjustPage(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host), sender_(host) {
    setObjectName("AdjustPage");
    auto* box = new QVBoxLayout(sheet);
    box->setContentsMargins(0, 0, 0, 0);
    Panel3 = new QFrame(sheet);
    Panel3->setObjectName("Panel3");
    box->addWidget(Panel3);

    auto* page = new QGridLayout(Panel3);
    page->setContentsMargins(12, 12, 12, 12);
    page->setHorizontalSpacing(16);
    auto* wb = new QWidget(Panel3);
    BuildWhiteBalance(wb);
    auto* lens = new QWidget(Panel3);
    BuildLens(lens);
    auto* hidden = new QWidget(Panel3);
    BuildHidden(hidden);
    page->addWidget(wb, 0, 0, Qt::AlignTop);
    page->addWidget(lens, 0, 1, Qt::AlignTop);
    page->addWidget(hidden, 1, 0, 1, 3, Qt::AlignTop | Qt::AlignLeft);
    page->setRowStretch(2, 1);
    page->setColumnStretch(2, 1);

    TimerRYP = host_.ConnectTimer("TimerRYP", [this] { TimerRYPTimer(); });
    TimerBYP = host_.ConnectTimer("TimerBYP", [this] { TimerBYPTimer(); });
    TimerRYN = host_.ConnectTimer("TimerRYN", [this] { TimerRYNTimer(); });
    TimerBYN = host_.ConnectTimer("TimerBYN", [this] { TimerBYNTimer(); });
    hue_[0] = {Control::RYP, RYP, RYP_DATA, TimerRYP};
    hue_[1] = {Control::BYP, BYP, BYP_DATA, TimerBYP};
    hue_[2] = {Control::RYN, RYN, RYN_DATA, TimerRYN};
    hue_[3] = {Control::BYN, BYN, BYN_DATA, TimerBYN};

    Connect();
}

void AdjustPage::BuildWhiteBalance(QWidget* parent) {
    auto* column = new QVBoxLayout(parent);
    column->setContentsMargins(0, 0, 0, 0);
    auto* group = Group("wb_grp", "W/B Preset", parent);
    wb_sel = new QCheckBox("ATW", group);
    wb_sel->setObjectName("wb_sel");
    pre_32 = Button("pre_32", "ATW->3200K", group);
    pre_56 = Button("pre_56", "ATW->5600K", group);
    pre_awc = Button("pre_awc", "ATW->AWC Preset", group);
    auto* rows = new QVBoxLayout(group);
    rows->addWidget(wb_sel);
    for (QPushButton* b : {pre_32, pre_56, pre_awc}) {
        b->setMinimumWidth(130);
        rows->addWidget(b);
    }
    column->addWidget(group);
}

void AdjustPage::BuildLens(QWidget* parent) {
    auto* column = new QVBoxLayout(parent);
    column->setContentsMargins(0, 0, 0, 0);
    auto* group = Group("dc_lens_grp", "DC Lens ", parent);
    pwm_ref = new THexEdit("pwm_ref", "00", 2, group);
    pwm_ref->setFixedSize(32, 22);
    CSpinButton5 = new TCSpinButton("CSpinButton5", group);
    auto* row = new QHBoxLayout(group);
    row->addWidget(Label("offset_lbl", "Offset ", group));
    row->addWidget(pwm_ref);
    row->addWidget(CSpinButton5);
    row->addStretch();
    column->addWidget(group);

    auto* read = new QHBoxLayout;
    rens_ref_read = Button("rens_ref_read", "Read", parent);
    lens_ref = Label("lens_ref", QString(), parent);
    lens_ref->setMinimumWidth(40);
    read->addWidget(rens_ref_read);
    read->addWidget(lens_ref);
    read->addStretch();
    column->addLayout(read);
}

void AdjustPage::BuildHidden(QWidget* parent) {
    // Part of the page, not shown: the use selectors, the delay nibbles and the hue vectors.
    auto* area = new QGridLayout(parent);
    area->setContentsMargins(0, 0, 0, 0);
    const QStringList use{"Use", "No use"};
    sync_disp_sel = new TRadioGroup("sync_disp_sel", "EXT SYNC", use, parent);
    shut_disp_sel = new TRadioGroup("shut_disp_sel", "Shutter", use, parent);
    Sens_disp_sel = new TRadioGroup("Sens_disp_sel", "Sense up", use, parent);
    Peak_disp_sel = new TRadioGroup("Peak_disp_sel", "Peak", use, parent);
    hvpha_disp_sel = new TRadioGroup("hvpha_disp_sel", "H/V Phase", {"V Phase", "H Phase"}, parent);
    int col = 0;
    for (TRadioGroup* g : {sync_disp_sel, shut_disp_sel, Sens_disp_sel, Peak_disp_sel, hvpha_disp_sel}) {
        area->addWidget(g, 0, col++, Qt::AlignTop);
        g->hide();
    }

    delay_grp = Group("delay_grp", "Delay", parent);
    auto* delays = new QGridLayout(delay_grp);
    const struct {
        THexEdit* AdjustPage::*field;
        TCSpinButton* AdjustPage::*spin;
        const char* name;
        const char* spinName;
    } digits[] = {
        {&AdjustPage::rg_delay, &AdjustPage::CSpinButton1, "rg_delay", "CSpinButton1"},
        {&AdjustPage::rg_width, &AdjustPage::CSpinButton2, "rg_width", "CSpinButton2"},
        {&AdjustPage::shp_delay, &AdjustPage::CSpinButton3, "shp_delay", "CSpinButton3"},
        {&AdjustPage::shd_delay, &AdjustPage::CSpinButton4, "shd_delay", "CSpinButton4"},
    };
    col = 0;
    for (const auto& d : digits) {
        auto* field = new THexEdit(d.name, "0", 1, delay_grp);
        field->setFixedSize(22, 22);
        auto* spin = new TCSpinButton(d.spinName, delay_grp);
        delays->addWidget(Label(QString(), d.name, delay_grp), 0, col, 1, 2);
        delays->addWidget(field, 1, col);
        delays->addWidget(spin, 1, col + 1);
        this->*(d.field) = field;
        this->*(d.spin) = spin;
        col += 2;
    }
    area->addWidget(delay_grp, 1, 0, 1, 2, Qt::AlignTop);
    delay_grp->hide();

    hue_grp = Group("hue_grp", "HUE", parent);
    auto* hues = new QGridLayout(hue_grp);
    const struct {
        QSlider* AdjustPage::*bar;
        QLineEdit* AdjustPage::*data;
        const char* name;
        const char* dataName;
        const char* caption;
    } bars[] = {
        {&AdjustPage::RYP, &AdjustPage::RYP_DATA, "RYP", "RYP_DATA", "RY+"},
        {&AdjustPage::BYP, &AdjustPage::BYP_DATA, "BYP", "BYP_DATA", "BY+"},
        {&AdjustPage::RYN, &AdjustPage::RYN_DATA, "RYN", "RYN_DATA", "RY-"},
        {&AdjustPage::BYN, &AdjustPage::BYN_DATA, "BYN", "BYN_DATA", "BY-"},
    };
    int row = 0;
    for (const auto& b : bars) {
        auto* bar = new QSlider(Qt::Horizontal, hue_grp);
        bar->setObjectName(b.name);
        bar->setRange(-transfer::kHueMax, transfer::kHueMax);
        bar->setTickInterval(kHueTickEvery);
        bar->setTickPosition(QSlider::TicksBelow);
        bar->setMinimumWidth(200);
        auto* data = new QLineEdit(b.caption, hue_grp);
        data->setObjectName(b.dataName);
        data->setEnabled(false);
        data->setFixedWidth(44);
        hues->addWidget(bar, row, 0);
        hues->addWidget(data, row, 1);
        this->*(b.bar) = bar;
        this->*(b.data) = data;
        ++row;
    }
    area->addWidget(hue_grp, 1, 2, 1, 3, Qt::AlignTop);
    hue_grp->hide();
}

void AdjustPage::Connect() {
    // Change events come from the value signals, so a change made from code
    // (a reply being shown, a spin step) raises the same handler as the user.
    auto on = [this](auto* sender, auto signal, void (AdjustPage::*handler)()) {
        connect(sender, signal, this, [this, handler] { host_.Guard([this, handler] { (this->*handler)(); }); });
    };
    on(wb_sel, &QCheckBox::toggled, &AdjustPage::wb_selClick);
    on(pre_32, &QPushButton::clicked, &AdjustPage::pre_32Click);
    on(pre_56, &QPushButton::clicked, &AdjustPage::pre_56Click);
    on(pre_awc, &QPushButton::clicked, &AdjustPage::pre_awcClick);
    on(pwm_ref, &QLineEdit::textChanged, &AdjustPage::pwm_refChange);
    on(CSpinButton5, &TCSpinButton::OnDownClick, &AdjustPage::CSpinButton5DownClick);
    on(CSpinButton5, &TCSpinButton::OnUpClick, &AdjustPage::CSpinButton5UpClick);
    on(rens_ref_read, &QPushButton::clicked, &AdjustPage::rens_ref_readClick);
    on(shut_disp_sel, &TRadioGroup::Click, &AdjustPage::shut_disp_selClick);
    on(sync_disp_sel, &TRadioGroup::Click, &AdjustPage::sync_disp_selClick);
    on(Sens_disp_sel, &TRadioGroup::Click, &AdjustPage::Sens_disp_selClick);
    on(Peak_disp_sel, &TRadioGroup::Click, &AdjustPage::Peak_disp_selClick);
    on(hvpha_disp_sel, &TRadioGroup::Click, &AdjustPage::hvpha_disp_selClick);
    for (THexEdit* field : {rg_delay, rg_width, shp_delay, shd_delay}) {
        on(field, &QLineEdit::textChanged, &AdjustPage::rg_delayChange);
    }
    on(CSpinButton1, &TCSpinButton::OnDownClick, &AdjustPage::CSpinButton1DownClick);
    on(CSpinButton1, &TCSpinButton::OnUpClick, &AdjustPage::CSpinButton1UpClick);
    on(CSpinButton2, &TCSpinButton::OnDownClick, &AdjustPage::CSpinButton2DownClick);
    on(CSpinButton2, &TCSpinButton::OnUpClick, &AdjustPage::CSpinButton2UpClick);
    on(CSpinButton3, &TCSpinButton::OnDownClick, &AdjustPage::CSpinButton3DownClick);
    on(CSpinButton3, &TCSpinButton::OnUpClick, &AdjustPage::CSpinButton3UpClick);
    on(CSpinButton4, &TCSpinButton::OnDownClick, &AdjustPage::CSpinButton4DownClick);
    on(CSpinButton4, &TCSpinButton::OnUpClick, &AdjustPage::CSpinButton4UpClick);
    // The user's own signals (as on the Setup pages): a change of theirs that
    // found the link busy goes out once it is free.
    auto user = [this](auto* control, auto signal, Control c, void (AdjustPage::*handler)()) {
        sender_.OnUser(this, control, signal, c, handler);
    };
    user(wb_sel, &QCheckBox::clicked, Control::wb_sel, &AdjustPage::wb_selClick);
    user(pwm_ref, &QLineEdit::textEdited, Control::pwm_ref, &AdjustPage::pwm_refChange);
    user(CSpinButton5, &TCSpinButton::OnDownClick, Control::pwm_ref, &AdjustPage::pwm_refChange);
    user(CSpinButton5, &TCSpinButton::OnUpClick, Control::pwm_ref, &AdjustPage::pwm_refChange);
    user(shut_disp_sel, &TRadioGroup::UserClick, Control::shut_disp_sel, &AdjustPage::shut_disp_selClick);
    user(sync_disp_sel, &TRadioGroup::UserClick, Control::sync_disp_sel, &AdjustPage::sync_disp_selClick);
    user(Sens_disp_sel, &TRadioGroup::UserClick, Control::Sens_disp_sel, &AdjustPage::Sens_disp_selClick);
    user(Peak_disp_sel, &TRadioGroup::UserClick, Control::Peak_disp_sel, &AdjustPage::Peak_disp_selClick);
    user(hvpha_disp_sel, &TRadioGroup::UserClick, Control::hvpha_disp_sel, &AdjustPage::hvpha_disp_selClick);
    for (THexEdit* field : {rg_delay, rg_width, shp_delay, shd_delay}) {
        user(field, &QLineEdit::textEdited, Control::Delay, &AdjustPage::rg_delayChange);
    }
    for (TCSpinButton* spin : {CSpinButton1, CSpinButton2, CSpinButton3, CSpinButton4}) {
        user(spin, &TCSpinButton::OnDownClick, Control::Delay, &AdjustPage::rg_delayChange);
        user(spin, &TCSpinButton::OnUpClick, Control::Delay, &AdjustPage::rg_delayChange);
    }
    on(RYP, &QSlider::valueChanged, &AdjustPage::RYPChange);
    on(BYP, &QSlider::valueChanged, &AdjustPage::BYPChange);
    on(RYN, &QSlider::valueChanged, &AdjustPage::RYNChange);
    on(BYN, &QSlider::valueChanged, &AdjustPage::BYNChange);
}

void AdjustPage::SendWhenIdle(Control c, const std::optional<transfer::SettingCommand>& cmd) {
    if (cmd) sender_.SendOrKeep(c, *cmd);
}

void AdjustPage::Press(Control c, void (AdjustPage::*handler)()) {
    if (!sender_.Idle()) return sender_.Button(c, [this, handler] { (this->*handler)(); });
    SendWhenIdle(c, transfer::CommandFor(c, 0));
}

// ---- white balance from ATW -----------------------------------------------------------

void AdjustPage::wb_selClick() { SendWhenIdle(Control::wb_sel, transfer::CommandFor(Control::wb_sel, wb_sel->isChecked() ? 1 : 0)); }
void AdjustPage::pre_32Click() { Press(Control::pre_32, &AdjustPage::pre_32Click); }
void AdjustPage::pre_56Click() { Press(Control::pre_56, &AdjustPage::pre_56Click); }
void AdjustPage::pre_awcClick() { Press(Control::pre_awc, &AdjustPage::pre_awcClick); }

// ---- DC lens -------------------------------------------------------------------------------

/// Two hex digits send the offset; a shorter text, or one that is not hex
/// (only code can put such a text there), sends nothing.
void AdjustPage::pwm_refChange() { SendWhenIdle(Control::pwm_ref, transfer::PwmRefCommand(Std(pwm_ref->text()))); }

// The spin steps write the text; its change sends, so they need no idle test of their own.
void AdjustPage::CSpinButton5DownClick() {
    pwm_ref->setText(QString::fromStdString(transfer::PwmRefStep(Std(pwm_ref->text()), false)));
}
void AdjustPage::CSpinButton5UpClick() {
    pwm_ref->setText(QString::fromStdString(transfer::PwmRefStep(Std(pwm_ref->text()), true)));
}

void AdjustPage::rens_ref_readClick() { Press(Control::rens_ref_read, &AdjustPage::rens_ref_readClick); }

// ---- use selectors --------------------------------------------------------------------------

void AdjustPage::SendIndex(Control c, const TRadioGroup* group) {
    // A reply may leave a group without a choice; that is nothing to send.
    if (group->ItemIndex() < 0) return;
    SendWhenIdle(c, transfer::CommandFor(c, group->ItemIndex()));
}

void AdjustPage::shut_disp_selClick() { SendIndex(Control::shut_disp_sel, shut_disp_sel); }
void AdjustPage::sync_disp_selClick() { SendIndex(Control::sync_disp_sel, sync_disp_sel); }
void AdjustPage::Sens_disp_selClick() { SendIndex(Control::Sens_disp_sel, Sens_disp_sel); }
void AdjustPage::Peak_disp_selClick() { SendIndex(Control::Peak_disp_sel, Peak_disp_sel); }
void AdjustPage::hvpha_disp_selClick() { SendIndex(Control::hvpha_disp_sel, hvpha_disp_sel); }

// ---- delay nibbles --------------------------------------------------------------------------

void AdjustPage::rg_delayChange() {
    SendWhenIdle(Control::Delay, transfer::DelayCommand(Std(rg_width->text()), Std(shd_delay->text()), Std(shp_delay->text()),
                                        Std(rg_delay->text())));
}

void AdjustPage::StepDigit(THexEdit* field, bool up) {
    field->setText(QString::fromStdString(transfer::DelayDigitStep(Std(field->text()), up)));
}

void AdjustPage::CSpinButton1DownClick() { StepDigit(rg_delay, false); }
void AdjustPage::CSpinButton1UpClick() { StepDigit(rg_delay, true); }
void AdjustPage::CSpinButton2DownClick() { StepDigit(rg_width, false); }
void AdjustPage::CSpinButton2UpClick() { StepDigit(rg_width, true); }
void AdjustPage::CSpinButton3DownClick() { StepDigit(shp_delay, false); }
void AdjustPage::CSpinButton3UpClick() { StepDigit(shp_delay, true); }
void AdjustPage::CSpinButton4DownClick() { StepDigit(shd_delay, false); }
void AdjustPage::CSpinButton4UpClick() { StepDigit(shd_delay, true); }

// ---- hue vectors ----------------------------------------------------------------------------

AdjustPage::HueBar& AdjustPage::Hue(Control bar) {
    for (HueBar& h : hue_) {
        if (h.control == bar) return h;
    }
    return hue_[0];  // unreachable: only the four bars call here
}

/// Arms the bar's timer, even while a load chain runs (the throttle table
/// says so for the hue bars): a register read that moves the bar is written back once.
void AdjustPage::HueChange(Control bar) { sender_.Arm(bar, Hue(bar).timer); }

void AdjustPage::HueTick(Control bar) {
    HueBar& h = Hue(bar);
    if (!sender_.Fire(bar, h.timer)) return;  // busy: the timer tries again; nothing armed: stopped
    const int position = h.bar->value();
    const int reg = *transfer::HueRegister(bar);
    // The camera's own bits 9..15 come from the register shadow, never from a copy's words.
    auto& shadow = host_.Engine().Registers();
    const int word = transfer::HueWord(shadow[static_cast<std::size_t>(reg)], position);
    shadow[static_cast<std::size_t>(reg)] = word;
    const auto cmd = transfer::HueCommand(bar, word);
    host_.Link().StxCommand(cmd->payload, cmd->n);
    h.data->setText(QString::number(position));
}

void AdjustPage::RYPChange() { HueChange(Control::RYP); }
void AdjustPage::BYPChange() { HueChange(Control::BYP); }
void AdjustPage::RYNChange() { HueChange(Control::RYN); }
void AdjustPage::BYNChange() { HueChange(Control::BYN); }
void AdjustPage::TimerRYPTimer() { HueTick(Control::RYP); }
void AdjustPage::TimerBYPTimer() { HueTick(Control::BYP); }
void AdjustPage::TimerRYNTimer() { HueTick(Control::RYN); }
void AdjustPage::TimerBYNTimer() { HueTick(Control::BYN); }

// ---- replies ----------------------------------------------------------------------------------

void AdjustPage::Trans_end_cstm() {
    link::Link& l = host_.Link();
    link::Payload last;
    for (int i = 1; i <= static_cast<int>(link::kPayloadSize); ++i) last[i] = l.CmdPayload(i);
    const transfer::AdjustAction action =
        transfer::AdjustReplyAction(link::Reply(l.RecvFrame()), last, host_.Engine().Registers());
    switch (action.kind) {
        case transfer::AdjustAction::Kind::None: break;
        case transfer::AdjustAction::Kind::ShowError:
            host_.ShowMessage(std::string(transfer::kErrorText), std::string(transfer::kErrorCaption));
            break;
        case transfer::AdjustAction::Kind::Send:  // the next register of the write-back
            l.StxCommand(action.command.payload, action.command.n);
            break;
        case transfer::AdjustAction::Kind::Reload: host_.ReLoadClick(); break;
        case transfer::AdjustAction::Kind::ShowCopyPage: host_.ShowPage(link::Page::Copy); break;
    }
}

}  // namespace tern::controls
