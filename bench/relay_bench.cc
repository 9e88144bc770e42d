// relay_bench: round trips per second and MB/s of the real host against a
// minimal C relay (bench/minimal_relay.c), both relaying the same requests to
// the stand-in app. Both relays stay running and take turns in short batches
// (ABAB..., the first turn alternating), and medians are reported, because
// the machine this runs on is usually shared.
//
//   relay_bench [--rounds R] [--small N] [--large N] [--rss N] [--dir DIR]
//               [--host-env NAME=VALUE]...
//   relay_bench --emit small|large N     (N request frames on stdout, for
//                                         profiling the host by hand)
//
// --host-env adds a third relay: the host again with NAME=VALUE in its
// environment (e.g. GLIBC_TUNABLES=... to try allocator settings), and
// --host-also PATH another host executable (e.g. one linked differently).
// Timed: from the first request of a batch written to its last reply read;
// every reply's length is checked, and the first reply of every relay byte
// for byte.
//
// Cold mode (--cold N, or --only cold) is what a browser pays per message
// when it starts a host for each one: start the relay, write one ~200-byte
// request, read the reply, close its input and wait for it to exit, N times
// per relay in turn. Timed from the spawn to the reply read and to the exit;
// the relay's own CPU time comes from wait4.

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
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_support.h"
#include "native_messaging/ipc_auth.h"
#include "native_messaging/json.h"
#include "native_messaging/protocol.h"
#include "native_messaging/unique_fd.h"

extern char** environ;

namespace {

using namespace vk_bench;

constexpr std::size_t kSmallTarget = 200;
constexpr std::size_t kLargeBody = 256 * 1024;
constexpr std::size_t kRssReply = 1'048'576;
constexpr const char* kSocketName = "vellumkeep-native.sock";

struct Options {
  int rounds = 31;
  int small = 1000;
  int large = 50;
  int rss = 10;
  int cold = 301;
  std::string only;  // "warm", "cold" or "rss"; empty: all three
  std::string dir = VK_BENCH_RUN_DIR;
  std::string host = VK_BENCH_HOST;
  std::string minimal = VK_BENCH_MINIMAL;
  std::string stand_in = VK_BENCH_STAND_IN;
  std::vector<std::string> host_env;   // one extra host run with these set
  std::vector<std::string> host_also;  // further host executables to compare
  std::optional<std::string> emit;     // "small" or "large"
  int emit_count = 0;
};





// CPU time of this process; unlike wall time it does not count waiting for
// a core on a busy machine.
double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}


std::string load_average() {
  FILE* f = fopen("/proc/loadavg", "r");
  if (!f) return "n/a";
  char line[128] = {};
  if (!fgets(line, sizeof line, f)) line[0] = '\0';
  fclose(f);
  std::string text(line);
  // The first three fields: 1, 5 and 15 minute averages.
  std::size_t cut = 0;
  for (int spaces = 0; cut < text.size() && spaces < 3; ++cut) {
    if (text[cut] == ' ') ++spaces;
  }
  return text.substr(0, cut > 0 ? cut - 1 : 0);
}

// ---- Requests -----------------------------------------------------------------

// Bodies are compact with sorted keys, so the stand-in app's echo of a request
// (without the token) is byte for byte the request, through either relay.
std::string small_body() {
  const std::string head = "{\"command\":\"credentials.lookup\",\"id\":4711,\"nonce\":\"";
  const std::string tail =
      "\",\"origin\":\"https://accounts.example.com\",\"payload\":{\"fields\":[\"username\","
      "\"password\"],\"url\":\"https://accounts.example.com/signin\"},\"version\":2}";
  std::string nonce;
  while (head.size() + nonce.size() + tail.size() < kSmallTarget) nonce += "0123456789abcdef"[nonce.size() % 16];
  return head + nonce + tail;
}

