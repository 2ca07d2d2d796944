// The names, items and ranges ternctl get/set use are those of the window's
// own controls: a caption or a range changed on a page and not in the
// settings table fails here.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "transfer/Settings.h"
#include "widgets/RadioGroup.h"
#include "window_fixture.h"

namespace tern::test {
namespace {

using transfer::SettingKind;

class SettingNames : public WindowTest {};

TEST_F(SettingNames, EverySettingIsAControlWithTheSameItemsAndRange) {
    Make(link::ToolMode::Dbg);
    for (const transfer::Setting& s : transfer::Settings()) {
        const QString name = QString::fromUtf8(s.name.data(), static_cast<int>(s.name.size()));
        SCOPED_TRACE(name.toStdString());
        // Each control's tooltip names it as ternctl does, with its values.
        const QString tip = QStringLiteral("ternctl name: %1\nValues: %2")
                                .arg(name, QString::fromStdString(transfer::AllowedValues(s)));
        if (s.kind == SettingKind::Grid) {
            for (const char* cell : {"01", "48"}) {
                auto* box = window->findChild<QCheckBox*>(name + cell);
                ASSERT_NE(box, nullptr);
                EXPECT_TRUE(box->toolTip().startsWith(tip)) << box->toolTip().toStdString();
            }
            continue;
        }
        QWidget* w = window->findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->toolTip().startsWith(tip)) << w->toolTip().toStdString();
        if (s.kind == SettingKind::Choice) {
            QStringList captions;
            if (auto* radio = qobject_cast<widgets::TRadioGroup*>(w)) {
                for (int i = 0; i < radio->Count(); ++i) captions << radio->Button(i)->text();
            } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
                for (int i = 0; i < combo->count(); ++i) captions << combo->itemText(i);
            } else {
                ADD_FAILURE() << "not a list";
            }
            QStringList items;
            for (std::string_view i : s.items) items << QString::fromUtf8(i.data(), static_cast<int>(i.size()));
            EXPECT_EQ(captions, items);
        } else if (s.kind == SettingKind::Check) {
            EXPECT_NE(qobject_cast<QCheckBox*>(w), nullptr);
        } else if (s.kind == SettingKind::Slider) {
            auto* bar = qobject_cast<QSlider*>(w);
            ASSERT_NE(bar, nullptr);
            // The phase bars' maximum is the camera's; the table holds the bytes' limit.
            if (s.control == transfer::Control::v_pha_lvl || s.control == transfer::Control::h_pha_lvl) continue;
            EXPECT_EQ(bar->minimum(), s.min);
            EXPECT_EQ(bar->maximum(), s.max);
        } else {
            EXPECT_NE(qobject_cast<QLineEdit*>(w), nullptr);
        }
    }
}

}  // namespace
}  // namespace tern::test
