// Settings the host makes to its own process at start, before any request:
// the token must not reach a core file or another process, the browser
// must be able to end the host whatever its launcher left behind, and a
// closed pipe or descriptor must fail a write, not end the host or send a
// frame somewhere else.
#pragma once

namespace vk {

// No core file, and (on Linux) no debugger attaching as the same user and
// no reading of the host's memory through /proc.
void forbid_core_dumps();

// SIGTERM back to its default action and unblocked, so it ends the host at
// once in every blocking call: browsers send it when the port closes, and a
// launcher may have left it ignored or blocked across exec.
void restore_default_termination();

// Opens each closed standard descriptor on /dev/null (aborting when that is
// impossible) and ignores SIGPIPE, so closed pipes fail writes instead of
// killing the process.
void prepare_standard_streams();

}  // namespace vk
