// The transfer engine: the load chain of the page shown, the common decoding
// of every reply, and the data the camera's answers fill. The window and
// ternctl drive the same engine; the pages apply what it returns.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/host.h"
#include "link/link.h"
#include "link/protocol.h"
#include "transfer/Chain.h"
#include "transfer/Decode.h"
#include "transfer/Defect.h"
#include "transfer/SettingsModel.h"

namespace tern::transfer {

/// DSP register values as last read from the camera (items 0A and 0B).
using RegisterShadow = std::array<std::int32_t, link::kRegisterCount>;
/// A copy's image of the settings memory: 512 words (Camera->PC) or 1024
/// bytes, low byte first (PC->Camera batch). Kept apart from the register
/// shadow, so a copy never turns into register values.
using CopyImage = std::array<std::int32_t, 2 * link::kMemoryWords>;

/// What the common decoder found in one reply, for the window to show.
struct CommonDecoded {
    /// A register read: its number and value.
    std::optional<int> reg;
    int value = 0;
    std::optional<std::string> resolution;  ///< "Hi-Resolution" / "Lo-Resolution"
    std::optional<std::string> tv;          ///< "NTSC" / "PAL"
    /// The controls to set, by objectName, in order (the title strip's
    /// Resolution and TV labels among them).
    std::vector<ControlUpdate> updates;
    /// A mask rectangle, for the mask window.
    std::optional<MaskReply> mask;
    /// Block 6: the updates are applied with LoadGuard raised.
    bool loadGuard = false;
    /// The camera refused the setting this write was for.
    std::optional<Control> refused;
    /// A read of the page was cut short by a give-up and the camera has
    /// answered since: the page is to be read again.
    bool rereadPage = false;
};

class Engine {
public:
    explicit Engine(link::Link& link) : link_(link) {}

    // ---- what Trans_chk asks ------------------------------------------------
    /// 0 when no load chain runs; else the step in flight plus one.
    int LoadStep() const { return loadStep_; }
    /// Set while a reply is put into controls whose handlers must not send.
    bool LoadGuard() const { return loadGuard_; }
    void SetLoadGuard(bool on) { loadGuard_ = on; }
    /// Held while the defect table is read piece by piece, and while the
    /// defect page puts values into its rows.
    bool DefectLock() const { return defect_.Held(); }
    DefectLockState& Defect() { return defect_; }
    /// The engine's own part of the idle test.
    bool Busy() const { return loadStep_ != 0 || loadGuard_ || defect_.Held(); }

    // ---- shared data ----------------------------------------------------------
    const VideoGeometry& Geometry() const { return geometry_; }
    RegisterShadow& Registers() { return registers_; }
    const RegisterShadow& Registers() const { return registers_; }
    CopyImage& Copy() { return copy_; }
    const CopyImage& Copy() const { return copy_; }

    /// Clears the flags, as the window's creation does.
    void ClearFlags();

    /// The camera's settings as known: read, wanted, refused, unknown.
    SettingsModel& Model() { return model_; }
    const SettingsModel& Model() const { return model_; }

    /// The exchange in flight (`inFlight` the last command) was given up:
    /// a read of the page ends there, what it had not read yet is Unknown,
    /// and the page is read again once the camera answers. Returns the
    /// controls whose values are now unknown.
    std::vector<Control> ReplyGivenUp(const link::Payload& inFlight);
    /// A read of the page was cut short and not yet read again.
    bool RereadPending() const { return rereadPending_; }
    void ClearReread() { rereadPending_ = false; }

    // ---- the load chain --------------------------------------------------------
    /// Requests step `step` of `page`'s chain; a step the page's row does not
    /// have ends the chain (LoadStep 0) and sends nothing.
    void Trans_init(link::Page page, int step);

    /// The decoding every reply goes through first: only accepted answers to
    /// reads carry settings. Stores register values in the shadow, follows
    /// registers 1 and 64 in the geometry, and releases a preset or reset lock
    /// once block 4 is back.
    CommonDecoded Trans_end_common(const link::Reply& reply, const link::Payload& lastCommand);
    /// The payload of the last command frame that went out.
    link::Payload LastCommand() const;
    /// The same for the link's current reply and command.
    CommonDecoded Trans_end_common();

private:
    link::Link& link_;
    int loadStep_ = 0;
    bool loadGuard_ = false;
    DefectLockState defect_;
    VideoGeometry geometry_;
    RegisterShadow registers_{};
    CopyImage copy_{};
    SettingsModel model_;
    bool rereadPending_ = false;
};

}  // namespace tern::transfer
