#include "app/PortWatch.h"

#include <QMetaObject>
#include <QSocketNotifier>

namespace tern::app {

PortWatch::~PortWatch() {
    for (auto& [fd, n] : notifiers_) delete n;
}

void PortWatch::WatchDescriptor(int fd, std::function<void()> onReady) {
    UnwatchDescriptor(fd);
    auto* n = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(n, &QSocketNotifier::activated, n, [onReady = std::move(onReady)] { onReady(); });
    notifiers_[fd] = n;
}

void PortWatch::UnwatchDescriptor(int fd) {
    const auto it = notifiers_.find(fd);
    if (it == notifiers_.end()) return;
    // The port may unwatch from inside the notifier's own signal: no more
    // signals from it, and it goes once the event loop is back.
    it->second->setEnabled(false);
    it->second->disconnect();
    it->second->deleteLater();
    notifiers_.erase(it);
}

void PortWatch::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
}

}  // namespace tern::app