// A 256 KiB body: a base64-like blob, as an attachment or a vault export.
std::string large_body() {
  const std::string head = "{\"command\":\"vault.import\",\"data\":\"";
  const std::string tail = "\",\"id\":4712}";
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string body = head;
  std::uint32_t x = 12345;
  while (body.size() + tail.size() < kLargeBody) {
    x = x * 1103515245u + 12345u;
    body += kAlphabet[(x >> 16) % 64];
  }
  return body + tail;
}

std::string frame_of(const std::string& body) {
  std::string frame(4, '\0');
  const auto length = static_cast<std::uint32_t>(body.size());
  memcpy(frame.data(), &length, sizeof length);
  return frame + body;
}

// ---- Child processes -------------------------------------------------------------

void write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) die_errno("write to relay");
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool read_full(int fd, char* buffer, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::read(fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// A pipe both of whose ends close on exec.
void cloexec_pipe(int fds[2]) {
  vk::UniqueFd read_end;
  vk::UniqueFd write_end;
  if (vk::Result<void> made = vk::open_cloexec_pipe(read_end, write_end); !made) {
    die("pipe: " + made.error().text());
  }
  fds[0] = read_end.release();
  fds[1] = write_end.release();
}

struct Child {
  pid_t pid = -1;
  int to_child = -1;    // its standard input
  int from_child = -1;  // its standard output
};

// A prepared start of `args` with the socket variable set, so that starting
// it again costs only the spawn itself.
class Launch {
 public:
  Launch(const std::vector<std::string>& args, const std::string& socket_path,
         const std::vector<std::string>& extra_env = {})
      : args_(args) {
    for (char** e = environ; *e; ++e) {
      if (strncmp(*e, "VK_IPC_SOCKET_PATH=", 19) != 0) env_.emplace_back(*e);
    }
    env_.push_back("VK_IPC_SOCKET_PATH=" + socket_path);
    env_.insert(env_.end(), extra_env.begin(), extra_env.end());
    for (std::string& s : args_) argv_.push_back(s.data());
    argv_.push_back(nullptr);
    for (std::string& s : env_) envp_.push_back(s.data());
    envp_.push_back(nullptr);
  }
  Launch(const Launch&) = delete;
  Launch& operator=(const Launch&) = delete;

  // Starts the program with pipes on its standard input and output;
  // standard error is inherited so that diagnostics show.
  Child start() const {
    int in[2];
    int out[2];
    cloexec_pipe(in);
    cloexec_pipe(out);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    Child child;
    int rc = posix_spawn(&child.pid, argv_[0], &actions, nullptr, argv_.data(), envp_.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      errno = rc;
      die_errno("cannot start " + args_[0]);
    }
    close(in[0]);
    close(out[1]);
    child.to_child = in[1];
    child.from_child = out[0];
    return child;
  }

 private:
  std::vector<std::string> args_;
  std::vector<std::string> env_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

Child spawn(const std::vector<std::string>& args, const std::string& socket_path,
            const std::vector<std::string>& extra_env = {}) {
  return Launch(args, socket_path, extra_env).start();
}

// Closes the child's input and waits for it; its resource usage lands in `usage`.
int finish(Child& child, rusage* usage) {
  if (child.to_child >= 0) close(child.to_child);
  int status = 0;
  while (wait4(child.pid, &status, 0, usage) < 0) {
    if (errno != EINTR) die_errno("wait4");
  }
  close(child.from_child);
  return status;
}

// The stand-in app on `socket_path`, ready once it printed its line.
struct App {
  Child child;
};

App start_app(const Options& options, const std::string& socket_path,
              const std::vector<std::string>& extra) {
  std::vector<std::string> args = {options.stand_in, "--socket", socket_path};
  args.insert(args.end(), extra.begin(), extra.end());
  App app{spawn(args, socket_path)};
  g_running_apps.push_back(app.child.pid);
  std::string line;
  char c;
  while (read_full(app.child.from_child, &c, 1) && c != '\n') line += c;
  if (line != socket_path) die("stand-in app did not start (printed \"" + line + "\")");
  return app;
}

void stop_app(App& app) {
  std::erase(g_running_apps, app.child.pid);
  kill(app.child.pid, SIGTERM);
  rusage usage;
  finish(app.child, &usage);
}

// Peak resident set of a live process, from /proc; 0 where unknown.
long vm_hwm_kib(pid_t pid) {
  FILE* f = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (!f) return 0;
  char line[256];
  long kib = 0;
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, "VmHWM:", 6) == 0) kib = strtol(line + 6, nullptr, 10);
  }
  fclose(f);
  return kib;
}

