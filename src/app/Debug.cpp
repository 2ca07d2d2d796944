// The Debug page: single DSP registers and EEPROM words, OSD test data, a
// raw command, the preset store and the camera's own menu keys. Every action
// is one command frame, sent only while the link is idle.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/DebugCommands.h"
#include "app/DspRegisters.h"
#include "app/Fonts.h"
#include "app/MTern.h"
#include "app/Make.h"
#include "widgets/HexEdit.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinButton.h"

namespace tern::app {

using widgets::TCSpinButton;
using widgets::THexEdit;
using widgets::TRadioGroup;

namespace {

using make::Button;
using make::Group;

QLabel* Caption(const QString& text, QWidget* parent) { return new QLabel(text, parent); }

std::string Std(const QString& s) { return s.toStdString(); }

}  // namespace

void TFTern::BuildDebugPage(QWidget* sheet) {
    auto* page = new QGridLayout(sheet);

    // DSP registers
    auto* dsp = Group("GroupBox3", " DSP", sheet);
    GroupBox3 = dsp;
    DspAdr = new QComboBox(dsp);
    DspAdr->setObjectName("DspAdr");
    DspAdr->setFont(FixedBoldFont());
    auto* list = new QListView(DspAdr);
    list->setFont(FixedBoldFont());
    list->setStyleSheet("QListView::item { height: 16px; }");
    DspAdr->setView(list);
    DspAdr->setMaxVisibleItems(20);
    for (const char* name : kDspRegisterNames) DspAdr->addItem(QString::fromLatin1(name));
    DspAdr->setCurrentIndex(-1);  // no register chosen
    DspAdr->setMinimumWidth(230);
    DspData = new THexEdit("DspData", "Data", debug::kHexFieldLength, dsp);
    DspRadix = new THexEdit("DspRadix", "FFFF", debug::kHexFieldLength, dsp);
    DspDatSpin = new TCSpinButton("DspDatSpin", dsp);
    NoWrite = new QCheckBox("NoWrite(EEP)", dsp);
    NoWrite->setObjectName("NoWrite");
    for (QLineEdit* e : {static_cast<QLineEdit*>(DspData), static_cast<QLineEdit*>(DspRadix)}) {
        e->setFixedSize(48, 22);
    }
    DspAdr->setMinimumHeight(22);
    auto* dspGrid = new QGridLayout(dsp);
    dspGrid->addWidget(DspAdr, 0, 0, 1, 4);
    dspGrid->addWidget(Caption("Data", dsp), 1, 0);
    dspGrid->addWidget(DspData, 1, 1);
    dspGrid->addWidget(DspDatSpin, 1, 2);
    dspGrid->addWidget(Caption("Mask", dsp), 2, 0);
    dspGrid->addWidget(DspRadix, 2, 1);
    dspGrid->addWidget(NoWrite, 3, 0, 1, 4);
    dspGrid->setColumnStretch(3, 1);

    // EEPROM words
    auto* eep = Group("GroupBox4", "EEPROM", sheet);
    GroupBox4 = eep;
    eepadr = new THexEdit("eepadr", "0000", debug::kHexFieldLength, eep);
    Eepdata = new THexEdit("Eepdata", "Data", debug::kHexFieldLength, eep);
    CSpinButton6 = new TCSpinButton("CSpinButton6", eep);
    CSpinButton7 = new TCSpinButton("CSpinButton7", eep);
    EEP_RAM = new QCheckBox("&& RAM", eep);  // shows "& RAM"
    EEP_RAM->setObjectName("EEP_RAM");
    for (QLineEdit* e : {static_cast<QLineEdit*>(eepadr), static_cast<QLineEdit*>(Eepdata)}) e->setFixedSize(48, 22);
    auto* eepGrid = new QGridLayout(eep);
    eepGrid->addWidget(Caption("Address", eep), 0, 0);
    eepGrid->addWidget(eepadr, 0, 1);
    eepGrid->addWidget(CSpinButton6, 0, 2);
    eepGrid->addWidget(Caption("Data", eep), 1, 0);
    eepGrid->addWidget(Eepdata, 1, 1);
    eepGrid->addWidget(CSpinButton7, 1, 2);
    eepGrid->addWidget(EEP_RAM, 2, 0, 1, 3);
    eepGrid->setColumnStretch(3, 1);

    // OSD test data
    auto* osdBox = new QWidget(sheet);
    auto* osdRow = new QHBoxLayout(osdBox);
    osdRow->setContentsMargins(0, 0, 0, 0);
    OSD = new TRadioGroup("OSD", "OSD", {"8bit", "16bit"}, osdBox);
    osdt = new THexEdit("osdt", "osdt", debug::kHexFieldLength, osdBox);
    osdt->setFixedSize(48, 22);
    osdRow->addWidget(OSD);
    osdRow->addWidget(osdt);
    osdRow->addStretch();

    // raw command
    auto* cmd = Group("GroupBox7", "Command", sheet);
    GroupBox7 = cmd;
    Label5 = new QLabel("+0  +1  +2  +3  +4  +5  +6  +7  +8  ", cmd);
    Label5->setObjectName("Label5");
    SendBuffer = new QLineEdit("SendBuffer", cmd);
    SendBuffer->setObjectName("SendBuffer");
    QFont fixed = FixedBoldFont();
    fixed.setBold(false);
    Label5->setFont(fixed);
    SendBuffer->setFont(fixed);
    RamSend = Button("RamSend", "Send", cmd);
    auto* cmdGrid = new QGridLayout(cmd);
    cmdGrid->addWidget(Label5, 0, 0);
    cmdGrid->addWidget(SendBuffer, 1, 0);
    cmdGrid->addWidget(RamSend, 1, 1);
    cmdGrid->setColumnStretch(0, 1);

    PresetSave = Button("PresetSave", "PresetSave", sheet);

    // the camera's menu keys, laid out as a cross
    auto* keys = new QWidget(sheet);
    keys->setObjectName("MenuKeys");
    auto* cross = new QGridLayout(keys);
    push_up = Button("push_up", "UP", keys);
    push_dn = Button("push_dn", "DOWN", keys);
    push_l = Button("push_l", "LEFT", keys);
    push_r = Button("push_r", "RIGHT", keys);
    push_ent = Button("push_ent", "ENTER", keys);
    cross->addWidget(push_up, 0, 1);
    cross->addWidget(push_l, 1, 0);
    cross->addWidget(push_ent, 1, 1);
    cross->addWidget(push_r, 1, 2);
    cross->addWidget(push_dn, 2, 1);
    for (QPushButton* b : {push_up, push_dn, push_l, push_r, push_ent}) {
        b->setMinimumWidth(64);
        b->installEventFilter(this);
    }

    page->addWidget(dsp, 0, 0);
    page->addWidget(eep, 0, 1);
    page->addWidget(keys, 0, 2, 2, 1, Qt::AlignTop);
    page->addWidget(osdBox, 1, 0);
    page->addWidget(PresetSave, 1, 1, Qt::AlignLeft | Qt::AlignVCenter);
    page->addWidget(cmd, 2, 0, 1, 3);
    page->setRowStretch(3, 1);
    page->setColumnStretch(3, 1);

    ConnectDebugPage();
}

void TFTern::ConnectDebugPage() {
    // Change events come from the value signals, so a change made from code
    // (a read answer, a spin step) raises the same handler as typing does.
    auto on = [this](auto* sender, auto signal, void (TFTern::*handler)()) {
        connect(sender, signal, this, [this, handler] { Guard([this, handler] { (this->*handler)(); }); });
    };
    on(DspAdr, &QComboBox::currentIndexChanged, &TFTern::DspAdrChange);
    on(DspData, &QLineEdit::textChanged, &TFTern::DspDataChange);
    on(DspRadix, &QLineEdit::textChanged, &TFTern::DspRadixChange);
    on(DspDatSpin, &TCSpinButton::OnUpClick, &TFTern::DspDatSpinUpClick);
    on(DspDatSpin, &TCSpinButton::OnDownClick, &TFTern::DspDatSpinDownClick);
    on(eepadr, &QLineEdit::textChanged, &TFTern::eepadrChange);
    on(Eepdata, &QLineEdit::textChanged, &TFTern::EepdataChange);
    on(CSpinButton6, &TCSpinButton::OnUpClick, &TFTern::CSpinButton6UpClick);
    on(CSpinButton6, &TCSpinButton::OnDownClick, &TFTern::CSpinButton6DownClick);
    on(CSpinButton7, &TCSpinButton::OnUpClick, &TFTern::CSpinButton7UpClick);
    on(CSpinButton7, &TCSpinButton::OnDownClick, &TFTern::CSpinButton7DownClick);
    on(osdt, &QLineEdit::textChanged, &TFTern::osdtChange);
    on(RamSend, &QPushButton::clicked, &TFTern::RamSendClick);
    on(PresetSave, &QPushButton::clicked, &TFTern::PresetSaveClick);
    on(push_up, &QPushButton::clicked, &TFTern::push_upClick);
    on(push_dn, &QPushButton::clicked, &TFTern::push_dnClick);
    on(push_l, &QPushButton::clicked, &TFTern::push_lClick);
    on(push_r, &QPushButton::clicked, &TFTern::push_rClick);
    on(push_ent, &QPushButton::clicked, &TFTern::push_entClick);
}

void TFTern::SendWhenIdle(const link::Payload& p, int n) {
    if (!link_->Trans_chk()) return;
    link_->StxCommand(p, n);
}

// ---- DSP registers -------------------------------------------------------------

void TFTern::DspAdrChange() {
    if (DspAdr->currentIndex() < 0) return;
    const QString item = DspAdr->currentText();
    if (item.size() < 2) return;
    const int reg = link::HexPairValue(item.at(0).toLatin1(), item.at(1).toLatin1());
    if (reg < 0) return;
    SendWhenIdle(debug::DspRead(reg), 3);
}

void TFTern::DspDataChange() {
    if (!link_->Trans_chk()) return;
    if (dspDataSkip_) {
        // The text is the camera's own answer: nothing to write back.
        dspDataSkip_ = false;
        return;
    }
    if (DspAdr->currentIndex() < 0) return;
    const auto value = debug::CompleteHexValue(Std(DspData->text()));
    if (!value) return;
    const QString item = DspAdr->currentText();
    const int reg = link::HexPairValue(item.at(0).toLatin1(), item.at(1).toLatin1());
    link_->StxCommand(debug::DspWrite(reg, *value, NoWrite->isChecked()), 5);
    PageControl1->setEnabled(true);
    DspData->setFocus();
}

void TFTern::DspRadixChange() {
    const QString text = DspRadix->text();
    if (text.size() != debug::kHexFieldLength) return;
    const auto value = debug::CompleteHexValue(Std(text));
    DspRadix->setText(QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(value.value_or(0xFFFF)))));
}

