// The relay as a whole: arbitrary bytes on standard input, and for each
// request an application that answers arbitrary bytes over a real socket
// pair, hangs up before reading, cannot be reached, or a standard output
// that fails. Checks that the loop reads exactly the frames in the stream,
// sends each request with the token as one frame, writes exactly one reply
// per request (the application's, or the error reply with its id), ends
// where the rules say, and never shows the token in what it writes itself.
//
// Input: sections separated by the four bytes "\n--\n". The first is
// standard input. Section k+1 scripts the application for request k: its
// first byte is the behaviour, the rest the bytes it answers with.
//   'R'  answer the bytes, then end its side (default: a frame holding {})
//   'C'  hang up before the request is written
//   'X'  the connection cannot be made
//   'W'  answer the bytes, but writing the reply to standard output fails
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/frame_model.h"
#include "native_host/host_loop.h"
#include "native_messaging/fd_io.h"
#include "native_messaging/ipc_auth.h"
#include "native_messaging/json.h"
#include "native_messaging/protocol.h"

namespace {

using vk::fuzzing::ModelFrame;
using vk::fuzzing::ModelOutcome;

constexpr int kStdinFd = 1000;   // never a real descriptor of this process
constexpr int kStdoutFd = 1001;
constexpr std::string_view kSeparator = "\n--\n";
const std::string kToken = "relay-fuzz-token-5f0c2d9e8b7a6f5e4d3c2b1a09f8e7d6";

void require(bool condition) {
  if (!condition) std::abort();
}

struct Script {
  char mode = 'R';
  std::string answer;
};

struct Run {
  std::string_view in;
  std::size_t in_pos = 0;
  bool stdout_fails = false;
  std::string out;
};
Run g_run;

// Bytes not handled by the fakes go to the real system calls (the socket).
ssize_t (*g_real_read)(int, void*, std::size_t);
ssize_t (*g_real_write)(int, const void*, std::size_t);

ssize_t fake_read(int fd, void* buffer, std::size_t size) {
  if (fd != kStdinFd) return g_real_read(fd, buffer, size);
  const std::size_t n = std::min(size, g_run.in.size() - g_run.in_pos);
  std::memcpy(buffer, g_run.in.data() + g_run.in_pos, n);
  g_run.in_pos += n;
  return static_cast<ssize_t>(n);
}

ssize_t fake_write(int fd, const void* data, std::size_t size) {
  if (fd != kStdoutFd) return g_real_write(fd, data, size);
  if (g_run.stdout_fails) {
    errno = EPIPE;
    return -1;
  }
  g_run.out.append(static_cast<const char*>(data), size);
  return static_cast<ssize_t>(size);
}

// The relay's channels with the real reader, exchange and writer, and an
// application scripted per request on the far end of a socket pair.
class FuzzChannels final : public vk::HostChannels {
 public:
  explicit FuzzChannels(const std::vector<Script>& scripts) : scripts_(scripts), reader_(kStdinFd) {}

  vk::Result<vk::JsonValue> read_request() override {
    ++read_calls;
    vk::Result<vk::JsonValue> request = vk::read_message(reader_);
    if (request) requests.push_back(*request);
    return request;
  }

