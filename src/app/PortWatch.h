// The window's event loop as the port's notifier: a QSocketNotifier on the
// port's descriptor, so received bytes are read and dispatched on the event
// thread without a thread of the port's own (also under a modal box, whose
// loop runs the notifier too; the link holds the bytes back there).
#pragma once

#include <QObject>

#include <map>
#include <memory>

#include "link/comm.h"

class QSocketNotifier;

namespace tern::app {

class PortWatch : public link::PortNotifier {
public:
    /// Posted work runs in `context`'s thread while it lives.
    explicit PortWatch(QObject* context) : context_(context) {}
    ~PortWatch() override;
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    void WatchDescriptor(int fd, std::function<void()> onReady) override;
    void UnwatchDescriptor(int fd) override;
    void Post(std::function<void()> fn) override;

private:
    QObject* context_;
    std::map<int, QSocketNotifier*> notifiers_;
};

}  // namespace tern::app
