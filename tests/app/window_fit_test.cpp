// The window on a technician's screen: it fits 1366x768, and 1280x1024 at
// 200 % by scrolling a page; nothing is clipped with a 13-point font; the
// sliders show their values as ternctl get prints them; the fields start empty.
#include <QAbstractButton>
#include <QPushButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <sstream>

#include "app/DebugPage.h"
#include "app/camera_fixture.h"
#include "app/window_fixture.h"
#include "copy/CopyPage.h"
#include "widgets/HexEdit.h"
#include "transfer/Settings.h"

namespace tern::test {
namespace {

/// The controls under `sheet` too small for their text, by name and size.
std::vector<std::string> Clipped(QWidget* sheet) {
    std::vector<std::string> out;
    for (QWidget* w : sheet->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(sheet)) continue;
        QSize need;
        if (auto* l = qobject_cast<QLabel*>(w)) {
            if (l->wordWrap() || l->text().isEmpty() || l->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) continue;
            need = l->sizeHint();
        } else if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr) {
            need = w->sizeHint();
        } else if (auto* b = qobject_cast<QAbstractButton*>(w); b != nullptr && !b->text().isEmpty()) {
            const QString text = QString(b->text()).remove(QLatin1Char('&'));
            need = QSize(b->fontMetrics().horizontalAdvance(text) + 4, b->fontMetrics().height());
        } else if (auto* e = qobject_cast<QLineEdit*>(w); e != nullptr && e->maxLength() <= 8) {
            need = QSize(e->fontMetrics().horizontalAdvance(QString(e->maxLength(), QLatin1Char('D'))) + 4,
                         e->fontMetrics().height() + 2);
        } else {
            continue;
        }
        if (w->width() < need.width() || w->height() < need.height()) {
            std::ostringstream s;
            s << w->objectName().toStdString() << " \"" << w->property("text").toString().toStdString() << "\" "
              << w->width() << "x" << w->height() << " < " << need.width() << "x" << need.height();
            out.push_back(s.str());
        }
    }
    return out;
}

struct Screen {
    const char* name;
    QSize room;      ///< the screen less the window's frame, in the window's own pixels
    int fontPoints;  ///< 0: the window's own font
    bool scrolls;    ///< whether a page may scroll to fit
};

class WindowFits : public WindowTest, public ::testing::WithParamInterface<Screen> {
protected:
    void SetUp() override {
        saved_ = QApplication::font();
        if (GetParam().fontPoints > 0) {
            QFont large = saved_;
            large.setPointSize(GetParam().fontPoints);
            QApplication::setFont(large);
        }
    }
    void TearDown() override {
        WindowTest::TearDown();
        QApplication::setFont(saved_);
    }
    QFont saved_;
};

