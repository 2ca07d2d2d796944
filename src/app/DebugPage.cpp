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
#include <QKeyEvent>
#include <QVBoxLayout>

#include "app/DspRegisters.h"
#include "widgets/Fonts.h"
#include "app/DebugPage.h"
#include "link/link.h"
#include "transfer/DebugCommands.h"
#include "widgets/Make.h"
#include "widgets/PageHost.h"
#include "widgets/HexEdit.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinButton.h"

namespace tern::app {

namespace debug = transfer::debug;

using widgets::TCSpinButton;
using widgets::THexEdit;
using widgets::TRadioGroup;

namespace {

using widgets::make::Button;
using widgets::make::Group;

QLabel* Caption(const QString& text, QWidget* parent) { return new QLabel(text, parent); }

std::string Std(const QString& s) { return s.toStdString(); }

}  // namespace

DebugPage::DebugPage(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host), sheet_(sheet) {
    setObjectName("DebugPage");
    sheet->installEventFilter(this);
    auto* page = new QGridLayout(sheet);

    // DSP registers
    auto* dsp = Group("GroupBox3", " DSP", sheet);
    GroupBox3 = dsp;
    DspAdr = new QComboBox(dsp);
    DspAdr->setObjectName("DspAdr");
    auto* list = new QListView(DspAdr);
    list->setStyleSheet("QListView::item { height: 16px; }");
    DspAdr->setView(list);
    DspAdr->setMaxVisibleItems(20);
    for (const char* name : kDspRegisterNames) DspAdr->addItem(QString::fromLatin1(name));
    DspAdr->setCurrentIndex(-1);  // no register chosen
    DspAdr->setMinimumWidth(230);
    DspData = new THexEdit("DspData", QString(), debug::kHexFieldLength, dsp);
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
    Eepdata = new THexEdit("Eepdata", QString(), debug::kHexFieldLength, eep);
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
    osdt = new THexEdit("osdt", QString(), debug::kHexFieldLength, osdBox);
    osdt->setFixedSize(48, 22);
    osdRow->addWidget(OSD);
    osdRow->addWidget(osdt);
    osdRow->addStretch();

    // raw command
    auto* cmd = Group("GroupBox7", "Command", sheet);
    GroupBox7 = cmd;
    Label5 = new QLabel("+0  +1  +2  +3  +4  +5  +6  +7  +8  ", cmd);
    Label5->setObjectName("Label5");
    SendBuffer = new QLineEdit(cmd);
    SendBuffer->setObjectName("SendBuffer");
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

    Connect();
}

void DebugPage::Connect() {
    // Change events come from the value signals, so a change made from code
    // (a read answer, a spin step) raises the same handler as typing does.
    auto on = [this](auto* sender, auto signal, void (DebugPage::*handler)()) {
        connect(sender, signal, this, [this, handler] { host_.Guard([this, handler] { (this->*handler)(); }); });
    };
    on(DspAdr, &QComboBox::currentIndexChanged, &DebugPage::DspAdrChange);
    on(DspData, &QLineEdit::textChanged, &DebugPage::DspDataChange);
    on(DspRadix, &QLineEdit::textChanged, &DebugPage::DspRadixChange);
    on(DspDatSpin, &TCSpinButton::OnUpClick, &DebugPage::DspDatSpinUpClick);
    on(DspDatSpin, &TCSpinButton::OnDownClick, &DebugPage::DspDatSpinDownClick);
    on(eepadr, &QLineEdit::textChanged, &DebugPage::eepadrChange);
    on(Eepdata, &QLineEdit::textChanged, &DebugPage::EepdataChange);
    on(CSpinButton6, &TCSpinButton::OnUpClick, &DebugPage::CSpinButton6UpClick);
    on(CSpinButton6, &TCSpinButton::OnDownClick, &DebugPage::CSpinButton6DownClick);
    on(CSpinButton7, &TCSpinButton::OnUpClick, &DebugPage::CSpinButton7UpClick);
    on(CSpinButton7, &TCSpinButton::OnDownClick, &DebugPage::CSpinButton7DownClick);
    on(osdt, &QLineEdit::textChanged, &DebugPage::osdtChange);
    on(RamSend, &QPushButton::clicked, &DebugPage::RamSendClick);
    on(PresetSave, &QPushButton::clicked, &DebugPage::PresetSaveClick);
    on(push_up, &QPushButton::clicked, &DebugPage::push_upClick);
    on(push_dn, &QPushButton::clicked, &DebugPage::push_dnClick);
    on(push_l, &QPushButton::clicked, &DebugPage::push_lClick);
    on(push_r, &QPushButton::clicked, &DebugPage::push_rClick);
    on(push_ent, &QPushButton::clicked, &DebugPage::push_entClick);
}

void DebugPage::SendWhenIdle(const link::Payload& p, int n) {
    if (!host_.Link().Trans_chk()) return;
    host_.Link().StxCommand(p, n);
}

// ---- DSP registers -------------------------------------------------------------

void DebugPage::DspAdrChange() {
    if (DspAdr->currentIndex() < 0) return;
    const QString item = DspAdr->currentText();
    if (item.size() < 2) return;
    const int reg = link::HexPairValue(item.at(0).toLatin1(), item.at(1).toLatin1());
    if (reg < 0) return;
    SendWhenIdle(debug::DspRead(reg), 3);
}

void DebugPage::DspDataChange() {
    if (!host_.Link().Trans_chk()) return;
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
    host_.Link().StxCommand(debug::DspWrite(reg, *value, NoWrite->isChecked()), 5);
    host_.EnablePageControl(true);
    DspData->setFocus();
}

void DebugPage::DspRadixChange() {
    const QString text = DspRadix->text();
    if (text.size() != debug::kHexFieldLength) return;
    const auto value = debug::CompleteHexValue(Std(text));
    DspRadix->setText(QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(value.value_or(0xFFFF)))));
}

