// What both back ends of TComm share: the exceptions and the port names.
#include "link/comm.h"

#include "link/comm_net.h"

#include <mutex>
#include <thread>

namespace tern::link {

ECommOpenError::ECommOpenError(std::int32_t code, std::string reason, std::string device, int error)
    : ECommError("オープンエラー ErrorCode = " + std::to_string(code)), ErrorCode(code),
      Reason(std::move(reason)), Device(std::move(device)), Errno(error) {}

ECommReadWriteError::ECommReadWriteError(std::uint32_t code, std::string reason)
    : ECommError("入出力エラー ErrorCode = " + std::to_string(code)), ErrorCode(code),
      Reason(std::move(reason)) {}

std::string PortDevices::For(unsigned port) const {
    if (port == 1) return com1;
    if (port == 2) return com2.empty() ? com1 : com2;  // no COM2: COM1's device is tried again
    return SystemPortDevice(port);  // "COM0" does not exist: Open fails on ""
}

bool TComm::LockLifeFromAnyThread(std::unique_lock<std::mutex>& life) {
    if (!OnOwnWatchThread()) {
        life.lock();
        return true;
    }
    // On the watch thread (from a handler): another thread that holds the
    // lock may be joining this very thread, having stopped its loop first.
    // Waiting for the lock then would never end; give way instead.
    while (!life.try_lock()) {
        if (OwnWatchStopped()) return false;
        std::this_thread::yield();
    }
    return true;
}

void TComm::SetPortDevice(unsigned port, std::string device) {
    std::lock_guard lk(ioMutex_);
    if (port == 1) devices_.com1 = std::move(device);
    if (port == 2) devices_.com2 = std::move(device);
}

std::string TComm::PortDeviceName(unsigned port) const {
    std::lock_guard lk(ioMutex_);
    return devices_.For(port);
}

bool TComm::OpenNetwork() {
    if (Networked()) return true;
    const std::string dev = PortDeviceName(port_.load());
    if (!IsNetworkPortName(dev)) {
        net_.reset();  // closed: a serial device now
        return false;
    }
    if (!net_) net_ = std::make_unique<NetComm>(*this);
    {
        std::unique_lock lk(ioMutex_);
        device_ = dev;
    }
    lost_.store(false);
    net_->Open(dev);
    return true;
}

bool TComm::Networked() const { return net_ && net_->IsOpen(); }

std::int32_t TComm::EffectiveBaudRate() const {
    const std::int32_t b = baudRate_.load();
    return b == -1 ? static_cast<std::int32_t>(baudRateUserDefined_.load()) : b;
}

std::string TComm::DeviceName() const {
    std::shared_lock lk(ioMutex_);
    return device_;
}

}  // namespace tern::link
