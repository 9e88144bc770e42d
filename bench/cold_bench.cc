// cold_bench: what a browser feels of the JSON work. Every run is a fresh
// process that handles one ~1 MiB text with cold memory and exits.
//
//   1. vk-json against bench/rapidjson_normalise (RapidJSON with UTF-8
//      validation and full precision), standard input from a file, output
//      to /dev/null: wall time, CPU time and peak RSS of each process.
//   2. The host relaying one request of just under 1 MiB whose reply (from
//      vk-stand-in-app) echoes it: its peak RSS, beside the minimal relay's.
//
// Six shapes (bench/json_payloads.h); the two programs of a pair alternate,
// the first of them changing each round, and medians are reported.
//
//   cold_bench [--rounds N] [--host-rounds N] [--dir DIR]
//
// The payloads are generated in a child process, so that this process stays
// small: a spawned child's peak RSS counts from its parent's peak.

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_support.h"
#include "bench/json_payloads.h"

extern char** environ;

namespace {

using namespace vk_bench;

constexpr std::size_t kShapeSize = 1 << 20;
// Request bodies leave room for the token the host adds and for numbers
// whose written form is longer than the one generated (about 1.2% more).
constexpr std::size_t kRequestLimit = (1 << 20) - (1 << 15);
constexpr const char* kShapes[] = {"vault", "numbers", "strings", "ones", "arrays", "objects"};

struct Options {
  int rounds = 21;
  int host_rounds = 5;
  std::string dir = VK_BENCH_RUN_DIR;
};





double seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6; }

// ru_maxrss in MiB: kibibytes on Linux, bytes on macOS.
double maxrss_mib(long maxrss) {
#if defined(__APPLE__)
  return static_cast<double>(maxrss) / (1024.0 * 1024.0);
#else
  return static_cast<double>(maxrss) / 1024.0;
#endif
}


// ---- Payload files ---------------------------------------------------------------

void write_file(const std::string& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) die_errno("cannot create " + path);
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) die_errno("cannot write " + path);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  close(fd);
}


// DIR/<shape>.json (the text) and DIR/<shape>.frame (a request frame),
// written by a child process.
void write_payloads(const std::string& dir) {
  const pid_t pid = fork();
  if (pid < 0) die_errno("fork");
  if (pid == 0) {
    for (const vk_bench::Payload& p : vk_bench::json_payloads(kShapeSize)) write_file(dir + "/" + p.name + ".json", p.text);
    for (const char* shape : kShapes) {
      const std::string body = vk_bench::request_body(shape, kRequestLimit);
      const auto length = static_cast<std::uint32_t>(body.size());
      std::string frame(4, '\0');
      memcpy(frame.data(), &length, sizeof length);
      write_file(dir + "/" + shape + ".frame", frame + body);
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) die_errno("waitpid");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("payload generation failed");
}

// ---- Processes ----------------------------------------------------------------------

struct Run {
  double wall = 0;    // spawn to reaped, seconds
  double cpu = 0;     // user + system seconds of the child
  double rss = 0;     // peak resident set, MiB
};

// Runs `program` with standard input from `input` and standard output to
// `output`, with `env_extra` added to the environment; fails unless it exits 0.
Run run_once(const std::string& program, const std::string& input, const std::string& output,
             const std::vector<std::string>& env_extra = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
  env_strings.insert(env_strings.end(), env_extra.begin(), env_extra.end());
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};

  const double start = now_seconds();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    die_errno("cannot start " + program);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) die_errno("wait4");
  }
  Run run;
  run.wall = now_seconds() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die(program + " < " + input + " did not exit with status 0");
  run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  run.rss = maxrss_mib(usage.ru_maxrss);
  return run;
}

struct Series {
  std::vector<double> wall;
  std::vector<double> cpu;
  std::vector<double> rss;

  void add(const Run& r) {
    wall.push_back(r.wall);
    cpu.push_back(r.cpu);
    rss.push_back(r.rss);
  }
};

// The stand-in app listening on `socket_path`, ready once it printed the path.
pid_t start_app(const std::string& stand_in, const std::string& socket_path) {
  int out[2];
  if (pipe(out) != 0) die_errno("pipe");
  fcntl(out[0], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::string a0 = stand_in, a1 = "--socket", a2 = socket_path;
  char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, stand_in.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    errno = rc;
    die_errno("cannot start " + stand_in);
  }
  g_running_apps.push_back(pid);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  if (line != socket_path) die("stand-in app did not start (printed \"" + line + "\")");
  return pid;
}

void stop_app(pid_t pid) {
  std::erase(g_running_apps, pid);
  kill(pid, SIGTERM);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// Peak RSS of this process, MiB: the floor of every child's figure.
double own_peak_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return maxrss_mib(usage.ru_maxrss);
}

// The reply frame the relay wrote must be the echo, not an error reply.
// Only its head is read: this process must stay small (see the top).
void check_echo(const std::string& reply_path, const std::string& relay, const char* shape) {
  constexpr std::string_view kHead = "{\"id\":1,\"payload\":";
  char head[4 + kHead.size()] = {};
  const int fd = open(reply_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) die_errno("cannot open " + reply_path);
  const ssize_t n = read(fd, head, sizeof head);
  struct stat st {};
  fstat(fd, &st);
  close(fd);
  std::uint32_t length = 0;
  std::memcpy(&length, head, 4);
  const std::string_view body(head + 4, n > 4 ? static_cast<std::size_t>(n) - 4 : 0);
  if (n != static_cast<ssize_t>(sizeof head) || st.st_size != static_cast<off_t>(length) + 4 || body != kHead) {
    die(relay + " on " + shape + ": unexpected reply beginning " + std::string(body));
  }
}