static void StepDsp(TFTern& w, bool up) {
    if (w.DspAdr->currentIndex() < 0) return;
    const auto value = debug::CompleteHexValue(Std(w.DspData->text()));
    if (!value) return;  // "Data" or a half-typed value: nothing to step
    long mask = link::HexTextValue(Std(w.DspRadix->text()));
    if (mask < 0) mask = 0xFFFF;
    const int next = debug::MaskedStep(*value, static_cast<int>(mask), up);
    w.DspData->setText(QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(next))));
}

void TFTern::DspDatSpinUpClick() { StepDsp(*this, true); }
void TFTern::DspDatSpinDownClick() { StepDsp(*this, false); }

// ---- EEPROM words ----------------------------------------------------------------

void TFTern::eepadrChange() {
    if (!link_->Trans_chk()) return;
    const auto text = Std(eepadr->text());
    if (!debug::CompleteHexValue(text)) return;
    const auto address = debug::EepromAddress(text);
    if (!address) return;  // beyond the 512 words
    link_->StxCommand(debug::EepRead(*address), 4);
}

void TFTern::EepdataChange() {
    if (!link_->Trans_chk()) return;
    if (eepDataSkip_) {
        eepDataSkip_ = false;
        return;
    }
    const auto value = debug::CompleteHexValue(Std(Eepdata->text()));
    if (!value) return;
    const auto address = debug::EepromAddress(Std(eepadr->text()));
    if (!address) return;
    link_->StxCommand(debug::EepWrite(*address, *value, EEP_RAM->isChecked()), 6);
}

