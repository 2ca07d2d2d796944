// The camera's settings by name, in the window's terms: every setting the
// Setup1, Setup2 and Adjust pages read and send, named by its control's
// objectName, with its kind, its items or range, and the page that shows it.
// Values are texts as the window shows them: a list choice by its caption
// ("INT"), a check box "on"/"off", a slider its number, a text as text, a
// 48-cell grid as 48 digits 0/1 (cell 1 first).
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/Catalogue.h"
#include "transfer/Chain.h"
#include "transfer/Decode.h"

namespace tern::transfer {

/// Digit: one hexadecimal digit of a word that several settings share (the
/// CCD delays): sent together with the others, as the camera holds them.
enum class SettingKind { Choice, Check, Slider, Text, Grid, HexByte, Digit };

struct Setting {
    std::string_view name;  ///< the control's objectName (a grid: its cells' stem)
    Control control;
    SettingKind kind;
    std::span<const std::string_view> items;  ///< Choice: the captions by index
    int min = 0, max = 0;                     ///< Slider: the range; HexByte: the values
    bool service = false;                     ///< an Adjust page setting: the service modes only
    int block = -1;  ///< the settings block (31 45 b) it is read from; -1: its own read
    bool rangeFromCamera = false;  ///< Slider: the camera reports its maximum (the bar stops there)
    bool readOnly = false;         ///< shown, never sent
    std::string_view label = {};   ///< the caption beside the control on its page, where it has one
    bool writeOnly = false;        ///< the camera never reports it: sent, never read
};

/// Every setting, in the order `get` prints them.
std::span<const Setting> Settings();
/// By name, without regard to case.
const Setting* SettingByName(std::string_view name);

/// The values read so far, by setting name.
using SettingValues = std::map<std::string, std::string>;

/// Folds a reply's control updates into `values` (grid cells into their grid).
void CollectSettings(const std::vector<ControlUpdate>& updates, SettingValues& values);

/// The allowed values of a setting in words: "OFF, ON", "0 to 8", "up to 12 title characters".
std::string AllowedValues(const Setting& s);

/// The command that sets `s` to `value`, or nothing when the value is not one
/// the window's control could hold (then `error` names the allowed values).
std::optional<SettingCommand> SetCommand(const Setting& s, std::string_view value, std::string& error);

/// The Digit settings that share `s`'s word, in the order the command takes them.
std::vector<const Setting*> DigitsOfWord(const Setting& s);
/// The command that sends the shared word with each Digit setting's value (by name).
std::optional<SettingCommand> DigitsCommand(const Setting& s, const SettingValues& values, std::string& error);

/// The read requests `get` sends: the Setup1, Setup2 and Adjust chains, each
/// request once.
std::vector<ChainRequest> SettingReads();

}  // namespace tern::transfer
