// Command lines read with CLI11, for every program of the project: the
// errors it reports turned into plain words ("--baud needs a value"), and
// names shown with their control characters escaped.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tern::camera {

/// What reading a command line found.
struct ParseOutcome {
    bool help = false;   ///< --help (or -h) was given; nothing else is checked
    std::string error;   ///< empty when the line is good
    explicit operator bool() const { return error.empty(); }
};

/// Reads `args` (without the program's name) into the options of `app`.
/// Arguments the app does not know are refused as "unknown argument 'X'"
/// (with `unknownWhat` in place of "argument" when given); "--" ends the
/// options, and "--opt=value" works wherever "--opt value" does.
ParseOutcome ParseCommandLine(CLI::App& app, const std::vector<std::string>& args,
                              std::string_view unknownWhat = "argument");

/// The help of `app` in this project's layout (ParseCommandLine sets it).
std::shared_ptr<CLI::Formatter> UsePlainHelp(CLI::App& app);

/// A single-value option that keeps the last of repeated values and refuses
/// an empty text with "NAME: the WHAT name is empty".
CLI::Option* AddNamedValue(CLI::App& app, const std::string& name, std::string& into, const std::string& what,
                           const std::string& typeName, const std::string& help);

/// `text` with every control character (and DEL) written as \xNN, so that a
/// device or file name cannot move the cursor or hide itself on a terminal.
std::string Printable(std::string_view text);

}  // namespace tern::camera
