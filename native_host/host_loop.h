// The host's relay loop: one request from the browser at a time, each over a
// fresh IPC connection, exactly one reply frame per request.
#pragma once

#include <string>
#include <string_view>

#include "native_messaging/ipc_blocking_client.h"
#include "native_messaging/json.h"
#include "native_messaging/result.h"

namespace vk {

// Prefix of every diagnostic line on standard error.
inline constexpr std::string_view kDiagnosticPrefix = "[vellumkeep-native] ";
// Start of the "error" text of the two error replies.
inline constexpr std::string_view kCannotReachApp =
    "Cannot reach Tarnwick (IPC socket). Start Tarnwick and check the vault. Detail: ";
inline constexpr std::string_view kIpcErrorReply = "Tarnwick IPC error: ";

// What the loop talks to; the process's real streams and socket by default,
// fakes in tests.
class HostChannels {
 public:
  virtual ~HostChannels() = default;
  virtual Result<JsonValue> read_request() = 0;
  virtual Result<AuthenticatedIpcStream> connect() = 0;
  virtual Result<JsonValue> send_receive(AuthenticatedIpcStream& connection, JsonValue request) = 0;
  // Writes one reply frame (length field included).
  virtual Result<void> write_reply(std::string_view frame) = 0;
  // Writes one whole diagnostic line (prefix and newline included).
  virtual void write_diagnostic(std::string_view line) = 0;
};

// Standard input and output, the resolved IPC socket and standard error.
HostChannels& process_host_channels();

// The "id" of an error reply: the request's "id" when it is an unsigned
// integer, null otherwise.
JsonValue error_reply_id(const JsonValue& request);

// The error reply {"error": text, "id": id}.
JsonValue make_error_reply(std::string text, JsonValue id);

// Writes `line` to standard error with one write and ignores any failure:
// a broken standard error must never stop the relay.
void write_stderr_line(std::string_view line);

// Relays requests until one cannot be read or a reply cannot be written.
// A reply whose text would exceed the frame limit, which browsers enforce
// by dropping the port, is answered with an error reply instead.
void run_host_loop(HostChannels& channels);

}  // namespace vk
