#include "app/Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>

#include "camera/command_line.h"

namespace tern::app {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

/// An option whose value is one of `names` (any case); the index is stored.
template <typename Apply>
void AddChoice(CLI::App& app, const std::string& name, std::vector<std::string> names, const std::string& listed,
               Apply apply) {
    app.add_option_function<std::string>(
           name,
           [names, apply](const std::string& text) {
               const auto at = std::find(names.begin(), names.end(), Lower(text));
               apply(static_cast<int>(at - names.begin()));
           })
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->check(CLI::Validator(
            [names, listed](std::string& text) {
                if (std::find(names.begin(), names.end(), Lower(text)) != names.end()) return std::string();
                return "takes " + listed + ", not \"" + camera::Printable(Lower(text)) + "\"";
            },
            ""));
}

}  // namespace

bool ParseAppArgs(const std::vector<std::string>& args, AppOptions& options, std::string& error) {
    CLI::App app("TernAB", "ternab");
    app.set_help_flag();  // --help and -h are read here, so that AppUsage stays the one help text
    app.add_flag("-h,--help", options.help);
    app.add_flag("--version", options.version);
    AddChoice(app, "--mode", {"dbg", "apl", "kizu"}, "dbg, apl or kizu", [&](int i) {
        static constexpr link::ToolMode kModes[] = {link::ToolMode::Dbg, link::ToolMode::Apl, link::ToolMode::Kizu};
        options.toolMode = kModes[i];
    });
    AddChoice(app, "--page", {"adjust", "debug", "defect", "copy", "setup1", "setup2"},
              "adjust, debug, defect, copy, setup1 or setup2", [&](int i) { options.page = static_cast<link::Page>(i); });
    camera::AddNamedValue(app, "--port", options.port1, "device", "DEV|auto", "");
    camera::AddNamedValue(app, "--port2", options.port2, "device", "DEV", "");
    camera::AddNamedValue(app, "--trace", options.trace, "file", "FILE", "");
    app.add_option("--screenshot", options.screenshot)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--simulate", options.simulate);
    app.add_option("--font-size", options.fontPoints)
        ->check(CLI::Range(12, 48).description(""))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    camera::AddCameraOptions(app, options.camera, "Virtual camera options", false);

    const camera::ParseOutcome outcome = camera::ParseCommandLine(app, args);
    if (!outcome) {
        error = outcome.error;
        return false;
    }
    if (!options.simulate) {
        // The virtual camera's options are taken only with --simulate.
        for (const CLI::Option* opt : app.get_options()) {
            if (opt->get_group() == "Virtual camera options" && opt->count() > 0) {
                error = "unknown argument \"" + opt->get_name() + "\" (virtual camera options need --simulate)";
                return false;
            }
        }
    }
    return true;
}

std::string AppUsage() {
    return "Usage: ternab [options] [virtual camera options]\n"
           "  --mode dbg|apl|kizu   tool mode: all pages, Setup1/Setup2, or CCD Defect (default apl)\n"
           "  --page NAME           the page shown first: adjust, debug, defect, copy, setup1 or setup2\n"
           "                        (one the mode shows)\n"
           "  --port DEV|auto|last  device for COM1 (default: the port last chosen with\n"
           "                        Camera > Connect to, else /dev/ttyS0); auto: the first\n"
           "                        port \"ternctl ports\" lists (USB adapters first);\n"
           "                        last: the port last chosen, else auto\n"
           "                        a camera behind a terminal server: rfc2217://HOST:PORT\n"
           "                        or tcp://HOST:PORT\n"
           "  --port2 DEV           device for COM2 (default /dev/ttyS1, or COM1's device\n"
           "                        when only --port is given)\n"
           "  --trace FILE          write every byte on the line to FILE, timed, and each\n"
           "                        frame decoded in words (for a support request)\n"
           "  --simulate            start a virtual camera and use it as COM1\n"
           "  --font-size POINTS    a larger font for the window, 12 to 48 points (default: the\n"
           "                        desktop's font, at least the window's own 12 pixels)\n"
           "  --screenshot FILE     save the window as an image once the first page is read, then end\n"
           "  --version             the program's version\n"
           "  --help                this text\n"
           "  --opt=value works wherever --opt value does.\n"
           "Virtual camera options (with --simulate):\n" +
           camera::CameraOptionsUsage(false);
}

}  // namespace tern::app
