// Whole-buffer reads and writes on descriptors. EINTR is retried here and
// nowhere else; the system calls go through a table tests can replace.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <span>
#include <string_view>

#include "native_messaging/result.h"

namespace vk {

// The system calls used for I/O; tests swap entries to inject faults.
struct IoSyscalls {
  ssize_t (*read)(int fd, void* buffer, size_t size);
  ssize_t (*write)(int fd, const void* buffer, size_t size);
  ssize_t (*send)(int fd, const void* buffer, size_t size, int flags);
  ssize_t (*recv)(int fd, void* buffer, size_t size, int flags);
};

// The table in use; starts with the real system calls.
IoSyscalls& io_syscalls();

// How a descriptor is read from and written to.
enum class FdKind {
  stream,  // read/write: pipes, terminals, files
  socket,  // recv/send, with no SIGPIPE on a closed peer
};

// Reads up to `buffer.size()` bytes; 0 means end of input.
Result<std::size_t> read_some(int fd, std::span<char> buffer, FdKind kind = FdKind::stream);

// Fills `buffer` completely, or fails with "failed to fill whole buffer" at
// end of input or with the platform error.
Result<void> read_exact(int fd, std::span<char> buffer, FdKind kind = FdKind::stream);

// Writes all of `data`, or fails with the platform error, or with "failed to
// write whole buffer" when a write accepts no bytes.
Result<void> write_all(int fd, std::string_view data, FdKind kind = FdKind::stream);

// The texts of the two failures that carry no platform error.
inline constexpr std::string_view kFailedToFillWholeBuffer = "failed to fill whole buffer";
inline constexpr std::string_view kFailedToWriteWholeBuffer = "failed to write whole buffer";

}  // namespace vk
