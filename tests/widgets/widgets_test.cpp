#include <gtest/gtest.h>

#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <QImage>

#include "widgets/HexEdit.h"
#include "widgets/PlainProgressBar.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinButton.h"
#include "widgets/SpinEdit.h"

namespace tern::widgets {
namespace {

// The copy's bar, drawn plainly: the part done in the highlight colour from
// the left (from the right when inverted), the rest in the base colour, a
// full bar and an empty one too.
TEST(PlainProgressBar, FillsThePartDoneAndNoMore) {
    PlainProgressBar bar;
    bar.setTextVisible(false);
    bar.resize(202, 20);
    bar.setRange(0, 512);
    const QColor done = bar.palette().color(QPalette::Highlight);
    const QColor rest = bar.palette().color(QPalette::Base);
    struct Case {
        int value;
        bool inverted;
        int doneFrom, doneTo;  // inner columns 1..200 that are highlighted
    };
    for (const Case c : {Case{128, false, 1, 50}, Case{128, true, 151, 200}, Case{512, false, 1, 200}, Case{0, false, 0, 0}}) {
        bar.setValue(c.value);
        bar.setInvertedAppearance(c.inverted);
        const QImage shot = bar.grab().toImage();
        for (int x = 2; x < 200; x += 7) {
            const bool inDone = x >= c.doneFrom && x <= c.doneTo;
            EXPECT_EQ(shot.pixelColor(x, 10), inDone ? done : rest) << c.value << (c.inverted ? " inverted" : "") << " x " << x;
        }
    }
}

TEST(RadioGroup, ClickFiresForEveryChangeOfItemIndexFromUserOrCode) {
    TRadioGroup g("OSD", "OSD", {"8bit", "16bit"});
    QSignalSpy clicks(&g, &TRadioGroup::Click);
    EXPECT_EQ(g.ItemIndex(), -1);
    g.SetItemIndex(1);
    EXPECT_EQ(g.ItemIndex(), 1);
    EXPECT_TRUE(g.Button(1)->isChecked());
    g.SetItemIndex(1);  // no change, no event
    EXPECT_EQ(clicks.count(), 1);
    g.Button(0)->click();  // as the user picks it
    EXPECT_EQ(g.ItemIndex(), 0);
    EXPECT_EQ(clicks.count(), 2);
    g.SetItemIndex(-1);  // back to no choice
    EXPECT_EQ(g.ItemIndex(), -1);
    EXPECT_FALSE(g.Button(0)->isChecked());
    EXPECT_FALSE(g.Button(1)->isChecked());
    EXPECT_EQ(clicks.count(), 3);
    g.SetItemIndex(7);  // out of range: no choice, already so
    EXPECT_EQ(clicks.count(), 3);
    g.SetItemIndex(0);  // choosable again after -1
    EXPECT_EQ(g.ItemIndex(), 0);
    EXPECT_EQ(clicks.count(), 4);
    EXPECT_EQ(g.objectName(), "OSD");
}

TEST(SpinButton, ArrowsRaiseTheirOwnEvents) {
    TCSpinButton s("DspDatSpin");
    QSignalSpy up(&s, &TCSpinButton::OnUpClick);
    QSignalSpy down(&s, &TCSpinButton::OnDownClick);
    QTest::mouseClick(s.UpButton(), Qt::LeftButton);
    QTest::mouseClick(s.DownButton(), Qt::LeftButton);
    QTest::mouseClick(s.DownButton(), Qt::LeftButton);
    EXPECT_EQ(up.count(), 1);
    EXPECT_EQ(down.count(), 2);
}

TEST(SpinEdit, ValueChangesRaiseChange) {
    TCSpinEdit e("pwm_ref");
    e.setRange(0, 255);
    QSignalSpy changes(&e, &TCSpinEdit::Change);
    e.SetValue(5);
    e.stepUp();
    EXPECT_EQ(e.Value(), 6);
    EXPECT_EQ(changes.count(), 2);
}

TEST(HexEdit, TakesOnlyHexDigitsFromTheKeyboard) {
    THexEdit e("DspData", "Data");
    EXPECT_EQ(e.text(), "Data");  // a caption set from code stands
    EXPECT_FALSE(e.HoldsHex());
    e.selectAll();
    QTest::keyClicks(&e, "1x2-g3Fz9");
    EXPECT_EQ(e.text(), "123F");  // the fifth digit does not fit
    EXPECT_TRUE(e.HoldsHex());
}

}  // namespace
}  // namespace tern::widgets
