// The host's side of the private channel to the desktop application: one
// blocking Unix-domain connection per request, no time-outs.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "native_messaging/ipc_path.h"
#include "native_messaging/json.h"
#include "native_messaging/result.h"
#include "native_messaging/unique_fd.h"

namespace vk {

// Failure texts of this module.
inline constexpr std::string_view kPathTooLong = "path must be shorter than SUN_LEN";
inline constexpr std::string_view kRequestTooLarge = "IPC request too large";
inline constexpr std::string_view kResponseTooLarge = "IPC response too large";

// A connected socket and the token read for it; lives for one request.
// Dropping it closes the socket and wipes the token.
class AuthenticatedIpcStream {
 public:
  AuthenticatedIpcStream(UniqueFd socket, std::string token);
  AuthenticatedIpcStream(AuthenticatedIpcStream&&) = default;
  AuthenticatedIpcStream& operator=(AuthenticatedIpcStream&&) = default;
  ~AuthenticatedIpcStream();

  int fd() const { return socket_.get(); }
  const std::string& token() const { return token_; }

 private:
  UniqueFd socket_;
  std::string token_;
};

// Connects a close-on-exec Unix-domain stream socket to `path`, once.
Result<UniqueFd> connect_unix_socket(const std::string& path);

// The user id the process at the other end of the connected socket `fd`
// runs as (for a listening peer: as it was when it began to listen).
Result<uid_t> peer_uid(int fd);

// Resolves the socket, refuses temporary directories, connects, refuses a
// peer that does not run as this user (root included), and only then reads
// the token beside the socket. When the connection fails, the token file's
// own error, if any, is reported instead of the connection's.
Result<AuthenticatedIpcStream> connect_ipc_unix_stream();
Result<AuthenticatedIpcStream> connect_ipc_unix_stream(const IpcEnvironment& env);

// Sends `request` with the connection's token added as one frame and reads
// one reply frame. Pass an rvalue to avoid copying the request.
Result<JsonValue> ipc_send_receive(AuthenticatedIpcStream& connection, JsonValue request);

}  // namespace vk
