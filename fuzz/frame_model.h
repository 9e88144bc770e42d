// An independent reading of a byte stream as frames, for the fuzz targets to
// compare the real readers against: where each frame starts and ends and
// how reading it must fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vk::fuzzing {

inline constexpr std::size_t kModelLimit = 1'048'576;

enum class ModelOutcome {
  body,              // a whole body is available
  length_short,      // fewer than 4 bytes remain
  too_large,         // the length is above the limit
  body_short,        // fewer bytes than announced remain
};

struct ModelFrame {
  ModelOutcome outcome = ModelOutcome::length_short;
  std::uint32_t length = 0;
  std::string_view body;   // for ModelOutcome::body
  std::size_t next = 0;    // where the following frame starts
};

// The frame starting at `pos` of `stream`.
inline ModelFrame model_frame(std::string_view stream, std::size_t pos) {
  ModelFrame frame;
  if (stream.size() - pos < 4) return frame;
  std::memcpy(&frame.length, stream.data() + pos, 4);
  if (frame.length > kModelLimit) {
    frame.outcome = ModelOutcome::too_large;
    return frame;
  }
  if (stream.size() - pos - 4 < frame.length) {
    frame.outcome = ModelOutcome::body_short;
    return frame;
  }
  frame.outcome = ModelOutcome::body;
  frame.body = stream.substr(pos + 4, frame.length);
  frame.next = pos + 4 + frame.length;
  return frame;
}

}  // namespace vk::fuzzing
