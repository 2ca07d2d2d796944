// The real window and its real serial port against the virtual camera on a
// pseudo-terminal, for runs that end in the camera's own state.
#pragma once

#include <gtest/gtest.h>

#include <QTimer>

#include <memory>

#include "app/MTern.h"
#include "app/window_fixture.h"
#include "camera/pty_camera.h"
#include "link/comm.h"

namespace tern::test {

class CameraWindow : public ::testing::Test {
protected:
    void Start(link::ToolMode mode, camera::CameraOptions options = {}) {
        camera = std::make_unique<camera::PtyCamera>(options);
        camera->Start();
        window = std::make_unique<app::TFTern>(mode, link::PortDevices{camera->DevicePath(), "/nonexistent/ternab-com2"},
                                               AutoClose);
    }

    void TearDown() override {
        window.reset();
        if (camera) camera->Stop();
    }

    /// No frame in flight, no load chain, and none of the window's throttling timers armed.
    bool Settled() const {
        if (window->Link().LinkBusy() || window->LoadStep() != 0) return false;
        for (QTimer* t : {window->TimerRYP, window->TimerBYP, window->TimerRYN, window->TimerBYN}) {
            if (t->isActive()) return false;
        }
        return true;
    }

    /// Waits until the camera's model satisfies `pred` and the window has settled.
    template <typename Pred>
    bool CameraShows(Pred pred) {
        return WaitFor([&] { return Settled() && camera->WithModel([&](camera::CameraModel& m) { return pred(m); }); });
    }

    /// Sends one frame as a page would, once the link is idle.
    void Send(std::initializer_list<std::uint8_t> payload) {
        ASSERT_TRUE(WaitFor([&] { return Settled(); }));
        link::Payload p;
        int i = 1;
        for (std::uint8_t b : payload) p[i++] = b;
        window->Link().StxCommand(p, static_cast<int>(payload.size()));
    }

    std::unique_ptr<camera::PtyCamera> camera;
    std::unique_ptr<app::TFTern> window;
};

}  // namespace tern::test
