// vk-stand-in-app: a stand-in for the desktop application, for trying the
// host and for its end-to-end tests. It owns the socket and the token file,
// answers one reply frame per connection, and can misbehave on request.
//
//   vk-stand-in-app [--socket PATH] [--fault NAME] [--reply-size N]
//                   [--raw-reply TEXT] [--slow MS] [--verbose]
//
// Without --socket the socket lies where the host will look for it. An
// existing socket directory must belong to the user and be closed to
// others' writes. When listening it prints the socket path and a newline on
// standard output.
// SIGINT or SIGTERM ends it; it then removes its socket and token file.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <sys/random.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/fd_io.h"
#include "native_messaging/ipc_auth.h"
#include "native_messaging/ipc_blocking_client.h"
#include "native_messaging/ipc_path.h"
#include "native_messaging/json.h"
#include "native_messaging/protocol.h"
#include "native_messaging/result.h"
#include "native_messaging/unique_fd.h"
#include "vk_version.h"

namespace vk {
namespace {

constexpr std::string_view kProgram = "vk-stand-in-app";

// How the app treats each connection.
enum class Fault {
  none,                // answer properly
  close_before_read,   // refuse further input, then close: a host still writing
                       // gets a broken pipe (certain for requests larger than
                       // the socket buffer; a small one may already be in)
  reset_after_arrival, // close while request bytes lie unread: a reset
  close_after_read,    // read the request, close without answering
  invalid_json,        // answer with a body that is not JSON
  oversized_length,    // announce one byte more than the limit, send nothing
  truncated_reply,     // announce a reply, send half of it, close
};

struct FaultName {
  std::string_view name;
  Fault fault;
};

constexpr FaultName kFaultNames[] = {
    {"close-before-read", Fault::close_before_read},
    {"reset-after-arrival", Fault::reset_after_arrival},
    {"close-after-read", Fault::close_after_read},
    {"invalid-json", Fault::invalid_json},
    {"oversized-length", Fault::oversized_length},
    {"truncated-reply", Fault::truncated_reply},
};

// The body sent by --fault invalid-json; the host reports where it breaks.
constexpr std::string_view kInvalidJsonBody = "{\"reply\":pong}";

struct Options {
  std::optional<std::string> socket_path;
  Fault fault = Fault::none;
  std::optional<std::size_t> reply_size;  // answer a JSON string of this many bytes
  std::optional<std::string> raw_reply;   // answer these bytes as the body
  int slow_ms = 0;                        // pause before each byte of an answer
  bool verbose = false;
};

void print_usage(FILE* to) {
  fprintf(to,
          "Usage: %s [--socket PATH] [--fault NAME] [--reply-size N] [--raw-reply TEXT]\n"
          "       %*s [--slow MS] [--verbose] [--help | --version]\n"
          "faults:",
          kProgram.data(), static_cast<int>(kProgram.size()), "");
  for (const FaultName& f : kFaultNames) fprintf(to, " %s", f.name.data());
  fprintf(to, "\n");
}

template <class Int>
std::optional<Int> parse_number(std::string_view text) {
  Int value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

Result<Options> parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    auto next = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    if (arg == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (arg == "--help") {
      print_usage(stdout);
      exit(0);
    }
    if (arg == "--version") {
      fputs(version_line(kProgram).c_str(), stdout);
      exit(0);
    }
    constexpr std::string_view kTakesValue[] = {"--socket", "--fault", "--reply-size", "--raw-reply",
                                                "--slow"};
    if (std::find(std::begin(kTakesValue), std::end(kTakesValue), arg) == std::end(kTakesValue)) {
      return Error("unknown option " + std::string(arg));
    }
    std::optional<std::string_view> value = next();
    if (!value) return Error("option " + std::string(arg) + " needs a value");
    if (arg == "--socket") {
      if (value->empty()) return Error("--socket needs a path");
      options.socket_path = std::string(*value);
    } else if (arg == "--fault") {
      bool known = false;
      for (const FaultName& f : kFaultNames) {
        if (f.name == *value) {
          options.fault = f.fault;
          known = true;
        }
      }
      if (!known) return Error("unknown fault \"" + std::string(*value) + "\"");
    } else if (arg == "--reply-size") {
      std::optional<std::size_t> n = parse_number<std::size_t>(*value);
      // The smallest JSON string is the two quotation marks.
      if (!n || *n < 2) return Error("--reply-size needs a number of at least 2");
      options.reply_size = n;
    } else if (arg == "--raw-reply") {
      options.raw_reply = std::string(*value);
    } else if (arg == "--slow") {
      std::optional<int> ms = parse_number<int>(*value);
      if (!ms || *ms < 0) return Error("--slow needs a number of milliseconds");
      options.slow_ms = *ms;
    }
  }
  return options;
}

// ---- Signals ----------------------------------------------------------------

// Written by the signal handler, polled by the main loop.
int g_signal_pipe_write = -1;

extern "C" void on_stop_signal(int) {
  int saved = errno;
  char byte = 's';
  // Nothing to do on failure: a full pipe already holds a wake-up.
  [[maybe_unused]] ssize_t n = ::write(g_signal_pipe_write, &byte, 1);
  errno = saved;
}

Result<UniqueFd> install_stop_signals() {
  UniqueFd read_end, write_end;
  if (Result<void> made = open_cloexec_pipe(read_end, write_end); !made) {
    return std::move(made).error();
  }
  for (int fd : {read_end.get(), write_end.get()}) {
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) return Error::from_errno(errno);
  }
  g_signal_pipe_write = write_end.release();  // lives as long as the process
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  if (::sigaction(SIGINT, &action, nullptr) != 0 || ::sigaction(SIGTERM, &action, nullptr) != 0) {
    return Error::from_errno(errno);
  }
  // A host that goes away mid-answer must give an error, not end the app.
  ::signal(SIGPIPE, SIG_IGN);
  return read_end;
}

bool stop_requested(int signal_pipe) {
  pollfd p{signal_pipe, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// Sleeps `ms` milliseconds; false when a stop signal arrived meanwhile.
bool pause_unless_stopped(int signal_pipe, int ms) {
  pollfd p{signal_pipe, POLLIN, 0};
  int n;
  do {
    n = ::poll(&p, 1, ms);
  } while (n < 0 && errno == EINTR);
  return n == 0;
}

// ---- The socket directory, token and listener --------------------------------

std::string parent_dir(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates `dir` and missing parents with mode 0700; records what it made so
// the app can remove it again.
Result<void> make_private_dirs(const std::string& dir, std::vector<std::string>& created) {
  if (dir.empty() || dir == "/") return {};
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return Error(dir + " is not a directory");
    return {};
  }
  if (errno != ENOENT) return Error::from_errno(errno).prefixed(dir + ": ");
  Result<void> parent = make_private_dirs(parent_dir(dir), created);
  if (!parent) return parent;
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return Error::from_errno(errno).prefixed(dir + ": ");
  }
  created.push_back(dir);
  return {};
}

// 64 hexadecimal characters from the OS random source.
Result<std::string> fresh_token() {
  unsigned char bytes[32];
  if (::getentropy(bytes, sizeof bytes) != 0) return Error::from_errno(errno);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  token.reserve(2 * sizeof bytes);
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 0xF];
  }
  return token;
}

