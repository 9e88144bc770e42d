// Settings the host makes to its own process at start, before any request:
// the token must not reach a core file or another process, and the browser
// must be able to end the host whatever its launcher left behind.
#pragma once

namespace vk {

// No core file, and (on Linux) no debugger attaching as the same user and
// no reading of the host's memory through /proc.
void forbid_core_dumps();

// SIGTERM back to its default action and unblocked, so it ends the host at
// once in every blocking call: browsers send it when the port closes, and a
// launcher may have left it ignored or blocked across exec.
void restore_default_termination();

}  // namespace vk