Options parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg != "--rounds" && arg != "--host-rounds" && arg != "--dir") {
      die("unknown option " + std::string(arg) + "\nusage: cold_bench [--rounds N] [--host-rounds N] [--dir DIR]");
    }
    if (i + 1 >= argc) die("option " + std::string(arg) + " needs a value");
    const char* value = argv[++i];
    if (arg == "--rounds" || arg == "--host-rounds") {
      const std::optional<int> n = parse_count(value);
      if (!n) die("option " + std::string(arg) + " needs a positive number");
      (arg == "--rounds" ? o.rounds : o.host_rounds) = *n;
    } else {
      o.dir = value;
    }
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  vk_bench::set_program_name("cold_bench");
  const Options options = parse_options(argc, argv);
  signal(SIGPIPE, SIG_IGN);
  // A private directory in the build tree: the host refuses /tmp. Socket
  // paths must stay short, so the work happens inside it.
  std::string run_dir = options.dir + "/cold-bench.XXXXXX";
  if (!mkdtemp(run_dir.data())) die_errno("mkdtemp in " + options.dir);
  if (chdir(run_dir.c_str()) != 0) die_errno("chdir " + run_dir);
  write_payloads(".");

  printf("cold_bench: %d rounds per shape, %d host runs per shape; build %s%s\n", options.rounds, options.host_rounds,
         VK_BENCH_CONFIG,
         std::string_view(VK_BENCH_CONFIG) == "Release" ? "" : " (numbers mean little outside a Release build)");
  printf("This process's own peak RSS, the floor of every figure below: %.1f MiB\n\n", own_peak_mib());
  printf("Whole process, one text from a file to /dev/null. Time ratios are RapidJSON / vk-json (above 1: vk-json\n"
         "faster); the RSS ratio is vk-json / RapidJSON (below 1: vk-json smaller). Medians.\n\n");
  printf("| shape | bytes | vk-json wall | RapidJSON wall | wall ratio | vk-json CPU | RapidJSON CPU | CPU ratio |"
         " vk-json RSS | RapidJSON RSS | RSS ratio |\n");
  printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
  fflush(stdout);
  const std::string programs[2] = {VK_BENCH_VK_JSON, VK_BENCH_RAPIDJSON};
  for (const char* shape : kShapes) {
    const std::string input = std::string(shape) + ".json";
    Series series[2];
    // One unmeasured run each brings the executables and the file into the page cache.
    for (const std::string& program : programs) run_once(program, input, "/dev/null");
    for (int round = 0; round < options.rounds; ++round) {
      for (int turn = 0; turn < 2; ++turn) {
        const int k = (turn + round) % 2;
        series[k].add(run_once(programs[k], input, "/dev/null"));
      }
    }
    struct stat st {};
    stat(input.c_str(), &st);
    const double vk_wall = median(series[0].wall), rj_wall = median(series[1].wall);
    const double vk_cpu = median(series[0].cpu), rj_cpu = median(series[1].cpu);
    const double vk_rss = median(series[0].rss), rj_rss = median(series[1].rss);
    printf("| %s | %lld | %.2f ms | %.2f ms | %.2f | %.2f ms | %.2f ms | %.2f | %.1f MiB | %.1f MiB | %.2f |\n", shape,
           static_cast<long long>(st.st_size), vk_wall * 1e3, rj_wall * 1e3, rj_wall / vk_wall, vk_cpu * 1e3,
           rj_cpu * 1e3, rj_cpu / vk_cpu, vk_rss, rj_rss, vk_rss / rj_rss);
    fflush(stdout);
  }

  printf("\nOne request frame from a file, the stand-in app echoing it; peak RSS of the relay process (median).\n\n");
  printf("| shape | request bytes | host RSS | minimal relay RSS |\n|---|---|---|---|\n");
  const std::string socket_path = "./vellumkeep-native.sock";
  const pid_t app = start_app(VK_BENCH_STAND_IN, socket_path);
  const std::vector<std::string> env = {"VK_IPC_SOCKET_PATH=" + socket_path};
  for (const char* shape : kShapes) {
    const std::string frame = std::string(shape) + ".frame";
    Series host;
    Series minimal;
    for (int round = 0; round < options.host_rounds; ++round) {
      host.add(run_once(VK_BENCH_HOST, frame, "reply.host", env));
      check_echo("reply.host", "host", shape);
      minimal.add(run_once(VK_BENCH_MINIMAL, frame, "reply.minimal", env));
      check_echo("reply.minimal", "minimal relay", shape);
    }
    struct stat st {};
    stat(frame.c_str(), &st);
    printf("| %s | %lld | %.1f MiB | %.1f MiB |\n", shape, static_cast<long long>(st.st_size) - 4, median(host.rss),
           median(minimal.rss));
    fflush(stdout);
  }
  stop_app(app);
  printf("\nThis process's own peak RSS at the end: %.1f MiB\n", own_peak_mib());

  for (const char* shape : kShapes) {
    unlink((std::string(shape) + ".json").c_str());
    unlink((std::string(shape) + ".frame").c_str());
  }
  unlink("reply.host");
  unlink("reply.minimal");
  if (chdir(options.dir.c_str()) == 0) rmdir(run_dir.c_str());
  return 0;
}
