// Windows has no pseudo-terminals, so no virtual camera to run: its options
// are refused with the reason.
#include "camera/options.h"

namespace tern::camera {

bool ParseCameraArgs(const std::vector<std::string>&, CameraOptions&, std::string& error) {
    error = "the virtual camera runs on Linux only (it is a pseudo-terminal there)";
    return false;
}

std::string CameraOptionsUsage(bool) { return "  (the virtual camera and its options: Linux only)\n"; }

void AddCameraOptions(CLI::App&, CameraOptions&, const std::string&, bool) {}

}  // namespace tern::camera
