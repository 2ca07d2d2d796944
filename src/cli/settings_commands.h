// ternctl get / set: the camera's settings by the names of the window's
// controls, read through the pages' read chains and sent as the pages send
// them, one exchange at a time.
//
//   ternctl get [--port DEV|auto] [--json] [NAME...]
//   ternctl set [--port DEV|auto] [--save] [--service] NAME=VALUE... | --from FILE
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tern::cli {

int Get(const std::vector<std::string>& args);
int Set(const std::vector<std::string>& args);
/// ternctl diff --settings A B | --settings --port DEV FILE: settings by name.
int DiffSettings(const std::vector<std::string>& args);
/// ternctl describe [--json]: every setting, its type, values, service flag and page.
int Describe(const std::vector<std::string>& args);

/// The setting names with their values, one a line, for the help and the README.
void SettingsList(std::ostream& out);

}  // namespace tern::cli