// Whoever can write the socket's directory can put their own socket and
// token there, so it must belong to this user and be closed to others.
Result<void> check_private_dir(const std::string& dir) {
  const std::string shown = dir.empty() ? "." : dir;
  struct stat st {};
  if (::stat(shown.c_str(), &st) != 0) return Error::from_errno(errno).prefixed(shown + ": ");
  if (st.st_uid != ::geteuid()) {
    return Error(shown + " is owned by uid " + std::to_string(st.st_uid) + ", not by this user (uid " +
                 std::to_string(::geteuid()) + ")");
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return Error(shown + " is writable by other users; use a private directory (mode 0700)");
  }
  return {};
}

// Written whole under a temporary name beside it, then renamed into place:
// a host reading meanwhile finds the old token or the new one, never a
// file cut short.
Result<void> write_token_file(const std::string& path, const std::string& token) {
  std::string temporary = path + ".XXXXXX";
  UniqueFd fd(::mkstemp(temporary.data()));  // created exclusively, mode 0600
  if (!fd.valid()) return Error::from_errno(errno).prefixed(temporary + ": ");
  Result<void> done = write_all(fd.get(), token);
  if (done) done = write_all(fd.get(), "\n");
  if (done) done = fd.close();
  if (done && ::rename(temporary.c_str(), path.c_str()) != 0) done = Error::from_errno(errno);
  if (!done) {
    ::unlink(temporary.c_str());
    return std::move(done).error().prefixed(path + ": ");
  }
  return {};
}