static void StepDsp(DebugPage& w, bool up) {
    if (w.DspAdr->currentIndex() < 0) return;
    const auto value = debug::CompleteHexValue(Std(w.DspData->text()));
    if (!value) return;  // "Data" or a half-typed value: nothing to step
    long mask = link::HexTextValue(Std(w.DspRadix->text()));
    if (mask < 0) mask = 0xFFFF;
    const int next = debug::MaskedStep(*value, static_cast<int>(mask), up);
    w.DspData->setText(QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(next))));
}

void DebugPage::DspDatSpinUpClick() { StepDsp(*this, true); }
void DebugPage::DspDatSpinDownClick() { StepDsp(*this, false); }

// ---- EEPROM words ----------------------------------------------------------------

void DebugPage::eepadrChange() {
    if (!host_.Link().Trans_chk()) return;
    // Any four-digit address is read: beyond the 512 words the camera's
    // error reply tells the user so.
    const auto address = debug::CompleteHexValue(Std(eepadr->text()));
    if (!address) return;
    host_.Link().StxCommand(debug::EepRead(*address), 4);
}

void DebugPage::EepdataChange() {
    if (!host_.Link().Trans_chk()) return;
    if (eepDataSkip_) {
        eepDataSkip_ = false;
        return;
    }
    const auto value = debug::CompleteHexValue(Std(Eepdata->text()));
    if (!value) return;
    const auto address = debug::EepromAddress(Std(eepadr->text()));
    if (!address) return;
    host_.Link().StxCommand(debug::EepWrite(*address, *value, EEP_RAM->isChecked()), 6);
}

static void StepAddress(DebugPage& w, bool up) {
    const std::string text = Std(w.eepadr->text());
    const long address = link::HexTextValue(text);
    if (text.empty() || address < 0) return;  // not an address
    w.eepadr->setText(QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(debug::StepEepromAddress(static_cast<int>(address), up)))));
}

static void StepWord(DebugPage& w, bool up) {
    if (!debug::EepromAddress(Std(w.eepadr->text()))) return;
    const auto value = debug::CompleteHexValue(Std(w.Eepdata->text()));
    if (!value) return;
    const int next = (*value + (up ? 1 : -1)) & 0xFFFF;
    w.Eepdata->setText(QString::fromStdString(link::HexWordText(static_cast<std::uint16_t>(next))));
}

void DebugPage::CSpinButton6UpClick() { StepAddress(*this, true); }
void DebugPage::CSpinButton6DownClick() { StepAddress(*this, false); }
void DebugPage::CSpinButton7UpClick() { StepWord(*this, true); }
void DebugPage::CSpinButton7DownClick() { StepWord(*this, false); }

