// One camera's session: the port, the link over it and the engine that reads
// and writes the camera through it, wired once for the window, ternctl and
// the tests. The host (the window, a console host, a test's recorder) hears
// the link's reports and runs its timers.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "link/comm.h"
#include "link/host.h"
#include "link/link.h"
#include "transfer/Engine.h"

namespace tern::transfer {

class Session {
public:
    /// Over a port the caller keeps (a TComm, a test's stand-in).
    Session(link::CommPort& port, link::LinkHost& host);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    link::Link& Link() { return *link_; }
    const link::Link& Link() const { return *link_; }
    transfer::Engine& Engine() { return *engine_; }
    const transfer::Engine& Engine() const { return *engine_; }
    link::CommPort& Port() { return port_; }
    link::LinkHost& Host() { return host_; }

    /// Reports what a serial port receives to the link, and its loss: with a
    /// notifier on its event thread (set it on the port before Open), else
    /// from the port's watch thread through the host's event thread. On a
    /// loss the link stops sending and retries the device; then `onLost`
    /// runs on the event thread with a sentence naming the device and what
    /// to do (the window shows it, ternctl prints it).
    void WirePort(link::TComm& comm, std::function<void(const std::string& text)> onLost = {});

    /// Starts the connection: opens COM1 and sends ENQ; once the camera
    /// answers, the host's chain reads the page.
    void Connect() { link_->Trans_Create(); }
    /// Ends the session's use of the line: what was written is drained
    /// (bounded) and the port closed.
    void Close() { link_->Close(); }

private:
    link::CommPort& port_;
    link::LinkHost& host_;
    std::unique_ptr<link::Link> link_;
    std::unique_ptr<transfer::Engine> engine_;
};

}  // namespace tern::transfer