  vk::Result<vk::AuthenticatedIpcStream> connect() override {
    const Script& script = current();
    answers.emplace_back();
    if (script.mode == 'X') return vk::Error::from_errno(ECONNREFUSED);
    int pair[2];
    require(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0);
    vk::UniqueFd host_end(pair[0]);
    peer_ = vk::UniqueFd(pair[1]);
    if (script.mode == 'C') {
      peer_ = vk::UniqueFd();
    } else {
      // What fits in the socket's buffer is what the application said.
      require(::fcntl(peer_.get(), F_SETFL, O_NONBLOCK) == 0);
      std::string_view left = script.answer;
      while (!left.empty()) {
        ssize_t n = ::send(peer_.get(), left.data(), left.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        answers.back().append(left.substr(0, static_cast<std::size_t>(n)));
        left.remove_prefix(static_cast<std::size_t>(n));
      }
      ::shutdown(peer_.get(), SHUT_WR);
    }
    return vk::AuthenticatedIpcStream(std::move(host_end), kToken);
  }

  vk::Result<vk::JsonValue> send_receive(vk::AuthenticatedIpcStream& connection, vk::JsonValue request) override {
    const vk::JsonValue outgoing = vk::inject_auth_token(request, kToken);
    vk::Result<vk::JsonValue> reply = vk::ipc_send_receive(connection, std::move(request));
    if (peer_.valid()) {
      // The application received exactly one frame: the request with the token.
      std::string received;
      char chunk[65536];
      for (;;) {
        ssize_t n = ::recv(peer_.get(), chunk, sizeof chunk, MSG_DONTWAIT);
        if (n <= 0) break;
        received.append(chunk, static_cast<std::size_t>(n));
      }
      const std::string frame = vk::encode_frame(outgoing);
      require(frame.size() - 4 > vk::kMaxMessageSize ? received.empty() : received == frame);
      peer_ = vk::UniqueFd();
    }
    return reply;
  }

  vk::Result<void> write_reply(std::string_view frame) override {
    g_run.stdout_fails = current().mode == 'W';
    // Kept as written: the decimal conversion is not correctly rounded, so
    // reading a written double back may give a neighbouring one.
    require(vk::parse_json(frame.substr(4)).ok());
    replies.emplace_back(frame.substr(4));
    ++index_;
    return vk::write_frame(kStdoutFd, frame);
  }

  void write_diagnostic(std::string_view line) override { diagnostics.emplace_back(line); }

  int read_calls = 0;
  std::vector<vk::JsonValue> requests;
  std::vector<std::string> replies;  // the bodies written
  std::vector<std::string> diagnostics;
  std::vector<std::string> answers;  // what the application sent, per request

 private:
  const Script& current() const {
    static const Script fallback{'R', vk::encode_raw_frame("{}")};
    return index_ < scripts_.size() ? scripts_[index_] : fallback;
  }

  const std::vector<Script>& scripts_;
  vk::FrameReader reader_;
  vk::UniqueFd peer_;
  std::size_t index_ = 0;
};

// The reply the relay must write for a request whose application behaved
// by `script` and answered `answered`, and the diagnostic it must log.
struct Expected {
  vk::JsonValue reply;
  std::string diagnostic;  // empty: none
};

vk::JsonValue expected_id(const vk::JsonValue& request) {
  const std::optional<vk::JsonValue> id = request.member("id");
  return id && id->as_unsigned() ? *id : vk::JsonValue();
}

Expected ipc_failure(const vk::JsonValue& request, const std::string& text) {
  vk::JsonObject reply;
  reply.set("error", vk::JsonValue("Tarnwick IPC error: " + text));
  reply.set("id", expected_id(request));
  return {vk::JsonValue(std::move(reply)), "[vellumkeep-native] IPC error after connect: " + text + "\n"};
}

Expected expect(const Script& script, const std::string& answered, const vk::JsonValue& request) {
  if (script.mode == 'X') {
    const std::string text = vk::Error::from_errno(ECONNREFUSED).text();
    vk::JsonObject reply;
    reply.set("error", vk::JsonValue(
                           "Cannot reach Tarnwick (IPC socket). Start Tarnwick and check the vault. Detail: " + text));
    reply.set("id", expected_id(request));
    return {vk::JsonValue(std::move(reply)), "[vellumkeep-native] cannot open socket: " + text + "\n"};
  }
  if (vk::serialize_json(vk::inject_auth_token(request, kToken)).size() > vk::kMaxMessageSize) {
    return ipc_failure(request, "IPC request too large");
  }
  if (script.mode == 'C') return ipc_failure(request, vk::Error::from_errno(EPIPE).text());
  const ModelFrame frame = vk::fuzzing::model_frame(answered, 0);
  switch (frame.outcome) {
    case ModelOutcome::length_short:
    case ModelOutcome::body_short:
      return ipc_failure(request, "failed to fill whole buffer");
    case ModelOutcome::too_large:
      return ipc_failure(request, "IPC response too large");
    case ModelOutcome::body:
      break;
  }
  vk::Result<vk::JsonValue, vk::JsonParseError> parsed = vk::parse_json(frame.body);
  if (!parsed) return ipc_failure(request, parsed.error().display());
  // Written in full form, a reply may outgrow what a browser accepts.
  if (vk::serialize_json(*parsed).size() > vk::kMaxMessageSize) return ipc_failure(request, "IPC response too large");
  return {*parsed, ""};
}

std::vector<Script> parse_scripts(std::string_view rest) {
  std::vector<Script> scripts;
  for (;;) {
    const std::size_t end = rest.find(kSeparator);
    const std::string_view section = rest.substr(0, end);
    Script script;
    if (!section.empty()) {
      script.mode = section[0];
      script.answer.assign(section.substr(1));
    }
    if (script.mode != 'C' && script.mode != 'X' && script.mode != 'W') script.mode = 'R';
    scripts.push_back(std::move(script));
    if (end == std::string_view::npos) return scripts;
    rest.remove_prefix(end + kSeparator.size());
  }
}

bool contains_token(std::string_view text) { return text.find(kToken) != std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find(kSeparator);
  const std::string_view in = input.substr(0, split);
  const std::vector<Script> scripts =
      split == std::string_view::npos ? std::vector<Script>{} : parse_scripts(input.substr(split + kSeparator.size()));

  vk::IoSyscalls& table = vk::io_syscalls();
  const vk::IoSyscalls saved = table;
  g_real_read = saved.read;
  g_real_write = saved.write;
  table.read = fake_read;
  table.write = fake_write;
  g_run = Run{in, 0, false, {}};

  FuzzChannels channels(scripts);
  vk::run_host_loop(channels);
  table = saved;

  // The requests are exactly the frames of standard input up to the first
  // that cannot be read, or up to the reply that could not be written.
  std::size_t pos = 0;
  std::size_t expected_requests = 0;
  std::size_t write_failed_at = SIZE_MAX;
  for (;;) {
    const ModelFrame frame = vk::fuzzing::model_frame(in, pos);
    if (frame.outcome != ModelOutcome::body) break;
    vk::Result<vk::JsonValue, vk::JsonParseError> parsed = vk::parse_json(frame.body);
    if (!parsed) break;
    require(expected_requests < channels.requests.size() && channels.requests[expected_requests] == *parsed);
    const Script& script = expected_requests < scripts.size() ? scripts[expected_requests] : Script{'R', vk::encode_raw_frame("{}")};
    ++expected_requests;
    pos = frame.next;
    if (script.mode == 'W') {
      write_failed_at = expected_requests - 1;
      break;
    }
  }
  require(channels.requests.size() == expected_requests);
  require(channels.replies.size() == expected_requests);
  // One more read, the failing one, unless a failed write ended the loop.
  require(static_cast<std::size_t>(channels.read_calls) ==
          expected_requests + (write_failed_at == SIZE_MAX ? 1 : 0));

  std::vector<std::string> expected_diagnostics;
  std::string expected_out;
  for (std::size_t k = 0; k < expected_requests; ++k) {
    const Script& script = k < scripts.size() ? scripts[k] : Script{'R', vk::encode_raw_frame("{}")};
    const Expected e = expect(script, channels.answers.at(k), channels.requests[k]);
    require(channels.replies[k] == vk::serialize_json(e.reply));
    if (!e.diagnostic.empty()) expected_diagnostics.push_back(e.diagnostic);
    if (k != write_failed_at) expected_out += vk::encode_frame(e.reply);
    // The host's own texts never carry the token.
    if (!e.diagnostic.empty()) require(!contains_token(channels.replies[k]));
  }
  if (write_failed_at != SIZE_MAX) {
    const std::string frame = vk::encode_raw_frame(channels.replies[write_failed_at]);
    expected_diagnostics.push_back("[vellumkeep-native] stdout write: " +
                                   vk::classify_stdout_failure(frame, vk::Error::from_errno(EPIPE)).text() + "\n");
  }
  require(g_run.out == expected_out);
  require(channels.diagnostics == expected_diagnostics);
  for (const std::string& line : channels.diagnostics) require(!contains_token(line));
  return 0;
}
