#include "native_host/host_loop.h"

#include <unistd.h>

#include "native_messaging/fd_io.h"
#include "native_messaging/protocol.h"

namespace vk {
namespace {

class ProcessHostChannels final : public HostChannels {
 public:
  Result<JsonValue> read_request() override { return read_message(); }
  Result<AuthenticatedIpcStream> connect() override { return connect_ipc_unix_stream(); }
  Result<JsonValue> send_receive(AuthenticatedIpcStream& connection, JsonValue request) override {
    return ipc_send_receive(connection, std::move(request));
  }
  Result<void> write_reply(std::string_view frame) override { return write_frame(frame); }
  void write_diagnostic(std::string_view line) override { write_stderr_line(line); }
};

std::string diagnostic(std::string_view what, const Error& error) {
  std::string line;
  line.reserve(kDiagnosticPrefix.size() + what.size() + error.text().size() + 1);
  line.append(kDiagnosticPrefix).append(what).append(error.text()).push_back('\n');
  return line;
}

constexpr std::string_view kAfterConnect = "IPC error after connect: ";

// The reply to one request: the application's, or an error reply. The
// connection is closed and its token wiped before this returns.
JsonValue relay_one(HostChannels& channels, JsonValue request, const JsonValue& id) {
  Result<AuthenticatedIpcStream> connection = channels.connect();
  if (!connection) {
    channels.write_diagnostic(diagnostic("cannot open socket: ", connection.error()));
    return make_error_reply(std::string(kCannotReachApp) + connection.error().text(), id);
  }
  Result<JsonValue> reply = channels.send_receive(*connection, std::move(request));
  if (!reply) {
    channels.write_diagnostic(diagnostic(kAfterConnect, reply.error()));
    return make_error_reply(std::string(kIpcErrorReply) + reply.error().text(), id);
  }
  return std::move(reply).value();
}

// `reply` as one frame. Rewriting can make a relayed reply longer than it
// came (numbers in their full form); browsers drop the port on a frame
// above the limit, so such a reply becomes an error reply they accept.
std::string reply_frame(HostChannels& channels, JsonValue reply, JsonValue id) {
  std::string frame;
  if (append_frame(reply, frame) <= kMaxMessageSize) return frame;
  const Error too_large{std::string(kResponseTooLarge)};
  channels.write_diagnostic(diagnostic(kAfterConnect, too_large));
  frame.clear();
  append_frame(make_error_reply(std::string(kIpcErrorReply) + too_large.text(), std::move(id)), frame);
  return frame;
}

}  // namespace

HostChannels& process_host_channels() {
  static ProcessHostChannels channels;
  return channels;
}

JsonValue error_reply_id(const JsonValue& request) {
  if (std::optional<JsonValue> id = request.member("id"); id && id->as_unsigned()) return *std::move(id);
  return JsonValue(nullptr);
}

JsonValue make_error_reply(std::string text, JsonValue id) {
  JsonObject reply;
  reply.set("error", JsonValue(std::move(text)));
  reply.set("id", std::move(id));
  return JsonValue(std::move(reply));
}

void write_stderr_line(std::string_view line) {
  // Lines are short, so one write normally carries the whole line; what
  // write_all reports is deliberately dropped.
  (void)write_all(STDERR_FILENO, line);
}

void run_host_loop(HostChannels& channels) {
  for (;;) {
    Result<JsonValue> request = channels.read_request();
    if (!request) return;
    JsonValue id = error_reply_id(*request);
    JsonValue reply = relay_one(channels, std::move(request).value(), id);
    // The reply's value is released once its frame is made.
    const std::string frame = reply_frame(channels, std::move(reply), std::move(id));
    if (Result<void> written = channels.write_reply(frame); !written) {
      channels.write_diagnostic(diagnostic("stdout write: ", written.error()));
      return;
    }
  }
}

}  // namespace vk
