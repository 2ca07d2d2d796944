#include "transfer/Session.h"

#include "link/comm_net.h"

namespace tern::transfer {

Session::Session(link::CommPort& port, link::LinkHost& host)
    : port_(port),
      host_(host),
      link_(std::make_unique<link::Link>(port, host)),
      engine_(std::make_unique<transfer::Engine>(*link_)) {}

Session::~Session() = default;

void Session::WirePort(link::TComm& comm, std::function<void(const std::string& text)> onLost) {
    if (comm.Notifier() != nullptr) {
        comm.OnCommReceive = [this](link::TComm& sender, std::uint16_t size) { link_->OnCommReceive(sender, size); };
    } else {
        comm.OnCommReceive = [this](link::TComm& sender, std::uint16_t size) {
            link_->OnCommReceiveWatchThread(sender, size);
        };
    }
    comm.OnCommLost = [this, onLost = std::move(onLost)](link::TComm& sender, const std::string& reason) {
        const bool net = link::IsNetworkPortName(sender.DeviceName());
        std::string text = (net ? "The connection to " : "The serial device ") + sender.DeviceName() +
                           (net ? " was lost" : " went away");
        if (!reason.empty()) text += ": " + reason;
        text += net ? ".\nThe tool connects again by itself once the terminal server answers, and reads the page shown."
                    : ".\nPlug it in again: the tool connects again by itself and reads the page shown.";
        host_.PostToEventThread([this, onLost, text] {
            // Commands are refused from now on, before anything is shown.
            link_->PortLost();
            if (onLost) onLost(text);
        });
    };
}

}  // namespace tern::transfer