TEST_P(WindowFits, EveryPageFitsTheScreenWithNothingClipped) {
    const Screen& screen = GetParam();
    Make(link::ToolMode::Dbg);
    app::TFTern& w = *window;
    if (!screen.scrolls) {
        // Its own size fits: no page needs to scroll.
        EXPECT_LE(w.sizeHint().width(), screen.room.width());
        EXPECT_LE(w.sizeHint().height(), screen.room.height());
    }
    EXPECT_LE(w.minimumSizeHint().width(), screen.room.width());
    EXPECT_LE(w.minimumSizeHint().height(), screen.room.height());
    w.resize(w.sizeHint().boundedTo(screen.room));
    w.show();
    ASSERT_LE(w.width(), screen.room.width());
    ASSERT_LE(w.height(), screen.room.height());
    for (int i = 0; i < w.PageControl1->count(); ++i) {
        // Only the page shown changes; the switch reads nothing.
        w.PageControl1->blockSignals(true);
        w.PageControl1->setCurrentIndex(i);
        w.PageControl1->blockSignals(false);
        QApplication::processEvents();
        auto* scroll = qobject_cast<QScrollArea*>(w.PageControl1->widget(i));
        ASSERT_NE(scroll, nullptr);
        SCOPED_TRACE(w.PageControl1->tabText(i).toStdString());
        EXPECT_EQ(Clipped(scroll->widget()), std::vector<std::string>{});
        if (!screen.scrolls) {
            EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
            EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
        }
    }
    // The strip's buttons and the status bar stay inside the window.
    for (QWidget* kept : {static_cast<QWidget*>(w.ExitButton), static_cast<QWidget*>(w.ResetButton),
                          static_cast<QWidget*>(w.StatusBar1)}) {
        const QRect at(kept->mapTo(&w, QPoint(0, 0)), kept->size());
        EXPECT_TRUE(w.rect().contains(at)) << kept->objectName().toStdString();
    }
    EXPECT_EQ(Clipped(w.Panelbase), std::vector<std::string>{});
    // A frame's 30 digits fit panels 1 and 2.
    for (int i : {1, 2}) w.StatusPanels[i]->setText("A0450404000000C86400000000000D");
    QApplication::processEvents();
    EXPECT_EQ(Clipped(w.StatusBar1), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Screens, WindowFits,
    ::testing::Values(Screen{"At1366x768", QSize(1366 - 8, 768 - 32), 0, false},
                      Screen{"At1366x768With13Points", QSize(1366 - 8, 768 - 32), 13, true},
                      // 1280x1024 at 200 %: 640x512 of the window's pixels.
                      Screen{"At1280x1024Scaled200", QSize(640 - 8, 512 - 32), 0, true}),
    [](const ::testing::TestParamInfo<Screen>& i) { return std::string(i.param.name); });

TEST_F(WindowTest, FieldsStartEmpty) {
    Make(link::ToolMode::Dbg);
    EXPECT_EQ(window->Debug().DspData->text(), "");
    EXPECT_EQ(window->Debug().Eepdata->text(), "");
    EXPECT_EQ(window->Debug().osdt->text(), "");
    EXPECT_EQ(window->Debug().SendBuffer->text(), "");
    EXPECT_EQ(window->CopyPage().Copyfname2->text(), "");
}

#ifdef TERNCTL_PATH
class SliderValues : public CameraWindow {};

TEST_F(SliderValues, EachSliderShowsItsValueAsTernctlGetPrintsIt) {
    Start(link::ToolMode::Dbg);
    for (link::Page page : {link::Page::Adjust, link::Page::Setup1, link::Page::Setup2}) {
        ASSERT_TRUE(WaitFor([&] { return window->Link().EverConnected() && Settled(); }));
        window->ShowPage(page);
        ASSERT_TRUE(WaitFor([&] { return Settled(); }));
    }
    std::map<std::string, QString> shown;
    for (const transfer::Setting& s : transfer::Settings()) {
        // The hue bars come from registers the page's read leaves alone (ternctl reads them).
        if (s.kind != transfer::SettingKind::Slider || s.block < 0) continue;
        const QString name = QString::fromUtf8(s.name.data(), static_cast<int>(s.name.size()));
        auto* bar = window->findChild<QSlider*>(name);
        auto* value = window->findChild<QLabel*>(name + "Value");
        if (value == nullptr && bar->isHidden()) continue;  // a bar the window never shows
        ASSERT_NE(value, nullptr) << name.toStdString();
        EXPECT_EQ(value->text(), QString::number(bar->value()));
        shown[std::string(s.name)] = value->text();
    }
    ASSERT_FALSE(shown.empty());
    window.reset();  // the port is free for ternctl

    const std::string cmd = "timeout 60 " + std::string(TERNCTL_PATH) + " get --port " + camera->DevicePath();
    FILE* out = ::popen(cmd.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::map<std::string, std::string> got;
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr) {
        std::string l(line);
        if (!l.empty() && l.back() == '\n') l.pop_back();
        if (const auto eq = l.find('='); eq != std::string::npos) got[l.substr(0, eq)] = l.substr(eq + 1);
    }
    ASSERT_EQ(::pclose(out), 0) << cmd;
    for (const auto& [name, text] : shown) EXPECT_EQ(text.toStdString(), got[name]) << name;
}

TEST(NoCamera, TernctlSaysWhatToCheckAndEndsWithOne) {
    // A line nobody answers on: a pseudo-terminal this test made.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string device = ::ptsname(master);
    QTemporaryDir dir;
    const std::string cmd = "timeout 60 " + std::string(TERNCTL_PATH) + " backup --quiet --port " + device + " " +
                            dir.filePath("out.dat").toStdString() + " 2>&1";
    FILE* out = ::popen(cmd.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::vector<std::string> lines;
    char line[1024];
    while (std::fgets(line, sizeof line, out) != nullptr) lines.emplace_back(line);
    const int status = ::pclose(out);
    ::close(master);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("Serial Port not connected"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("powered"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("ternctl ports --probe"), std::string::npos) << lines[1];
}
#endif

}  // namespace
}  // namespace tern::test
