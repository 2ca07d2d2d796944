// What the camera's replies mean for the controls of the Adjust, Setup1 and
// Setup2 pages and the mask window. The decoders return values named by the
// controls' objectNames; the pages look their controls up by those names and
// set them, in the order given (setting a control raises its change event as
// a user's change does, and the page's guards keep those events quiet).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/protocol.h"
#include "transfer/Catalogue.h"
#include "transfer/MaskGeometry.h"

namespace tern::transfer {

struct ControlUpdate {
    enum class Kind {
        Index,     ///< radio group / combo box item index (may lie beyond the list)
        Position,  ///< track bar position (the bar clamps it to its range)
        Maximum,   ///< track bar maximum, set before its position
        Check,     ///< check box: value 0 or 1
        Text,      ///< edit or label text
        Visible,   ///< show (1) or hide (0) a control or group
    };
    std::string control;
    Kind kind = Kind::Index;
    int value = 0;
    std::string text;
    bool operator==(const ControlUpdate&) const = default;
};

/// A register answer: the page stores `word` in the register shadow entry
/// `reg`; registers 1 and 64 also set the video geometry.
struct RegisterValue {
    int reg = 0;
    int word = 0;
    bool operator==(const RegisterValue&) const = default;
};

/// The camera's rectangle of one mask, as reported and as the window draws it.
struct MaskReply {
    int mask = 0;  ///< 0..3 for masks A..D
    CameraRect camera;
    WindowRect window;
};

struct DecodedReply {
    /// In the order the controls are to be set.
    std::vector<ControlUpdate> updates;
    std::optional<RegisterValue> reg;
    std::optional<MaskReply> mask;
    /// Block 6: set the updates with LoadGuard raised, and clear it after.
    bool loadGuard = false;
    /// Block 4, the end of the Setup1 settings: release the panel lock if it is set.
    bool releasePanelLock = false;
};

/// The common decoding of every reply: only an accepted reply (0xA0) to a
/// read command (`lastCommand` byte 1) carries settings; anything else, and
/// items and sub-items no page shows, decode to nothing. `video` is the video
/// geometry as known before this reply (used for the mask rectangle).
DecodedReply DecodeReply(const link::Reply& reply, const link::Payload& lastCommand, MaskVideo video);

/// Title codes as text. With `stopAtBlank` (item 0x10 sub-item 1) the text
/// ends before the first blank code; without it (block 0) twelve blanks give
/// the empty text. Either way the text ends before a code that no character
/// maps to, as that character (0) ends the text the edit shows.
std::string DecodeTitle(std::span<const std::uint8_t> codes, bool stopAtBlank);

// ---- what the page handlers do with the status -------------------------------------

inline constexpr std::string_view kErrorText = " Error ";
inline constexpr std::string_view kErrorCaption = "ERR";

enum class SetupAction {
    None,
    Reload,        ///< ReLoadClick
    ReReadBlock6,  ///< send BlockReadCommand(6): the aperture gains after their preset
    Refused,       ///< SyncReset::Refused with Sync's index; select INT when it says so
    ShowError,     ///< message box kErrorText / kErrorCaption
};
/// The reaction of Setup1 (`setup2` false) or Setup2 to any reply.
SetupAction SetupReplyAction(const link::Reply& reply, bool setup2);

struct AdjustAction {
    enum class Kind {
        None,
        ShowError,     ///< message box kErrorText / kErrorCaption
        Send,          ///< send `command` (the next register of the write-back)
        Reload,        ///< ReLoadClick
        ShowCopyPage,  ///< the write-back is done: make CopySheet the active page
    };
    Kind kind = Kind::None;
    SettingCommand command;
};
inline constexpr int kWriteBackFirst = 43;
inline constexpr int kWriteBackLast = 47;
/// The reaction of the Adjust page. The colour-matrix write-back sends
/// registers 43..47 one per reply, each from `registerShadow` (the register
/// values last read from or written to the camera, indexed by register).
AdjustAction AdjustReplyAction(const link::Reply& reply, const link::Payload& lastCommand,
                               std::span<const std::int32_t> registerShadow);

// ---- enabling rules -------------------------------------------------------------------

inline constexpr int kNoSelection = -1;

/// The control values the enabling rules look at (indices kNoSelection when
/// nothing is selected).
struct EnablingInputs {
    bool wb_sel = false;
    int Ctitle = kNoSelection;
    int Zoom = kNoSelection;
    int wb_select = kNoSelection;
    int WB_preset = kNoSelection;
    int Lens = kNoSelection;
    int Sync = kNoSelection;
    int AGC_SEL = kNoSelection;
    int BLC = kNoSelection;
    bool BlcPreset = false;
    int MoDetect = kNoSelection;
    bool MoPre = false;
    bool Freeze = false;
    bool operator==(const EnablingInputs&) const = default;
};

/// The inputs read through the page's own lookup: `valueOf(name)` gives a
/// selection's item index (kNoSelection for none) or a check box's 0/1.
EnablingInputs EnablingInputsFrom(const std::function<int(std::string_view)>& valueOf);

struct Enabling {
    std::string_view control;  ///< objectName; blc_panel and MoArea2 hold the grid cells
    bool enabled;
    bool operator==(const Enabling&) const = default;
};

/// The enabling rules in their order; a control may appear more than once and
/// the last entry wins. Controls not listed keep their state.
std::vector<Enabling> EnablingRules(const EnablingInputs& in);

}  // namespace tern::transfer