// ---- Relays ------------------------------------------------------------------------

// Reads one reply frame of `relay` into `buffer`; it must be `expected_length`
// bytes, and equal `expected` when that is given.
void read_reply(const std::string& relay, int fd, std::vector<char>& buffer, std::size_t expected_length,
                const std::string* expected) {
  std::uint32_t length = 0;
  if (!read_full(fd, buffer.data(), 4)) die(relay + ": no reply");
  memcpy(&length, buffer.data(), 4);
  if (length > buffer.size() - 4 || !read_full(fd, buffer.data() + 4, length)) die(relay + ": reply cut short");
  const bool wrong =
      length != expected_length || (expected && memcmp(buffer.data() + 4, expected->data(), length) != 0);
  if (wrong) {
    die(relay + ": unexpected reply: " + std::string(buffer.data() + 4, std::min<std::size_t>(length, 300)));
  }
}

struct Relay {
  std::string name;
  std::string path;
  std::vector<std::string> env;
};

// A relay process kept running across batches.
class RunningRelay {
 public:
  RunningRelay(const Relay& relay, const std::string& socket_path)
      : relay_(relay), child_(spawn({relay.path}, socket_path, relay.env)), reply_(4 + 1'048'576) {}

  // One round trip; the reply must be `expected_length` bytes, and equal
  // `expected` when that is given.
  void exchange(const std::string& request, std::size_t expected_length, const std::string* expected) {
    write_all(child_.to_child, request);
    read_reply(relay_.name, child_.from_child, reply_, expected_length, expected);
    ++exchanges_;
  }

  // Seconds for `count` round trips.
  double batch(const std::string& request, int count, std::size_t expected_length) {
    const double start = now_seconds();
    for (int i = 0; i < count; ++i) exchange(request, expected_length, nullptr);
    return now_seconds() - start;
  }

  long vm_hwm() const { return vm_hwm_kib(child_.pid); }

  // User and system CPU seconds per round trip over the relay's whole life.
  struct Cpu {
    double user = 0;
    double system = 0;
  };

  // Ends the relay and reports its CPU time per round trip.
  Cpu finish_cpu_per_exchange() {
    rusage usage{};
    const int status = finish(child_, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die(relay_.name + ": did not exit with status 0");
    const auto n = static_cast<double>(exchanges_);
    return {tv_seconds(usage.ru_utime) / n, tv_seconds(usage.ru_stime) / n};
  }

 private:
  static double tv_seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
  }

  const Relay& relay_;
  Child child_;
  std::vector<char> reply_;
  long exchanges_ = 0;
};

// ---- The host's JSON work, in process -----------------------------------------------

// What the host computes for one round trip apart from system calls and
// allocation: parse the request, add the token, write the request frame,
// parse the reply, write the reply frame. Returns the least CPU seconds per
// round trip of five samples (the least is the one least disturbed).
double json_work_per_round_trip(const std::string& request_body, const std::string& reply_body,
                                int iterations) {
  const std::string token(64, 'a');
  std::size_t sink = 0;
  std::string request_frame;
  std::string reply_frame;
  auto once = [&] {
    vk::Result<vk::JsonValue, vk::JsonParseError> request = vk::parse_json(request_body);
    if (!request) die("bench request is not JSON");
    vk::JsonValue outgoing = vk::inject_auth_token(std::move(request).value(), token);
    request_frame.clear();
    sink += vk::append_frame(outgoing, request_frame);
    vk::Result<vk::JsonValue, vk::JsonParseError> reply = vk::parse_json(reply_body);
    if (!reply) die("bench reply is not JSON");
    reply_frame.clear();
    sink += vk::append_frame(*reply, reply_frame);
  };
  once();
  double least = 0;
  for (int k = 0; k < 5; ++k) {
    const double start = cpu_seconds();
    for (int i = 0; i < iterations; ++i) once();
    const double sample = (cpu_seconds() - start) / iterations;
    if (k == 0 || sample < least) least = sample;
  }
  if (sink == 0) die("nothing written");
  return least;
}

