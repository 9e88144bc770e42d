// The shared token that proves to the desktop application that a request
// comes from this user: read from the file beside the socket, added to every
// request object.
#pragma once

#include <string>
#include <string_view>

#include "native_messaging/json.h"
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

// Reads the whole token file at `path` as UTF-8 and returns it trimmed of
// Unicode white space; fails when `path` does not lead to a regular file
// (symbolic links are followed) or when fewer than 32 bytes remain.
Result<std::string> read_token(const std::string& path);

// `request` with "auth_token" set to `token` when it is an object (any
// earlier "auth_token" replaced); any other value unchanged. Pass an rvalue
// to avoid copying the request.
JsonValue inject_auth_token(JsonValue request, std::string_view token);

// Wipes the "auth_token" string inject_auth_token put into `outgoing`, once
// it has been serialised and before the value is released.
void wipe_injected_token(JsonValue& outgoing);

// Overwrites `secret`'s bytes before it is released, so the token does not
// linger in freed memory.
void wipe_secret(std::string& secret);

}  // namespace vk
