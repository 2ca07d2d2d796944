// Camera > Connect to > Network port...: a camera behind a terminal server
// (a real ser2net on 127.0.0.1), chosen in the window and remembered.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>

#include "app/MTern.h"
#include "app/window_fixture.h"
#include "camera/pty_camera.h"
#include "cli/ser2net_rig.h"
#include "temp_dir.h"

namespace tern::test {
namespace {

using app::TFTern;

TEST(NetworkPort, ChosenInTheWindowConnectsReadsThePageAndIsRemembered) {
    TempDir dir;
    camera::PtyCamera first;
    first.Start();
    camera::CameraOptions pal;
    pal.pal = true;
    camera::PtyCamera second(pal);
    second.Start();
    Ser2net server(dir.Path(), {{second.DevicePath(), true}});
    const std::string url = server[0].Url();
    {
        TFTern w(link::ToolMode::Dbg, link::PortDevices{first.DevicePath(), "/nonexistent/ternab-com2"}, AutoClose);
        ASSERT_TRUE(WaitFor([&] { return w.TV->text() == "NTSC" && w.LoadStep() == 0; }));
        w.FillConnectMenu();
        ASSERT_FALSE(w.ConnectTo1->actions().isEmpty());
        EXPECT_EQ(w.ConnectTo1->actions().back()->text(), "Network port...");

        // A malformed name is said, and the camera in use stays.
        const std::size_t before = w.Messages.size();
        EXPECT_FALSE(w.ConnectToNetworkPort("rfc2217://cams-7"));
        ASSERT_EQ(w.Messages.size(), before + 1);
        EXPECT_NE(w.Messages.back().text.find("rfc2217://cams-7: the TCP port is missing"), std::string::npos)
            << w.Messages.back().text;
        EXPECT_EQ(w.DeviceInUse(), first.DevicePath());

        ASSERT_TRUE(w.ConnectToNetworkPort(url));
        ASSERT_TRUE(WaitFor([&] { return w.TV->text() == "PAL" && w.LoadStep() == 0; }));
        EXPECT_EQ(TFTern::RememberedPort(), url);
        w.FillConnectMenu();
        bool marked = false;
        for (QAction* a : w.ConnectTo1->actions()) marked |= a->text().startsWith(QString::fromStdString(url)) && a->isChecked();
        EXPECT_TRUE(marked) << "the network port in use is listed and marked";
        w.FormDestroy();
    }
    first.Stop();
    second.Stop();
}

}  // namespace
}  // namespace tern::test
