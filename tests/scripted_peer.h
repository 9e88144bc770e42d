// A desktop application under the test's control: it listens on a real Unix
// socket in the test process and answers each connection with bytes chosen
// by the test, so faults can be placed at any byte of an exchange.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "native_messaging/unique_fd.h"
#include "tests/e2e_support.h"

namespace vk::testing {

// How the peer answers one connection, decided after reading its request.
struct PeerAnswer {
  std::string bytes;         // sent as they are (length field included)
  bool close_after = true;   // false: keep the connection open until the host closes it
};

// What the peer saw on one connection.
struct PeerExchange {
  bool request_read = false;  // a whole request frame arrived
  std::string request;        // its body
  std::string after;          // anything the host sent after the frame (should be nothing)
};

class ScriptedPeer {
 public:
  // Decides the answer to connection `index` (from 0) whose request body is
  // `request` (empty when none could be read). Runs on the peer's thread and
  // may block there, holding the host mid-request.
  using Responder = std::function<PeerAnswer(std::size_t index, const std::string& request)>;

  // Listens on `socket`, a path relative to `dir` (the host's working
  // directory), so long build paths do not matter. A host run as another
  // user refuses this peer: use listen_as for it.
  static std::unique_ptr<ScriptedPeer> listen(const ScratchDir& dir, std::string_view socket,
                                              Responder responder);
  // Listens on `socket` (relative to `dir`, in a directory that exists and
  // `uid` can write) as the user `uid`, with a socket every user may
  // connect to; the test must be root. The host sees that user as its peer.
  static std::unique_ptr<ScriptedPeer> listen_as(const ScratchDir& dir, std::string_view socket,
                                                 Responder responder, uid_t uid);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // The exchanges, in order, once every connection made so far has been
  // served to its end (call it after the host has gone).
  std::vector<PeerExchange> exchanges() const;

 private:
  ScriptedPeer(UniqueFd listener, UniqueFd stop_read, UniqueFd stop_write, Responder responder);
  // Serves `listener` on a thread of its own.
  static std::unique_ptr<ScriptedPeer> start(UniqueFd listener, Responder responder);
  void serve();

  UniqueFd listener_;
  UniqueFd stop_read_;
  UniqueFd stop_write_;
  Responder responder_;
  mutable std::mutex mutex_;
  std::vector<PeerExchange> exchanges_;
  bool busy_ = false;  // a connection is being served
  std::thread thread_;
};

// A socket listening on `socket` (relative to `dir`, parents created) that
// nobody accepts on: connections queue up to `backlog`, then connecting
// blocks.
Result<UniqueFd> listen_unserved(const ScratchDir& dir, std::string_view socket, int backlog);

// A reply frame for `body` exactly as given.
inline std::string reply_frame(std::string_view body) { return frame(body); }

// The 4 length bytes announcing `length`, with no body.
std::string length_only(std::uint32_t length);

// Reads one frame the host wrote to standard output and returns its body.
Result<std::string> read_host_frame(ChildProcess& host);

// A token no other text in a test contains, so finding it anywhere is a leak.
std::string distinctive_token();

// Fails the test when `written` holds the distinctive token or a
// recognisable piece of it; `where` names what was searched.
void expect_no_token(std::string_view written, std::string_view where);
void expect_no_token(const ChildOutput& output);

}  // namespace vk::testing