Result<sockaddr_un> socket_address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    return Error(path + ": path must be shorter than " + std::to_string(sizeof address.sun_path) +
                 " bytes");
  }
  memcpy(address.sun_path, path.data(), path.size());
  return address;
}

Result<UniqueFd> new_stream_socket() {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!fd.valid()) return Error::from_errno(errno);
  if (::fcntl(fd.get(), F_SETFD, FD_CLOEXEC) != 0) return Error::from_errno(errno);
  return fd;
}

// Removes a socket left behind by an app that died; refuses to take over
// one that still answers.
Result<void> remove_stale_socket(const std::string& path, const sockaddr_un& address) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return Error::from_errno(errno).prefixed(path + ": ");
  }
  if (!S_ISSOCK(st.st_mode)) return Error(path + " exists and is not a socket");
  Result<UniqueFd> probe = new_stream_socket();
  if (!probe) return std::move(probe).error();
  if (::connect(probe->get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return Error("another application already listens on " + path);
  }
  if (::unlink(path.c_str()) != 0) return Error::from_errno(errno).prefixed(path + ": ");
  return {};
}

// What the app made on disk, removed again on exit.
class Footprint {
 public:
  Footprint() = default;
  Footprint(const Footprint&) = delete;
  Footprint& operator=(const Footprint&) = delete;
  ~Footprint() {
    // The socket only while it is still ours: another app may have replaced it.
    struct stat st {};
    if (socket_inode_ && ::lstat(socket_path_.c_str(), &st) == 0 && st.st_ino == *socket_inode_) {
      ::unlink(socket_path_.c_str());
    }
    if (!token_path_.empty()) ::unlink(token_path_.c_str());
    // Innermost first; a directory that holds other files stays.
    for (auto it = created_dirs_.rbegin(); it != created_dirs_.rend(); ++it) ::rmdir(it->c_str());
  }

  std::vector<std::string>& created_dirs() { return created_dirs_; }
  void set_token(std::string path) { token_path_ = std::move(path); }
  void set_socket(std::string path, ino_t inode) {
    socket_path_ = std::move(path);
    socket_inode_ = inode;
  }

 private:
  std::vector<std::string> created_dirs_;
  std::string token_path_;
  std::string socket_path_;
  std::optional<ino_t> socket_inode_;
};