// ---- Cold starts -------------------------------------------------------------------

struct ColdSeries {
  std::vector<double> reply;  // seconds from the spawn to the reply read
  std::vector<double> exit;   // seconds from the spawn to the exit
  std::vector<double> cpu;    // the relay's own user + system seconds
};

// What a live process has mapped, from /proc (where there is one).
struct Mappings {
  int regions = 0;
  int shared_objects = 0;  // distinct files named *.so*, the dynamic loader included
};

std::optional<Mappings> mappings_of(pid_t pid) {
  FILE* f = fopen(("/proc/" + std::to_string(pid) + "/maps").c_str(), "r");
  if (!f) return std::nullopt;
  Mappings m;
  std::vector<std::string> objects;
  char line[4096];
  while (fgets(line, sizeof line, f)) {
    ++m.regions;
    const char* path = strchr(line, '/');
    if (path == nullptr) continue;
    std::string name(path, strcspn(path, "\n"));
    const std::size_t slash = name.rfind('/');
    if (name.find(".so", slash) == std::string::npos) continue;
    if (std::find(objects.begin(), objects.end(), name) == objects.end()) objects.push_back(name);
  }
  fclose(f);
  m.shared_objects = static_cast<int>(objects.size());
  return m;
}

// Waits for a relay that was given one request and reports its CPU seconds.
double finish_cold(const Relay& relay, Child& child) {
  rusage usage{};
  const int status = finish(child, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die(relay.name + ": did not exit with status 0");
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// `starts` whole lives of every relay in turn (the first turn rotating):
// spawn, one request, its reply, exit.
std::vector<ColdSeries> measure_cold(const std::vector<Relay>& relays, const std::string& socket_path,
                                     const std::string& body, int starts) {
  const std::string request = frame_of(body);
  std::vector<std::unique_ptr<Launch>> launches;
  for (const Relay& r : relays) launches.push_back(std::make_unique<Launch>(std::vector{r.path}, socket_path, r.env));
  std::vector<char> buffer(4 + body.size());
  std::vector<ColdSeries> series(relays.size());
  const std::size_t n = relays.size();
  for (int round = 0; round < starts; ++round) {
    for (std::size_t turn = 0; turn < n; ++turn) {
      const std::size_t k = (turn + static_cast<std::size_t>(round)) % n;
      const double start = now_seconds();
      Child child = launches[k]->start();
      write_all(child.to_child, request);
      read_reply(relays[k].name, child.from_child, buffer, body.size(), &body);
      const double replied = now_seconds();
      const double cpu = finish_cold(relays[k], child);
      series[k].reply.push_back(replied - start);
      series[k].exit.push_back(now_seconds() - start);
      series[k].cpu.push_back(cpu);
    }
  }
  return series;
}

void report_cold(const std::vector<Relay>& relays, const std::string& socket_path, const std::string& body,
                 int starts) {
  const std::vector<ColdSeries> series = measure_cold(relays, socket_path, body, starts);
  printf("\ncold starts: %d per relay, each spawn -> one %zu-byte request -> reply -> exit; medians.\n"
         "\"ratio\" is the minimal relay's median spawn-to-reply time / this relay's. Mappings,\n"
         "shared objects and VmHWM are read from /proc once the first reply is in.\n\n",
         starts, body.size());
  printf("| relay    | spawn->reply | spawn->exit |    CPU    | ratio | mappings | shared objects |   VmHWM   |\n");
  printf("|----------|--------------|-------------|-----------|-------|----------|----------------|-----------|\n");
  const std::string request = frame_of(body);
  std::vector<char> buffer(4 + body.size());
  for (std::size_t k = 0; k < relays.size(); ++k) {
    // One more start, looked at from outside while it waits for its next request.
    Child child = spawn({relays[k].path}, socket_path, relays[k].env);
    write_all(child.to_child, request);
    read_reply(relays[k].name, child.from_child, buffer, body.size(), &body);
    const std::optional<Mappings> maps = mappings_of(child.pid);
    const long hwm = vm_hwm_kib(child.pid);
    finish_cold(relays[k], child);
    const double reply = median(series[k].reply);
    printf("| %-8s | %9.3f ms | %8.3f ms | %6.3f ms | %5.2f | %8s | %14s | %5ld KiB |\n", relays[k].name.c_str(),
           reply * 1e3, median(series[k].exit) * 1e3, median(series[k].cpu) * 1e3, median(series[0].reply) / reply,
           maps ? std::to_string(maps->regions).c_str() : "n/a",
           maps ? std::to_string(maps->shared_objects).c_str() : "n/a", hwm);
  }
}

// ---- Options ------------------------------------------------------------------------


Options parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) die("option " + std::string(arg) + " needs a value");
      return argv[++i];
    };
    auto count = [&]() {
      std::optional<int> n = parse_count(value());
      if (!n) die("option " + std::string(arg) + " needs a positive number");
      return *n;
    };
    if (arg == "--rounds") {
      o.rounds = count();
    } else if (arg == "--small") {
      o.small = count();
    } else if (arg == "--large") {
      o.large = count();
    } else if (arg == "--rss") {
      o.rss = count();
    } else if (arg == "--cold") {
      o.cold = count();
    } else if (arg == "--only") {
      o.only = value();
      if (o.only != "warm" && o.only != "cold" && o.only != "rss") die("--only takes warm, cold or rss");
    } else if (arg == "--host-also") {
      o.host_also.push_back(value());
    } else if (arg == "--dir") {
      o.dir = value();
    } else if (arg == "--host-env") {
      std::string setting = value();
      if (setting.find('=') == std::string::npos) die("--host-env takes NAME=VALUE");
      o.host_env.push_back(setting);
    } else if (arg == "--emit") {
      o.emit = value();
      if (*o.emit != "small" && *o.emit != "large") die("--emit takes small or large");
      o.emit_count = count();
    } else {
      die("unknown option " + std::string(arg) +
          "\nusage: relay_bench [--rounds R] [--small N] [--large N] [--rss N] [--cold N]"
          " [--only warm|cold|rss] [--dir DIR] [--host-env NAME=VALUE]... [--host-also PATH]...\n"
          "       relay_bench --emit small|large N");
    }
  }
  return o;
}

