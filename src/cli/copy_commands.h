// ternctl's copy commands: the camera's settings memory to a settings file
// and back, a file listed, and two memories compared.
//
//   ternctl backup  [--port DEV|auto] [--port2 DEV] [--trace FILE] [--quiet] [--force] FILE
//   ternctl restore [--port DEV|auto] [--port2 DEV] [--trace FILE] (--single|--batch) [--verify] [--quiet] FILE
//   ternctl show    FILE
//   ternctl diff    A B
//   ternctl diff    FILE --port DEV|auto [--port2 DEV] [--trace FILE] [--quiet]
//
// Exit 0 on success; 1 on any failure (and, for diff, when words differ),
// with one line of its own on stderr first and what to do on the lines after
// it; 2 for a usage error (and for diff's trouble).
// Progress goes to stderr, a bar on a terminal and plain counts otherwise.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tern::cli {

int Backup(const std::vector<std::string>& args);
int Restore(const std::vector<std::string>& args);
int Show(const std::vector<std::string>& args);
int Diff(const std::vector<std::string>& args);

/// The copy commands' part of ternctl's usage text.
void CopyUsage(std::ostream& out);
/// ternctl's exit statuses, the last part of its usage text.
void ExitStatusUsage(std::ostream& out);

}  // namespace tern::cli