static void StepAddress(TFTern& w, bool up) {
    const auto address = debug::CompleteHexValue(Std(w.eepadr->text()));
    if (!address) return;
    w.eepadr->setText(QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(debug::StepEepromAddress(*address, up)))));
}

static void StepWord(TFTern& w, bool up) {
    if (!debug::EepromAddress(Std(w.eepadr->text()))) return;
    const auto value = debug::CompleteHexValue(Std(w.Eepdata->text()));
    if (!value) return;
    const int next = (*value + (up ? 1 : -1)) & 0xFFFF;
    w.Eepdata->setText(QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(next))));
}

void TFTern::CSpinButton6UpClick() { StepAddress(*this, true); }
void TFTern::CSpinButton6DownClick() { StepAddress(*this, false); }
void TFTern::CSpinButton7UpClick() { StepWord(*this, true); }
void TFTern::CSpinButton7DownClick() { StepWord(*this, false); }

// ---- OSD, raw command, preset, keys -------------------------------------------------

void TFTern::osdtChange() {
    if (!link_->Trans_chk()) return;
    const auto value = debug::CompleteHexValue(Std(osdt->text()));
    if (!value) return;
    int n = 0;
    const link::Payload p = debug::OsdData(*value, OSD->ItemIndex() == 1, n);
    link_->StxCommand(p, n);
}

void TFTern::RamSendClick() { SendWhenIdle(debug::ParseSendBuffer(Std(SendBuffer->text())), 15); }

void TFTern::PresetSaveClick() { SendWhenIdle(debug::PresetSave(), 3); }

void TFTern::push_upClick() { link_->SW_push(debug::kKeyUp); }
void TFTern::push_dnClick() { link_->SW_push(debug::kKeyDown); }
void TFTern::push_lClick() { link_->SW_push(debug::kKeyLeft); }
void TFTern::push_rClick() { link_->SW_push(debug::kKeyRight); }
void TFTern::push_entClick() { link_->SW_push(debug::kKeyEnter); }

bool TFTern::push_upKeyPress(QWidget* sender, QChar key) {
    const bool keyButton = sender == push_up || sender == push_dn || sender == push_l || sender == push_r ||
                           sender == push_ent;
    if (!keyButton || key.unicode() > 0x7F) return false;
    const int menuKey = debug::MenuKeyForChar(key.toLatin1());
    if (menuKey < 0) return false;
    link_->SW_push(static_cast<std::uint8_t>(menuKey));
    return true;
}

}  // namespace tern::app
