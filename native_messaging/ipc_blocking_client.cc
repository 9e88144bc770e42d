#include "native_messaging/ipc_blocking_client.h"

#include <errno.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "native_messaging/fd_io.h"
#include "native_messaging/ipc_auth.h"
#include "native_messaging/protocol.h"

namespace vk {
namespace {

// Creates an AF_UNIX stream socket that is not inherited by children.
Result<UniqueFd> new_unix_stream_socket() {
#if defined(SOCK_CLOEXEC)
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return Error::from_errno(errno);
#else
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!fd.valid()) return Error::from_errno(errno);
  if (::ioctl(fd.get(), FIOCLEX) != 0) return Error::from_errno(errno);
#endif
#if defined(SO_NOSIGPIPE)
  // Where send() has no MSG_NOSIGNAL, the socket itself must not raise SIGPIPE.
  int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) {
    return Error::from_errno(errno);
  }
#endif
  return fd;
}

// Whoever can write the socket's directory can listen there; only a peer
// running as this user may receive the token. Not root either: the user id
// is that of whoever listened, and root may listen and then hand the socket
// to a service of any user (socket activation works so).
Result<void> require_peer_is_this_user(int fd) {
  Result<uid_t> peer = peer_uid(fd);
  if (!peer) return std::move(peer).error();
  const uid_t own = ::geteuid();
  if (*peer == own) return {};
  return Error("IPC peer runs as uid " + std::to_string(*peer) + ", not as this user (uid " +
               std::to_string(own) + ")");
}

}  // namespace

AuthenticatedIpcStream::AuthenticatedIpcStream(UniqueFd socket, std::string token)
    : socket_(std::move(socket)), token_(std::move(token)) {}

AuthenticatedIpcStream::~AuthenticatedIpcStream() { wipe_secret(token_); }

Result<uid_t> peer_uid(int fd) {
#if defined(__linux__)
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return Error::from_errno(errno);
  return credentials.uid;
#else
  uid_t uid = 0;
  gid_t gid = 0;
  if (::getpeereid(fd, &uid, &gid) != 0) return Error::from_errno(errno);
  return uid;
#endif
}

Result<UniqueFd> connect_unix_socket(const std::string& path) {
  sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return Error(std::string(kPathTooLong));
  std::memcpy(address.sun_path, path.data(), path.size());
  Result<UniqueFd> fd = new_unix_stream_socket();
  if (!fd) return fd;
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  if (::connect(fd->get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    return Error::from_errno(errno);
  }
  return fd;
}

Result<AuthenticatedIpcStream> connect_ipc_unix_stream() {
  return connect_ipc_unix_stream(process_ipc_environment());
}

Result<AuthenticatedIpcStream> connect_ipc_unix_stream(const IpcEnvironment& env) {
  // A refused socket is refused before anything, the token included, is read.
  Result<IpcEndpoint> endpoint = locate_ipc_endpoint(env);
  if (!endpoint) return std::move(endpoint).error();
  Result<UniqueFd> socket = connect_unix_socket(endpoint->socket);
  if (!socket) {
    // Nobody to send a token to, but a token file that gives none is what
    // to fix first: its error is reported before the connection's.
    Result<std::string> token = read_token(endpoint->token);
    if (!token) return std::move(token).error();
    wipe_secret(*token);
    return std::move(socket).error();
  }
  // The token file is opened only for a peer running as this user: through
  // a link named like it, whoever can write the socket's directory could
  // otherwise have the host open any file of the user's and learn from
  // its answer whether that file exists and holds a token's worth of text.
  if (Result<void> peer = require_peer_is_this_user(socket->get()); !peer) return std::move(peer).error();
  Result<std::string> token = read_token(endpoint->token);
  if (!token) return std::move(token).error();
  return AuthenticatedIpcStream(std::move(socket).value(), std::move(token).value());
}

namespace {

// Writes `request` with the token added (inject_auth_token's text) as one
// frame. The token is written only into the frame, which is wiped and
// released before this returns; the request, taken over, is released with
// it, so that its memory is free for the reply.
Result<void> send_request(AuthenticatedIpcStream& connection, JsonValue request) {
  // Measured before it is built: a token of control characters is written
  // six times its size, and a frame that will be refused is never made.
  if (serialized_size_with_string_member(request, kAuthTokenMember, connection.token()) > kMaxMessageSize) {
    return Error(std::string(kRequestTooLarge));
  }
  std::string frame;
  append_frame_with(frame, [&](std::string& out) {
    serialize_json_with_string_member_to(request, kAuthTokenMember, connection.token(), out);
  });
  Result<void> sent = write_all(connection.fd(), frame, FdKind::socket);
  wipe_secret(frame);
  return sent;
}

}  // namespace

Result<JsonValue> ipc_send_receive(AuthenticatedIpcStream& connection, JsonValue request) {
  Result<void> sent = send_request(connection, std::move(request));
  if (!sent) return std::move(sent).error();

  Result<std::string, FrameReadError> body = read_frame(connection.fd(), FdKind::socket);
  if (!body) {
    if (body.error().failure == FrameFailure::too_large) return Error(std::string(kResponseTooLarge));
    return std::move(body).error().io;
  }
  Result<JsonValue, JsonParseError> reply = parse_json(std::move(body).value());
  if (!reply) return Error(reply.error().display());
  return std::move(reply).value();
}

}  // namespace vk
