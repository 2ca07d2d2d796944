#pragma once

namespace tern::app {

/// The program: builds the application, the main window and the mask window,
/// and runs until the main window closes.
int PTern(int argc, char** argv);

}  // namespace tern::app