Result<UniqueFd> listen_on(const std::string& path, const sockaddr_un& address, Footprint& footprint) {
  Result<UniqueFd> fd = new_stream_socket();
  if (!fd) return fd;
  if (::bind(fd->get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Error::from_errno(errno).prefixed(path + ": ");
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Error::from_errno(errno).prefixed(path + ": ");
  footprint.set_socket(path, st.st_ino);
  if (::listen(fd->get(), 16) != 0) return Error::from_errno(errno).prefixed(path + ": ");
  return fd;
}

// ---- Answering --------------------------------------------------------------

// The reply to a well-formed request: an error when the token is missing or
// wrong, "pong" to a ping, otherwise the request echoed without its token.
JsonValue answer(const JsonValue& request, std::string_view token) {
  std::optional<JsonObject> object = request.as_object();
  JsonValue id;
  if (object) {
    if (const JsonValue* found = object->find("id")) id = *found;
  }
  auto refusal = [&](const char* text) {
    JsonObject reply;
    reply.set("error", JsonValue(text));
    reply.set("id", id);
    return JsonValue(std::move(reply));
  };
  const JsonValue* sent = object ? object->find(kAuthTokenMember) : nullptr;
  const std::optional<std::string> sent_token = sent ? sent->as_string() : std::nullopt;
  if (!sent_token) return refusal("missing auth_token");
  // Compared without an early exit, so timing does not reveal the prefix.
  unsigned char difference = sent_token->size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < sent_token->size() && i < token.size(); ++i) {
    difference |= static_cast<unsigned char>((*sent_token)[i] ^ token[i]);
  }
  if (difference != 0) return refusal("wrong auth_token");

  const JsonValue* command = object->find("command");
  if (command && command->as_string() == "ping") {
    JsonObject reply;
    reply.set("command", JsonValue("ping"));
    reply.set("id", id);
    reply.set("reply", JsonValue("pong"));
    return JsonValue(std::move(reply));
  }
  object->erase(kAuthTokenMember);
  return JsonValue(*object);
}

// A body of exactly `size` bytes: a JSON string of "x" characters.
std::string body_of_size(std::size_t size) {
  std::string body(size, 'x');
  body.front() = '"';
  body.back() = '"';
  return body;
}

class Connection {
 public:
  Connection(UniqueFd fd, const Options& options, int signal_pipe)
      : fd_(std::move(fd)), options_(options), signal_pipe_(signal_pipe) {}

  // Sends `bytes`, one at a time with pauses when --slow is set.
  Result<void> send(std::string_view bytes) {
    if (options_.slow_ms == 0) return write_all(fd_.get(), bytes, FdKind::socket);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (!pause_unless_stopped(signal_pipe_, options_.slow_ms)) return Error("stopped");
      Result<void> sent = write_all(fd_.get(), bytes.substr(i, 1), FdKind::socket);
      if (!sent) return sent;
    }
    return {};
  }

  Result<std::string> read_request() {
    Result<std::string, FrameReadError> body = read_frame(fd_.get(), FdKind::socket);
    if (body) return std::move(body).value();
    const FrameReadError& error = body.error();
    if (error.failure == FrameFailure::too_large) {
      return Error("request announces " + std::to_string(error.announced_length) + " bytes");
    }
    return error.io;
  }

  // Handles the connection by the options; the text says what happened.
  std::string serve(std::string_view token) {
    switch (options_.fault) {
      case Fault::close_before_read:
        return close_before_read();
      case Fault::reset_after_arrival:
        return reset_after_arrival();
      default:
        break;
    }
    Result<std::string> request = read_request();
    if (!request) return "request unreadable: " + request.error().text();
    switch (options_.fault) {
      case Fault::close_after_read:
        return "read " + std::to_string(request->size()) + " bytes, closed without answering";
      case Fault::oversized_length:
        return report(send(std::string_view(encode_frame_length(kMaxMessageSize + 1).data(),
                                            kFrameLengthSize)),
                      "announced an oversized reply");
      case Fault::invalid_json:
        return report(send(encode_raw_frame(kInvalidJsonBody)), "answered invalid JSON");
      case Fault::truncated_reply: {
        std::string frame = encode_raw_frame("{\"reply\":\"cut short\"}");
        return report(send(std::string_view(frame).substr(0, frame.size() / 2)),
                      "sent half a reply");
      }
      default:
        break;
    }
    if (options_.raw_reply) return report(send(encode_raw_frame(*options_.raw_reply)), "raw reply");
    if (options_.reply_size) {
      std::string frame(encode_frame_length(static_cast<std::uint32_t>(*options_.reply_size)).data(),
                        kFrameLengthSize);
      frame += body_of_size(*options_.reply_size);
      return report(send(frame), "reply of " + std::to_string(*options_.reply_size) + " bytes");
    }
    Result<JsonValue, JsonParseError> parsed = parse_json(*request);
    JsonValue reply;
    if (parsed) {
      reply = answer(*parsed, token);
    } else {
      JsonObject refusal;
      refusal.set("error", JsonValue("invalid JSON: " + parsed.error().display()));
      refusal.set("id", JsonValue());
      reply = JsonValue(std::move(refusal));
    }
    std::string frame = encode_frame(reply);
    return report(send(frame), std::string_view(frame).substr(kFrameLengthSize));
  }

 private:
  static std::string report(const Result<void>& sent, std::string_view what) {
    if (!sent) return std::string(what) + " (failed: " + sent.error().text() + ")";
    return std::string(what);
  }

  // Shutting the reading side makes any further write of the host fail with
  // a broken pipe; draining what already arrived before closing keeps the
  // close from turning into a reset.
  std::string close_before_read() {
    ::shutdown(fd_.get(), SHUT_RD);
    char scratch[4096];
    for (;;) {
      Result<std::size_t> n = read_some(fd_.get(), scratch, FdKind::socket);
      if (!n || *n == 0) break;
    }
    return "closed before reading";
  }

  // Closing while request bytes lie unread resets the connection.
  std::string reset_after_arrival() {
    char byte;
    ssize_t n;
    do {
      n = ::recv(fd_.get(), &byte, 1, MSG_PEEK);
    } while (n < 0 && errno == EINTR);
    return "closed with the request unread";
  }

  UniqueFd fd_;
  const Options& options_;
  int signal_pipe_;
};

