// Native-messaging frames: a 4-byte native-order length, then that many
// bytes of JSON text. The same layout is used on standard input/output and
// on the IPC socket.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "native_messaging/fd_io.h"
#include "native_messaging/json.h"
#include "native_messaging/result.h"

namespace vk {

// Largest body accepted when reading a frame (1 MiB).
inline constexpr std::size_t kMaxMessageSize = 1'048'576;
// Width of the length field that precedes every body.
inline constexpr std::size_t kFrameLengthSize = 4;

// The texts read_message and write_message put before what went wrong.
inline constexpr std::string_view kFailedToReadLength = "Failed to read message length: ";
inline constexpr std::string_view kMessageTooLarge = "Message too large (max 1MB)";
inline constexpr std::string_view kFailedToReadBody = "Failed to read message body: ";
inline constexpr std::string_view kInvalidJson = "Invalid JSON: ";
inline constexpr std::string_view kStdoutWriteError = "stdout write error: ";
inline constexpr std::string_view kStdoutFlushError = "stdout flush error: ";

// ---- Writing frames -------------------------------------------------------

// The length field for a body of `length` bytes, in native byte order.
std::array<char, kFrameLengthSize> encode_frame_length(std::uint32_t length);

// Appends one frame holding the compact text of `value` to `out` and returns
// the body's length. The body is serialised in place after four reserved
// bytes that are patched afterwards, so it is never copied. The length field
// holds the low 32 bits of the body length.
std::size_t append_frame(const JsonValue& value, std::string& out);

// One frame holding the compact text of `value`.
std::string encode_frame(const JsonValue& value);

// One frame around arbitrary bytes (peers in tests send non-JSON bodies).
std::string encode_raw_frame(std::string_view body);

// ---- Reading frames -------------------------------------------------------

// Reads exactly the bytes asked for from a descriptor through a buffer, so
// that bytes of the next frame which arrive early are kept for the next call.
class FrameReader {
 public:
  explicit FrameReader(int fd, FdKind kind = FdKind::stream);

  // Fills `out` completely, buffered bytes first. Fails with "failed to fill
  // whole buffer" at end of input, or with the platform error.
  Result<void> read_exact(std::span<char> out);

  // Bytes already received but not yet handed out.
  std::size_t buffered() const { return end_ - begin_; }

  int fd() const { return fd_; }

 private:
  int fd_;
  FdKind kind_;
  std::unique_ptr<char[]> buffer_;  // allocated on first use
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// The process-wide reader of standard input.
FrameReader& stdin_frame_reader();

// Why one frame could not be read.
enum class FrameFailure {
  length_unreadable,  // the 4 length bytes could not all be read
  too_large,          // the announced length is above the limit; body unread
  body_unreadable,    // the body could not all be read
};

// A failed frame read: which step failed and the I/O error behind it (empty
// text for too_large).
struct FrameReadError {
  FrameFailure failure;
  Error io{std::string()};
  std::uint32_t announced_length = 0;  // set once the length was read
};

// Reads one frame body from `reader` into a zero-filled buffer; refuses a
// length above `max_body` without reading the body.
Result<std::string, FrameReadError> read_frame(FrameReader& reader,
                                               std::size_t max_body = kMaxMessageSize);

// Reads one frame body straight from `fd`, never reading past the frame
// (sockets carry one frame each way); same limit rule as above.
Result<std::string, FrameReadError> read_frame(int fd, FdKind kind,
                                               std::size_t max_body = kMaxMessageSize);

// ---- The host's two operations ---------------------------------------------

// Reads one request frame from standard input and parses it.
Result<JsonValue> read_message();
// Reads one frame from `reader` and parses it, with read_message's texts.
Result<JsonValue> read_message(FrameReader& reader);

// Writes `value` as one frame to standard output under the output lock.
Result<void> write_message(const JsonValue& value);
// Writes an encoded frame (length field included) to standard output under
// the output lock, with write_message's texts.
Result<void> write_frame(std::string_view frame);
// Writes `value` as one contiguous frame to `fd` (a pipe or file), with
// write_message's texts.
Result<void> write_message(int fd, const JsonValue& value);
// Writes an encoded frame to `fd`, with write_message's texts.
Result<void> write_frame(int fd, std::string_view frame);

// The text a failed frame write is reported with. Standard output is modelled
// as line-buffered with a 1,024-byte buffer: a frame of 1,024 bytes or more,
// or holding a 0x0A byte anywhere, fails in the write; others in the flush.
Error classify_stdout_failure(std::string_view frame, const Error& io);

}  // namespace vk