// ---- OSD, raw command, preset, keys -------------------------------------------------

void DebugPage::osdtChange() {
    if (!host_.Link().Trans_chk()) return;
    const auto value = debug::CompleteHexValue(Std(osdt->text()));
    if (!value) return;
    int n = 0;
    const link::Payload p = debug::OsdData(*value, OSD->ItemIndex() == 1, n);
    host_.Link().StxCommand(p, n);
}

void DebugPage::RamSendClick() {
    const auto payload = debug::ParseSendBuffer(Std(SendBuffer->text()));
    if (payload) SendWhenIdle(*payload, 15);
}

void DebugPage::PresetSaveClick() { SendWhenIdle(debug::PresetSave(), 3); }

void DebugPage::push_upClick() { host_.Link().SW_push(debug::kKeyUp); }
void DebugPage::push_dnClick() { host_.Link().SW_push(debug::kKeyDown); }
void DebugPage::push_lClick() { host_.Link().SW_push(debug::kKeyLeft); }
void DebugPage::push_rClick() { host_.Link().SW_push(debug::kKeyRight); }
void DebugPage::push_entClick() { host_.Link().SW_push(debug::kKeyEnter); }

bool DebugPage::push_upKeyPress(QWidget* sender, QChar key) {
    const bool keyButton = sender == push_up || sender == push_dn || sender == push_l || sender == push_r ||
                           sender == push_ent;
    if (!keyButton || key.unicode() > 0x7F) return false;
    const int menuKey = debug::MenuKeyForChar(key.toLatin1());
    if (menuKey < 0) return false;
    host_.Link().SW_push(static_cast<std::uint8_t>(menuKey));
    return true;
}

// ---- read answers -------------------------------------------------------------------

namespace {
constexpr char kMsgError[] = " Error ";
constexpr char kCapError[] = "ERR";
}  // namespace

void DebugPage::Debug_tend() {
    const link::Reply reply(host_.Link().RecvFrame());
    if (!reply.Accepted()) {
        host_.ShowMessage(kMsgError, kCapError);
        return;
    }
    if (host_.Link().CmdPayload(1) == link::kGroupRead) Trans_rd_dbg();
}

/// A read answer is shown only while the field still shows the register or
/// address that was read, and never sent back to the camera as a write.
void DebugPage::Trans_rd_dbg() {
    const auto answer = debug::DecodeRead(link::Reply(host_.Link().RecvFrame()));
    if (!answer) return;
    const QString text = QString::fromStdString(answer->text);
    if (answer->kind == debug::ReadAnswer::Register) {
        if (text == DspData->text()) return;
        if (answer->where != DspAdr->currentIndex()) return;  // the user has moved on to another register
        // The flag is for the one change this text causes; the change
        // handler may return before looking at it (link not idle), so it
        // does not outlive the setText.
        dspDataSkip_ = true;
        DspData->setText(text);
        dspDataSkip_ = false;
    } else {
        if (text == Eepdata->text()) return;
        if (link::HexTextValue(eepadr->text().toUpper().toStdString()) != answer->where) return;
        eepDataSkip_ = true;
        Eepdata->setText(text);
        eepDataSkip_ = false;
    }
}

void DebugPage::UseFixedFonts() {
    // The fixed-pitch faces are loaded only for a page that is shown: a
    // window whose Debug page stays hidden does not carry them.
    if (fixedFonts_) return;
    fixedFonts_ = true;
    DspAdr->setFont(widgets::FixedBoldFont());
    DspAdr->view()->setFont(widgets::FixedBoldFont());
    QFont fixed = widgets::FixedBoldFont();
    fixed.setBold(false);
    Label5->setFont(fixed);
    SendBuffer->setFont(fixed);
}

bool DebugPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == sheet_ && event->type() == QEvent::Show) UseFixedFonts();
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* w = qobject_cast<QWidget*>(watched);
        if (w != nullptr && !key->text().isEmpty()) {
            bool used = false;
            host_.Guard([&] { used = push_upKeyPress(w, key->text().at(0)); });
            if (used) return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tern::app