// ---- Measuring and reporting ----------------------------------------------------------

struct Series {
  std::vector<double> rate;   // round trips per second, one per round
  std::vector<double> ratio;  // against the minimal relay in the same round
  double cpu_user = 0;        // CPU seconds per round trip
  double cpu_system = 0;
};

double spread_percent(const std::vector<double>& v) {
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  return 100.0 * (*hi - *lo) / median(v);
}

// Runs `rounds` batches of `count` requests through every relay in turn.
// relays[0] is the baseline the ratios are taken against.
std::vector<Series> measure(const std::vector<Relay>& relays, const std::string& socket_path,
                            const std::string& body, int count, int rounds, const char* label) {
  const std::string request = frame_of(body);
  std::vector<RunningRelay> running;
  running.reserve(relays.size());
  for (const Relay& r : relays) running.emplace_back(r, socket_path);
  // The first reply is checked in full; it also pays for page faults and
  // lazy binding, which a long-lived relay pays once.
  for (RunningRelay& r : running) r.exchange(request, body.size(), &body);

  std::vector<Series> series(relays.size());
  const std::size_t n = relays.size();
  for (int round = 0; round < rounds; ++round) {
    std::vector<double> rate(n);
    // Rotate who goes first, so that no relay always follows the same one.
    for (std::size_t turn = 0; turn < n; ++turn) {
      const std::size_t k = (turn + static_cast<std::size_t>(round)) % n;
      rate[k] = count / running[k].batch(request, count, body.size());
    }
    printf("%-7s round %2d:", label, round + 1);
    for (std::size_t k = 0; k < n; ++k) {
      series[k].rate.push_back(rate[k]);
      series[k].ratio.push_back(rate[k] / rate[0]);
      printf("  %s %8.0f rt/s", relays[k].name.c_str(), rate[k]);
    }
    printf("\n");
    fflush(stdout);
  }
  for (std::size_t k = 0; k < n; ++k) {
    const RunningRelay::Cpu cpu = running[k].finish_cpu_per_exchange();
    series[k].cpu_user = cpu.user;
    series[k].cpu_system = cpu.system;
  }
  return series;
}

