// Reads frames from an arbitrary byte stream, delivered in arbitrary pieces
// with interrupted reads, and checks every outcome against an independent
// reading of the stream: the exact error text, the parsed value, and that
// bytes of the next frame received early are kept, not lost.
//
// Input: one control byte, then (when bit 5 is set) three bytes of padding
// length, then the stream.
//   bits 0-2  largest piece one read returns (1, 2, 3, 5, 64, 4096, 65536, all)
//   bit 3     the stream ends with an I/O error instead of end of input
//   bit 4     every other read is interrupted by a signal first
//   bit 5     that many blanks are inserted after the first length field, so
//             bodies of about the limit are cheap to reach
//   bit 6     read one frame the socket way (unbuffered, never past the frame)
#include <errno.h>
#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/frame_model.h"
#include "native_messaging/fd_io.h"
#include "native_messaging/json.h"
#include "native_messaging/protocol.h"

namespace {

using vk::fuzzing::ModelFrame;
using vk::fuzzing::ModelOutcome;

constexpr int kStreamFd = 1000;  // never a real descriptor of this process

struct FakeStream {
  std::string_view bytes;
  std::size_t delivered = 0;
  std::size_t piece = 0;
  bool end_with_error = false;
  bool interrupt = false;
  unsigned reads = 0;
};
FakeStream g_stream;

ssize_t fake_read(int fd, void* buffer, std::size_t size) {
  if (fd != kStreamFd) std::abort();
  FakeStream& s = g_stream;
  if (s.interrupt && (s.reads++ % 2) == 0) {
    errno = EINTR;
    return -1;
  }
  const std::size_t left = s.bytes.size() - s.delivered;
  if (left == 0 && s.end_with_error) {
    errno = EIO;
    return -1;
  }
  const std::size_t n = std::min({size, left, s.piece});
  std::memcpy(buffer, s.bytes.data() + s.delivered, n);
  s.delivered += n;
  return static_cast<ssize_t>(n);
}

ssize_t fake_recv(int fd, void* buffer, std::size_t size, int) { return fake_read(fd, buffer, size); }

void require(bool condition) {
  if (!condition) std::abort();
}

std::string end_text() {
  return g_stream.end_with_error ? vk::Error::from_errno(EIO).text() : std::string(vk::kFailedToFillWholeBuffer);
}

// read_message over the buffered reader, frame after frame, until it fails.
void check_buffered(std::string_view stream) {
  vk::FrameReader reader(kStreamFd);
  std::size_t pos = 0;
  for (;;) {
    const ModelFrame expected = vk::fuzzing::model_frame(stream, pos);
    vk::Result<vk::JsonValue> got = vk::read_message(reader);
    switch (expected.outcome) {
      case ModelOutcome::length_short:
        require(!got && got.error().text() == "Failed to read message length: " + end_text());
        return;
      case ModelOutcome::too_large:
        require(!got && got.error().text() == "Message too large (max 1MB)");
        // The body is left unread: nothing beyond what one read brought in.
        require(g_stream.delivered - reader.buffered() == pos + 4);
        return;
      case ModelOutcome::body_short:
        require(!got && got.error().text() == "Failed to read message body: " + end_text());
        return;
      case ModelOutcome::body: {
        vk::Result<vk::JsonValue, vk::JsonParseError> parsed = vk::parse_json(expected.body);
        if (!parsed) {
          require(!got && got.error().text() == "Invalid JSON: " + parsed.error().display());
          return;
        }
        require(got && *got == *parsed);
        // Everything received so far is either consumed or still held.
        require(g_stream.delivered - reader.buffered() == expected.next);
        pos = expected.next;
        break;
      }
    }
  }
}

// One frame the way the IPC socket is read: straight from the descriptor.
void check_unbuffered(std::string_view stream) {
  const ModelFrame expected = vk::fuzzing::model_frame(stream, 0);
  vk::Result<std::string, vk::FrameReadError> got = vk::read_frame(kStreamFd, vk::FdKind::socket);
  switch (expected.outcome) {
    case ModelOutcome::length_short:
      require(!got && got.error().failure == vk::FrameFailure::length_unreadable &&
              got.error().io.text() == end_text());
      break;
    case ModelOutcome::too_large:
      require(!got && got.error().failure == vk::FrameFailure::too_large &&
              got.error().announced_length == expected.length);
      break;
    case ModelOutcome::body_short:
      require(!got && got.error().failure == vk::FrameFailure::body_unreadable &&
              got.error().io.text() == end_text());
      break;
    case ModelOutcome::body:
      require(got && *got == expected.body);
      break;
  }
  // Never a byte beyond the frame (or beyond the length, when refused).
  const std::size_t frame_end =
      expected.outcome == ModelOutcome::body ? expected.next
      : expected.outcome == ModelOutcome::too_large ? 4
                                                    : stream.size();
  require(g_stream.delivered <= frame_end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string stream;
  if ((control & 0x20) != 0) {
    if (rest.size() < 3) return 0;
    const std::size_t pad = (static_cast<std::size_t>(static_cast<unsigned char>(rest[0])) << 16 |
                             static_cast<std::size_t>(static_cast<unsigned char>(rest[1])) << 8 |
                             static_cast<unsigned char>(rest[2])) %
                            (vk::kMaxMessageSize + 16);
    rest.remove_prefix(3);
    const std::size_t head = std::min<std::size_t>(4, rest.size());
    stream.reserve(rest.size() + pad);
    stream.append(rest.substr(0, head)).append(pad, ' ').append(rest.substr(head));
  } else {
    stream.assign(rest);
  }
  static constexpr std::size_t kPieces[] = {1, 2, 3, 5, 64, 4096, 65536, SIZE_MAX};

  vk::IoSyscalls& table = vk::io_syscalls();
  const vk::IoSyscalls saved = table;
  table.read = fake_read;
  table.recv = fake_recv;
  g_stream = FakeStream{stream, 0, kPieces[control & 7], (control & 0x08) != 0, (control & 0x10) != 0, 0};
  if ((control & 0x40) != 0) {
    check_unbuffered(stream);
  } else {
    check_buffered(stream);
  }
  table = saved;
  return 0;
}
