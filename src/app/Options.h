// The command line of ternab.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "camera/options.h"
#include "link/host.h"

namespace tern::app {

struct AppOptions {
    link::ToolMode toolMode = link::ToolMode::Apl;
    std::string port1;  ///< device for COM1, empty: the default
    std::string port2;  ///< device for COM2
    bool simulate = false;
    camera::CameraOptions camera;
    std::optional<link::Page> page;  ///< the page shown first, when the mode shows it
    std::string trace;       ///< write the decoded line trace into this file
    std::string screenshot;  ///< grab the window into this file after the first chain, then end
    int fontPoints = 0;      ///< the window's font size in points; 0: the desktop's
    bool help = false;
    bool version = false;
};

/// Reads the arguments after the program name. Virtual-camera options are
/// taken only with --simulate. Returns false with a text for the user in `error`.
bool ParseAppArgs(const std::vector<std::string>& args, AppOptions& options, std::string& error);

std::string AppUsage();

}  // namespace tern::app
