// The camera as the tool knows it: for every setting control, the value the
// camera last reported or acknowledged, the value the user wants while it
// is on its way, and where the two stand. The engine feeds it from the
// frames and replies; the window shows what it says, so a read never
// overwrites a change the user made and a refusal or a missing read is
// never shown as the camera's value.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/host.h"
#include "link/protocol.h"
#include "transfer/Catalogue.h"
#include "transfer/Decode.h"

namespace tern::transfer {

enum class SettingState : std::uint8_t {
    NotRead,  ///< nothing read from the camera yet
    Reading,  ///< a read of its page runs and its block has not come yet
    InStep,   ///< the control shows what the camera holds
    Writing,  ///< the user's value waits for the link or for the camera's answer
    Refused,  ///< the camera refused the user's value and kept its own
    Unknown,  ///< a read or a write of it failed: the camera's value is not known
};

const char* StateName(SettingState s);

/// The catalogue control a command frame sets, when it sets one (group 0x21).
std::optional<Control> ControlOfCommand(const link::Payload& payload);

class SettingsModel {
public:
    struct Entry {
        SettingState state = SettingState::NotRead;
        /// The camera's value in the words `ternctl get` prints ("on", "INT", "5").
        std::optional<std::string> camera;
        /// The user's change is not yet acknowledged by the camera.
        bool wanted = false;
        /// The user's change counter at its last change, and at the last frame sent for it.
        std::uint64_t wantedAt = 0;
        std::uint64_t sentAt = 0;
    };

    // ---- the user ------------------------------------------------------------------------
    /// The user changed the control of c: until the camera acknowledges the
    /// value, reads change its camera value only, never the control.
    /// Returns the change's number, for Sent.
    std::uint64_t Want(Control c);
    bool Wanted(Control c) const;

    // ---- the wire --------------------------------------------------------------------------
    /// A command frame went out (its control, if any, is being written).
    /// `change`: the user's change it carries (Want's number); without it,
    /// the newest change of that control.
    void Sent(const link::Payload& payload, std::optional<std::uint64_t> change = std::nullopt);
    /// The camera answered the command `sent` with `status`. Returns the
    /// refused control, if the camera refused a setting.
    std::optional<Control> Answered(const link::Payload& sent, std::uint8_t status);
    /// A read of the page's settings starts (their state becomes Reading).
    void BeginRead(link::Page page);
    /// The read of the page ended as it should: what did not come stays as it was.
    void EndRead();
    /// The exchange in flight was given up: a read's settings still to come
    /// and a write in flight become Unknown. Returns the controls now Unknown.
    std::vector<Control> GiveUp(const link::Payload& inFlight);
    /// A read reply's update arrived: records the camera's value. False when
    /// the control is not to show it (the user's value waits to be sent).
    bool Read(const ControlUpdate& u);
    /// The device was lost or another chosen: the user's waiting values go
    /// (the page is read afresh), and what was being read is Unknown.
    void DropWanted();

    const Entry* Find(Control c) const;
    /// Changes with every change of the model: what shows it need not look again while it stays.
    std::uint64_t Generation() const { return generation_; }
    SettingState State(Control c) const;
    /// The camera's value, in words, or nothing when it is not known.
    std::optional<std::string> CameraValue(Control c) const;

private:
    Entry& At(Control c) {
        ++generation_;
        return entries_[c];
    }
    std::map<Control, Entry> entries_;
    std::uint64_t changes_ = 0;
    bool reading_ = false;
    std::uint64_t generation_ = 1;
};

}  // namespace tern::transfer
