#include "native_messaging/protocol.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vk {
namespace {

// Large enough that a typical request arrives with one read; bodies bigger
// than this are read straight into their own buffer instead.
constexpr std::size_t kReadBufferSize = 64 * 1024;

// The line-buffered standard output this host's failure texts are modelled on.
constexpr std::size_t kStdoutBufferSize = 1024;

std::mutex& stdout_lock() {
  static std::mutex lock;
  return lock;
}

// Reads one frame through `read_exact(span)`, buffered or not.
template <class ReadExact>
Result<std::string, FrameReadError> read_frame_with(ReadExact&& read_exact, std::size_t max_body) {
  char length_bytes[kFrameLengthSize] = {};
  if (Result<void> r = read_exact(std::span<char>(length_bytes)); !r) {
    return FrameReadError{FrameFailure::length_unreadable, std::move(r).error()};
  }
  std::uint32_t length = 0;
  std::memcpy(&length, length_bytes, sizeof length);
  if (length > max_body) {
    return FrameReadError{FrameFailure::too_large, Error(std::string()), length};
  }
  // Zero-filled to its length; the capacity beyond it lets the body become
  // its value in place even where numbers are written longer than they
  // were sent.
  std::string body;
  body.reserve(json_parse_capacity(length));
  body.resize(length);
  if (Result<void> r = read_exact(std::span<char>(body.data(), body.size())); !r) {
    return FrameReadError{FrameFailure::body_unreadable, std::move(r).error(), length};
  }
  return body;
}

}  // namespace

std::array<char, kFrameLengthSize> encode_frame_length(std::uint32_t length) {
  std::array<char, kFrameLengthSize> bytes;
  std::memcpy(bytes.data(), &length, sizeof length);
  return bytes;
}

std::size_t append_frame(const JsonValue& value, std::string& out) {
  return append_frame_with(out, [&value](std::string& text) { serialize_json_to(value, text); });
}

std::string encode_frame(const JsonValue& value) {
  std::string frame;
  append_frame(value, frame);
  return frame;
}

std::string encode_raw_frame(std::string_view body) {
  std::string frame;
  frame.reserve(kFrameLengthSize + body.size());
  const auto length = encode_frame_length(static_cast<std::uint32_t>(body.size()));
  frame.append(length.data(), length.size());
  frame.append(body);
  return frame;
}

FrameReader::FrameReader(int fd, FdKind kind) : fd_(fd), kind_(kind) {}

Result<void> FrameReader::read_exact(std::span<char> out) {
  const std::size_t from_buffer = std::min(out.size(), buffered());
  if (from_buffer > 0) {
    std::memcpy(out.data(), buffer_.get() + begin_, from_buffer);
    begin_ += from_buffer;
    out = out.subspan(from_buffer);
  }
  while (!out.empty()) {
    // Large remainders go straight to their destination; the buffer would
    // only add a copy. Such a read never takes bytes beyond `out`.
    if (out.size() >= kReadBufferSize) return vk::read_exact(fd_, out, kind_);
    // Left uninitialised (not make_unique, which zeroes): zeroing would
    // touch all of its pages where a small request needs only the first.
    if (!buffer_) buffer_.reset(new char[kReadBufferSize]);
    Result<std::size_t> n = read_some(fd_, std::span<char>(buffer_.get(), kReadBufferSize), kind_);
    if (!n) return std::move(n).error();
    if (*n == 0) return Error(std::string(kFailedToFillWholeBuffer));
    const std::size_t taken = std::min(out.size(), *n);
    std::memcpy(out.data(), buffer_.get(), taken);
    begin_ = taken;
    end_ = *n;
    out = out.subspan(taken);
  }
  return {};
}

FrameReader& stdin_frame_reader() {
  static FrameReader reader(STDIN_FILENO, FdKind::stream);
  return reader;
}

Result<std::string, FrameReadError> read_frame(FrameReader& reader, std::size_t max_body) {
  return read_frame_with([&reader](std::span<char> out) { return reader.read_exact(out); },
                         max_body);
}

Result<std::string, FrameReadError> read_frame(int fd, FdKind kind, std::size_t max_body) {
  return read_frame_with([fd, kind](std::span<char> out) { return vk::read_exact(fd, out, kind); },
                         max_body);
}

Result<JsonValue> read_message() { return read_message(stdin_frame_reader()); }

Result<JsonValue> read_message(FrameReader& reader) {
  Result<std::string, FrameReadError> body = read_frame(reader, kMaxMessageSize);
  if (!body) {
    const FrameReadError& e = body.error();
    switch (e.failure) {
      case FrameFailure::length_unreadable: return e.io.prefixed(kFailedToReadLength);
      case FrameFailure::too_large: return Error(std::string(kMessageTooLarge));
      case FrameFailure::body_unreadable: return e.io.prefixed(kFailedToReadBody);
    }
    return e.io.prefixed(kFailedToReadBody);
  }
  Result<JsonValue, JsonParseError> value = parse_json(std::move(body).value());
  if (!value) return Error(std::string(kInvalidJson) + value.error().display());
  return std::move(value).value();
}

Result<void> write_message(const JsonValue& value) {
  // Serialise outside the lock; only the write itself must not interleave.
  std::string frame;
  append_frame(value, frame);
  return write_frame(frame);
}

Result<void> write_frame(std::string_view frame) {
  std::lock_guard<std::mutex> guard(stdout_lock());
  return write_frame(STDOUT_FILENO, frame);
}

Result<void> write_message(int fd, const JsonValue& value) {
  std::string frame;
  append_frame(value, frame);
  return write_frame(fd, frame);
}

Result<void> write_frame(int fd, std::string_view frame) {
  if (Result<void> r = write_all(fd, frame); !r) return classify_stdout_failure(frame, r.error());
  return {};
}

Error classify_stdout_failure(std::string_view frame, const Error& io) {
  const bool fails_in_write =
      frame.size() >= kStdoutBufferSize || frame.find('\n') != std::string_view::npos;
  return io.prefixed(fails_in_write ? kStdoutWriteError : kStdoutFlushError);
}

}  // namespace vk
