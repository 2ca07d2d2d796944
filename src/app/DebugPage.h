// The Debug page (TabSheet2): single DSP registers and EEPROM words, OSD
// test data, a raw command, the preset store and the camera's own menu keys.
// Every action is one command frame, sent only while the link is idle; read
// answers come back through Debug_tend.
#pragma once

#include <QObject>

#include "link/codec.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tern::widgets {
class PageHost;
class TCSpinButton;
class THexEdit;
class TRadioGroup;
}  // namespace tern::widgets

namespace tern::app {

class DebugPage : public QObject {
    Q_OBJECT
public:
    /// Builds the page's controls on `sheet`.
    DebugPage(QWidget* sheet, widgets::PageHost& host);

    // ---- handlers ----------------------------------------------------------
    void DspAdrChange();
    void DspDataChange();
    void DspRadixChange();
    void DspDatSpinUpClick();
    void DspDatSpinDownClick();
    void eepadrChange();
    void EepdataChange();
    void CSpinButton6UpClick();
    void CSpinButton6DownClick();
    void CSpinButton7UpClick();
    void CSpinButton7DownClick();
    void osdtChange();
    void RamSendClick();
    void PresetSaveClick();
    void push_upClick();
    void push_dnClick();
    void push_lClick();
    void push_rClick();
    void push_entClick();
    /// The key handler of the five menu-key buttons; true when the key was one of theirs.
    bool push_upKeyPress(QWidget* sender, QChar key);

    /// The page's reply handler: an error status is reported, read answers shown.
    void Debug_tend();
    void Trans_rd_dbg();

    /// One-shot guards: the next change of DspData / Eepdata is the camera's answer.
    bool DspDataSkip() const { return dspDataSkip_; }
    bool EepDataSkip() const { return eepDataSkip_; }
    /// Clears the skip flags, as the window's creation does.
    void ClearFlags() { dspDataSkip_ = eepDataSkip_ = false; }

    // ---- controls (named as on the window) ---------------------------------
    QWidget* GroupBox3 = nullptr;
    QComboBox* DspAdr = nullptr;
    widgets::THexEdit* DspData = nullptr;
    widgets::THexEdit* DspRadix = nullptr;
    widgets::TCSpinButton* DspDatSpin = nullptr;
    QCheckBox* NoWrite = nullptr;
    QWidget* GroupBox4 = nullptr;
    widgets::THexEdit* eepadr = nullptr;
    widgets::THexEdit* Eepdata = nullptr;
    widgets::TCSpinButton* CSpinButton6 = nullptr;
    widgets::TCSpinButton* CSpinButton7 = nullptr;
    QCheckBox* EEP_RAM = nullptr;
    widgets::TRadioGroup* OSD = nullptr;
    widgets::THexEdit* osdt = nullptr;
    QWidget* GroupBox7 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* SendBuffer = nullptr;
    QPushButton* RamSend = nullptr;
    QPushButton* PresetSave = nullptr;
    QPushButton* push_up = nullptr;
    QPushButton* push_dn = nullptr;
    QPushButton* push_l = nullptr;
    QPushButton* push_r = nullptr;
    QPushButton* push_ent = nullptr;

protected:
    /// Keys typed on the menu-key buttons press the camera's keys.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Connect();
    void SendWhenIdle(const link::Payload& p, int n);

    /// The fixed-pitch fonts, set when the page is first shown.
    void UseFixedFonts();

    widgets::PageHost& host_;
    QWidget* sheet_;
    bool fixedFonts_ = false;
    bool dspDataSkip_ = false;
    bool eepDataSkip_ = false;
};

}  // namespace tern::app
