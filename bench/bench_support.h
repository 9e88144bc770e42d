// What the process benchmarks share: failing with the helpers they started
// stopped, clocks, medians and counts on the command line.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace vk_bench {

// Helper processes (stand-in apps) still running: a failing benchmark stops
// them, which also removes their sockets and tokens.
extern std::vector<pid_t> g_running_apps;

// Prints "<program>: <what>", stops the running apps and exits with 1.
[[noreturn]] void die(const std::string& what);
// The same with the text of errno appended.
[[noreturn]] void die_errno(const std::string& what);
// The name die() prints; set once at start.
void set_program_name(const char* name);

// Monotonic wall-clock seconds.
double now_seconds();

double median(std::vector<double> v);

// `text` as a count of at least 1, or nothing.
std::optional<int> parse_count(const char* text);

}  // namespace vk_bench