void print_table(const char* label, std::size_t bytes_per_round_trip, const std::vector<Relay>& relays,
                 const std::vector<Series>& series) {
  for (std::size_t k = 0; k < relays.size(); ++k) {
    const double rate = median(series[k].rate);
    printf("| %-8s | %-8s | %9.0f | %8.1f | %5.2f | %6.2f | %7.1f us | %5.0f / %5.0f us | %5.0f%% |\n", label,
           relays[k].name.c_str(), rate, rate * static_cast<double>(bytes_per_round_trip) / 1e6,
           median(series[k].rate) / median(series[0].rate), median(series[k].ratio),
           (series[k].cpu_user + series[k].cpu_system) * 1e6, series[k].cpu_user * 1e6,
           series[k].cpu_system * 1e6, spread_percent(series[k].rate));
  }
}

}  // namespace

int main(int argc, char** argv) {
  vk_bench::set_program_name("relay_bench");
  Options options = parse_options(argc, argv);
  const std::string small = small_body();
  const std::string large = large_body();

  if (options.emit) {
    const std::string frame = frame_of(*options.emit == "small" ? small : large);
    for (int i = 0; i < options.emit_count; ++i) write_all(STDOUT_FILENO, frame);
    return 0;
  }
  signal(SIGPIPE, SIG_IGN);

  // A private directory in the build tree: the host refuses /tmp.
  std::string run_dir = options.dir + "/relay-bench.XXXXXX";
  if (!mkdtemp(run_dir.data())) die_errno("mkdtemp in " + options.dir);
  // Unix socket paths must stay short; when this one would not, work from
  // inside the directory with relative paths.
  std::string base = run_dir;
  if (run_dir.size() + 32 >= 100) {
    if (chdir(run_dir.c_str()) != 0) die_errno("chdir " + run_dir);
    base = ".";
  }
  const std::string echo_socket = base + "/echo/" + kSocketName;
  const std::string big_socket = base + "/big/" + kSocketName;

  std::vector<Relay> relays = {{"minimal", options.minimal, {}}, {"host", options.host, {}}};
  if (!options.host_env.empty()) relays.push_back({"host+env", options.host, options.host_env});
  for (std::size_t i = 0; i < options.host_also.size(); ++i) {
    relays.push_back({"host" + std::to_string(i + 2), options.host_also[i], {}});
  }
  const auto runs = [&](const char* mode) { return options.only.empty() || options.only == mode; };

  printf("relay_bench: %d rounds of %d small (%zu-byte) and %d large (%zu-byte) requests per relay\n",
         options.rounds, options.small, small.size(), options.large, large.size());
  printf("build:   %s%s\n", VK_BENCH_CONFIG,
         std::string_view(VK_BENCH_CONFIG) == "Release" ? "" : " (numbers mean little outside a Release build)");
  printf("host:    %s\nminimal: %s\n", options.host.c_str(), options.minimal.c_str());
  for (const std::string& e : options.host_env) printf("host+env: %s\n", e.c_str());
  for (std::size_t k = 2 + (options.host_env.empty() ? 0 : 1); k < relays.size(); ++k) {
    printf("%s:   %s\n", relays[k].name.c_str(), relays[k].path.c_str());
  }
  printf("load average before: %s\n\n", load_average().c_str());
  fflush(stdout);

  App app = start_app(options, echo_socket, {});
  if (runs("warm")) {
    std::vector<Series> small_series = measure(relays, echo_socket, small, options.small, options.rounds, "small");
    std::vector<Series> large_series = measure(relays, echo_socket, large, options.large, options.rounds, "256KiB");

    printf("\nload average after: %s\n\n", load_average().c_str());
    printf("Medians over %d rounds. MB/s counts request and reply bodies (10^6 bytes). \"ratio\" is\n"
           "median rate / median minimal rate; \"paired\" the median of per-round ratios; CPU is the\n"
           "relay process's own user+system time per round trip (rusage); spread is (max-min)/median\n"
           "of the round rates.\n\n",
           options.rounds);
    printf("| requests | relay    |      rt/s |     MB/s | ratio | paired |  CPU / rt  |   user / system   | spread |\n");
    printf("|----------|----------|-----------|----------|-------|--------|------------|-------------------|--------|\n");
    print_table("~200 B", 2 * small.size(), relays, small_series);
    print_table("256 KiB", 2 * large.size(), relays, large_series);

    // Where the host's time goes: its own CPU time against the JSON work it
    // does, measured in this process on the same bodies.
    const double json = json_work_per_round_trip(large, large, 20);
    const double small_json = json_work_per_round_trip(small, small, 5000);
    auto split = [](const char* label, const Series& host, const Series& minimal, double json_cpu) {
      const double host_cpu = host.cpu_user + host.cpu_system;
      const double minimal_cpu = minimal.cpu_user + minimal.cpu_system;
      printf("%-8s host CPU %.1f us per round trip: JSON work (in process) %.1f us = %.0f%%; the rest %.1f us"
             " (minimal relay's whole CPU: %.1f us)\n",
             label, host_cpu * 1e6, json_cpu * 1e6, 100 * json_cpu / host_cpu, (host_cpu - json_cpu) * 1e6,
             minimal_cpu * 1e6);
    };
    printf("\n");
    split("~200 B:", small_series[1], small_series[0], small_json);
    split("256 KiB:", large_series[1], large_series[0], json);
  }
  if (runs("cold")) report_cold(relays, echo_socket, small, options.cold);
  stop_app(app);
  if (runs("rss")) {
    // Peak memory while relaying replies of the largest size allowed.
    App big_app = start_app(options, big_socket, {"--reply-size", std::to_string(kRssReply)});
    const std::string ping = "{\"command\":\"ping\",\"id\":1}";
    printf("\npeak RSS while relaying %d replies of %zu bytes:\n", options.rss, kRssReply);
    for (const Relay& relay : relays) {
      RunningRelay running(relay, big_socket);
      for (int i = 0; i < options.rss; ++i) running.exchange(frame_of(ping), kRssReply, nullptr);
      // Read before the relay ends. (ru_maxrss would not do: after a spawn it
      // starts from this process's own peak.)
      const long hwm = running.vm_hwm();
      running.finish_cpu_per_exchange();
      printf("  %-10s VmHWM %6ld KiB (%.1f MiB)\n", relay.name.c_str(), hwm, static_cast<double>(hwm) / 1024);
    }
    stop_app(big_app);
  }

  if (chdir(options.dir.c_str()) == 0) {
    for (const char* sub : {"/echo", "/big"}) rmdir((run_dir + sub).c_str());
    rmdir(run_dir.c_str());
  }
  return 0;
}
