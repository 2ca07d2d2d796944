// The real window over a port stand-in that records every write; the test
// plays the camera by feeding bytes to the receive dispatcher.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "app/MTern.h"
#include "link/codec.h"
#include "link/fake_port.h"

namespace tern::test {

using Bytes = std::vector<std::uint8_t>;

/// The 19 bytes of a frame with the given payload (command or reply).
inline Bytes Frame(std::initializer_list<std::uint8_t> payload) {
    link::Payload p;
    int i = 1;
    for (std::uint8_t b : payload) p[i++] = b;
    const link::FrameBytes f = link::BuildStxFrame(p, static_cast<int>(payload.size()));
    return Bytes(f.begin(), f.end());
}

/// Processes events until pred() holds; false when the deadline passes first.
inline bool WaitFor(const std::function<bool()>& pred, int deadlineMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > deadlineMs) return false;
        QTest::qWait(5);
    }
    return true;
}

/// Closes a message box as soon as its modal loop runs.
inline void AutoClose(QMessageBox& box) { QTimer::singleShot(0, &box, &QMessageBox::accept); }

class WindowTest : public ::testing::Test {
protected:
    void Make(link::ToolMode mode) {
        // Message boxes close themselves once shown; the texts stay in Messages.
        window = std::make_unique<app::TFTern>(mode, &port, AutoClose);
    }

    void TearDown() override { window.reset(); }

    void Feed(const Bytes& bytes) { window->Link().Comm1CommReceive(bytes); }

    /// The camera accepts the connection; returns what the window sent for it.
    Bytes Connect() {
        port.TakeWire();
        Feed({link::ACK});
        return port.TakeWire();
    }

    /// The camera acknowledges the frame in flight and answers it with
    /// `reply`; returns what the window put on the wire meanwhile (its ACK,
    /// and the next request if any).
    Bytes Answer(std::initializer_list<std::uint8_t> reply) {
        port.TakeWire();
        Bytes bytes{link::ACK};
        const Bytes frame = Frame(reply);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        Feed(bytes);
        return port.TakeWire();
    }

    /// Answers register reads as a high-resolution NTSC camera would and
    /// anything else with A0 and the item, until the chain has ended.
    void FinishChain() {
        for (int guard = 0; guard < 20 && window->LoadStep() != 0; ++guard) AnswerLast();
    }

    /// Answers the last frame sent with status A0 and a plausible value.
    Bytes AnswerLast() {
        const auto& f = window->Link().CmdFrame();
        if (f[2] == 0x0A) {
            const std::uint8_t hi = f[3] == 0x01 ? 0x40 : 0x00;
            return Answer({0xA0, 0x0A, f[3], hi, 0x00});
        }
        return Answer({0xA0, f[2], f[3]});
    }

    /// Connects in `mode` and lets the first chain run to its end.
    void Ready(link::ToolMode mode) {
        Make(mode);
        Connect();
        FinishChain();
        port.TakeWire();
    }

    FakePort port;
    std::unique_ptr<app::TFTern> window;
};

inline Bytes Ack() { return {link::ACK}; }

/// The index of a page's tab in PageControl1.
inline int Tab(link::Page page) { return static_cast<int>(page); }

/// What the window sends after acknowledging a reply: its ACK, then `frame`.
inline Bytes AckThen(const Bytes& frame) {
    Bytes b{link::ACK};
    b.insert(b.end(), frame.begin(), frame.end());
    return b;
}

}  // namespace tern::test
