// What the host does with its arguments. Browsers pass the extension's
// origin (Chromium family) or the manifest's path and the add-on's ID
// (Firefox), and never an option, so only a first argument that is exactly
// --version or --help is answered; every other command line starts the
// relay as usual.
#pragma once

#include <optional>

namespace vk {

// Prints the version or the usage when the first argument asks for one and
// returns the exit status; nothing when the host is to run.
std::optional<int> answer_information_request(int argc, char** argv);

}  // namespace vk
