// The shared token that proves to the desktop application that a request
// comes from this user: read from the file beside the socket, added to every
// request object.
#pragma once

#include <string>
#include <string_view>

#include "native_messaging/json.h"
#include "native_messaging/protocol.h"
#include "native_messaging/result.h"

namespace vk {

// Member that carries the token in each request.
inline constexpr std::string_view kAuthTokenMember = "auth_token";
// Shortest token accepted, in bytes after trimming.
inline constexpr std::size_t kMinTokenLength = 32;
// Failure texts of read_token.
inline constexpr std::string_view kTokenTooShort = "IPC auth token missing or too short";
inline constexpr std::string_view kNotUtf8 = "stream did not contain valid UTF-8";
inline constexpr std::string_view kTokenNotRegularFile = "IPC auth token file is not a regular file";
inline constexpr std::string_view kTokenFileTooLarge = "IPC auth token file too large (max 1MB)";
// A larger token file could never be sent in one request frame.
inline constexpr std::size_t kMaxTokenFileSize = kMaxMessageSize;

// Reads the whole token file at `path` as UTF-8 and returns it trimmed of
// Unicode white space. Fails, before opening it, when `path` (symbolic
// links followed) is a directory (with the platform's EISDIR text), is not
// a regular file, or holds more than kMaxTokenFileSize bytes; and when
// fewer than 32 bytes remain.
Result<std::string> read_token(const std::string& path);

// `request` with "auth_token" set to `token` when it is an object (any
// earlier "auth_token" replaced); any other value unchanged. The result
// holds the token: the relay itself writes the token straight into the
// frame it wipes instead (serialize_json_with_string_member_to).
JsonValue inject_auth_token(const JsonValue& request, std::string_view token);

// Overwrites `secret`'s bytes before it is released, so the token does not
// linger in freed memory.
void wipe_secret(std::string& secret);

}  // namespace vk
