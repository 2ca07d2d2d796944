#include "app/Options.h"

#include <algorithm>

namespace tern::app {

bool ParseAppArgs(const std::vector<std::string>& args, AppOptions& options, std::string& error) {
    std::vector<std::string> cameraArgs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (a == "--version") {
            options.version = true;
        } else if (a == "--mode") {
            std::string m;
            if (!value(m)) return false;
            std::transform(m.begin(), m.end(), m.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (m == "dbg") {
                options.toolMode = link::ToolMode::Dbg;
            } else if (m == "apl") {
                options.toolMode = link::ToolMode::Apl;
            } else if (m == "kizu") {
                options.toolMode = link::ToolMode::Kizu;
            } else {
                error = "--mode takes dbg, apl or kizu, not \"" + m + "\"";
                return false;
            }
        } else if (a == "--page") {
            std::string m;
            if (!value(m)) return false;
            std::transform(m.begin(), m.end(), m.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            static const char* const kNames[link::kPageCount] = {"adjust", "debug", "defect", "copy", "setup1", "setup2"};
            options.page.reset();
            for (int i = 0; i < link::kPageCount; ++i) {
                if (m == kNames[i]) options.page = static_cast<link::Page>(i);
            }
            if (!options.page) {
                error = "--page takes adjust, debug, defect, copy, setup1 or setup2, not \"" + m + "\"";
                return false;
            }
        } else if (a == "--port" || a == "--port2") {
            std::string& device = a == "--port" ? options.port1 : options.port2;
            if (!value(device)) return false;
            if (device.empty()) {
                error = a + ": the device name is empty (give a path such as /dev/ttyUSB0)";
                return false;
            }
        } else if (a == "--trace") {
            if (!value(options.trace)) return false;
            if (options.trace.empty()) {
                error = "--trace: the file name is empty";
                return false;
            }
        } else if (a == "--simulate") {
            options.simulate = true;
        } else if (a == "--screenshot") {
            if (!value(options.screenshot)) return false;
        } else {
            cameraArgs.push_back(a);
        }
    }
    if (cameraArgs.empty()) return true;
    if (!options.simulate) {
        error = "unknown argument \"" + cameraArgs.front() + "\" (virtual camera options need --simulate)";
        return false;
    }
    return camera::ParseCameraArgs(cameraArgs, options.camera, error);
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
           "  --port2 DEV           device for COM2 (default /dev/ttyS1, or COM1's device\n"
           "                        when only --port is given)\n"
           "  --trace FILE          write every byte on the line to FILE, timed, and each\n"
           "                        frame decoded in words (for a support request)\n"
           "  --simulate            start a virtual camera and use it as COM1\n"
           "  --screenshot FILE     save the window as an image once the first page is read, then end\n"
           "  --version             the program's version\n"
           "  --help                this text\n"
           "Virtual camera options (with --simulate):\n" +
           camera::CameraOptionsUsage();
}

}  // namespace tern::app