Result<UniqueFd> accept_connection(int listener) {
  for (;;) {
    int fd = ::accept(listener, nullptr, nullptr);
    if (fd >= 0) {
      UniqueFd owned(fd);
      if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return Error::from_errno(errno);
#if defined(SO_NOSIGPIPE)
      int on = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
      // A peer that never sends must not wedge the app for good.
      timeval limit{30, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      return owned;
    }
    if (errno != EINTR && errno != ECONNABORTED) return Error::from_errno(errno);
  }
}

int run(int argc, char** argv) {
  Result<Options> options = parse_options(argc, argv);
  if (!options) {
    fprintf(stderr, "%s: %s\n", kProgram.data(), options.error().text().c_str());
    print_usage(stderr);
    return 2;
  }
  auto fail = [](const Error& error) {
    fprintf(stderr, "%s: %s\n", kProgram.data(), error.text().c_str());
    return 1;
  };

  std::string socket_path;
  if (options->socket_path) {
    socket_path = *options->socket_path;
  } else {
    Result<std::string, IpcPathError> resolved = resolve_ipc_socket_path();
    if (!resolved) return fail(to_error(resolved.error()));
    socket_path = std::move(resolved).value();
  }

  Result<UniqueFd> signal_pipe = install_stop_signals();
  if (!signal_pipe) return fail(signal_pipe.error());

  Footprint footprint;
  Result<void> dirs = make_private_dirs(parent_dir(socket_path), footprint.created_dirs());
  if (!dirs) return fail(dirs.error());
  Result<void> private_dir = check_private_dir(parent_dir(socket_path));
  if (!private_dir) return fail(private_dir.error());

  // Refused before anything is written: a running app keeps its token.
  Result<sockaddr_un> address = socket_address(socket_path);
  if (!address) return fail(address.error());
  Result<void> stale = remove_stale_socket(socket_path, *address);
  if (!stale) return fail(stale.error());

  // The token exists before the socket, so every connection finds one.
  Result<std::string> token = fresh_token();
  if (!token) return fail(token.error());
  std::string token_path = token_path_for(socket_path);
  footprint.set_token(token_path);
  Result<void> token_written = write_token_file(token_path, *token);
  if (!token_written) return fail(token_written.error());

  Result<UniqueFd> listener = listen_on(socket_path, *address, footprint);
  if (!listener) return fail(listener.error());

  printf("%s\n", socket_path.c_str());
  fflush(stdout);

  std::uint64_t served = 0;
  for (;;) {
    pollfd fds[2] = {{listener->get(), POLLIN, 0}, {signal_pipe->get(), POLLIN, 0}};
    int n = ::poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(Error::from_errno(errno));
    }
    if (fds[1].revents != 0) break;
    Result<UniqueFd> accepted = accept_connection(listener->get());
    if (!accepted) return fail(accepted.error());
    Connection connection(std::move(accepted).value(), *options, signal_pipe->get());
    std::string outcome = connection.serve(*token);
    ++served;
    if (options->verbose) {
      fprintf(stderr, "%s: connection %llu: %s\n", kProgram.data(),
              static_cast<unsigned long long>(served), outcome.c_str());
    }
    if (stop_requested(signal_pipe->get())) break;
  }
  wipe_secret(*token);
  return 0;
}

}  // namespace
}  // namespace vk

int main(int argc, char** argv) { return vk::run(argc, argv); }
