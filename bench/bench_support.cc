#include "bench/bench_support.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <charconv>

namespace vk_bench {

std::vector<pid_t> g_running_apps;

namespace {
const char* g_program_name = "bench";
}  // namespace

void set_program_name(const char* name) { g_program_name = name; }

void die(const std::string& what) {
  fprintf(stderr, "%s: %s\n", g_program_name, what.c_str());
  for (pid_t pid : g_running_apps) kill(pid, SIGTERM);
  exit(1);
}

void die_errno(const std::string& what) { die(what + ": " + strerror(errno)); }

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::optional<int> parse_count(const char* text) {
  int value = 0;
  const char* end = text + strlen(text);
  auto [p, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || p != end || value < 1) return std::nullopt;
  return value;
}

}  // namespace vk_bench
