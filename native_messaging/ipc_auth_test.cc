#include "native_messaging/ipc_auth.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "native_messaging/testing/test_private_dir.h"

namespace vk {
namespace {

using testing::PrivateDir;

const std::string k32(32, 'k');

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::string token_result(const Result<std::string>& r) { return r ? "token " + *r : "error " + r.error().text(); }

TEST(ReadToken, ContentTable) {
  struct Case {
    const char* name;
    std::string content;
    std::string expected;
  };
  const std::string e_acute = "\xC3\xA9";
  const Case cases[] = {
      {"exactly 32 bytes", k32, "token " + k32},
      {"31 bytes and a newline", std::string(31, 'k') + "\n", "error IPC auth token missing or too short"},
      {"surrounding blanks and newlines not kept", " \t\n" + k32 + " \r\n\n", "token " + k32},
      {"Unicode blanks trimmed", "\xC2\xA0" + k32 + "\xE3\x80\x80", "token " + k32},
      {"inner blanks kept", "ab cd" + std::string(28, 'x'), "token ab cd" + std::string(28, 'x')},
      // 21 characters, 32 bytes.
      {"bytes, not characters, are counted", std::string(10, 'k') + repeat(e_acute, 11),
       "token " + std::string(10, 'k') + repeat(e_acute, 11)},
      {"empty", "", "error IPC auth token missing or too short"},
      {"blanks only", "   \n", "error IPC auth token missing or too short"},
      {"not UTF-8", k32 + "\xFF", "error stream did not contain valid UTF-8"},
      {"long token, no upper limit", std::string(100'000, 'z'), "token " + std::string(100'000, 'z')},
  };
  PrivateDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.write_file("token", c.content);
    EXPECT_EQ(token_result(read_token(path)), c.expected) << c.name;
  }
}

// Only a regular file of at most a request frame is read, reached through
// symbolic links or not; anything else is refused without being read, and a
// FIFO or a device without being opened.
TEST(ReadToken, FileKinds) {
  const std::string not_regular = "error IPC auth token file is not a regular file";
  const std::string too_large = "error IPC auth token file too large (max 1MB)";
  const std::string is_a_directory = "error " + Error::from_errno(EISDIR).text();
  PrivateDir dir;
  const std::string token_file = dir.write_file("token", k32 + "\n");
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("token", dir.file("link").c_str()), 0);
  ASSERT_EQ(::symlink(".", dir.file("link-to-dir").c_str()), 0);
  ASSERT_EQ(::symlink("missing", dir.file("dangling").c_str()), 0);
  // White space up to a request frame's size around a token is still a
  // token; one byte more and the file could never be sent whole.
  const std::string padding(kMaxMessageSize - k32.size() - 1, ' ');
  const std::string padded = dir.write_file("padded", padding + k32 + "\n");
  const std::string over = dir.write_file("over", padding + " " + k32 + "\n");
  struct Case {
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {token_file, "token " + k32},
      {dir.file("link"), "token " + k32},
      {padded, "token " + k32},
      {over, too_large},
      {dir.file("missing"), "error " + Error::from_errno(ENOENT).text()},
      {dir.file("dangling"), "error " + Error::from_errno(ENOENT).text()},
      {dir.path(), is_a_directory},
      {dir.file("link-to-dir"), is_a_directory},
      {dir.file("fifo"), not_regular},
      {"/dev/zero", not_regular},
      {"/dev/null", not_regular},
  };
  for (const Case& c : cases) EXPECT_EQ(token_result(read_token(c.path)), c.expected) << c.path;
}

TEST(InjectAuthToken, ObjectsGetTheTokenOtherValuesTravelUnchanged) {
  struct Case {
    const char* request;
    const char* expected;
  };
  const Case cases[] = {
      {R"({"id":1})", R"({"auth_token":"T","id":1})"},
      {R"({"auth_token":"stale","z":[]})", R"({"auth_token":"T","z":[]})"},
      {R"({"auth_token":{"nested":1}})", R"({"auth_token":"T"})"},
      {R"({})", R"({"auth_token":"T"})"},
      {R"([{"id":1}])", R"([{"id":1}])"},
      {R"("text")", R"("text")"},
      {"7", "7"},
      {"null", "null"},
  };
  for (const Case& c : cases) {
    const JsonValue request = parse_json(c.request).value();
    EXPECT_EQ(serialize_json(inject_auth_token(request, "T")), c.expected) << c.request;
    EXPECT_EQ(serialize_json(request), serialize_json(parse_json(c.request).value()))
        << "request modified: " << c.request;
  }
}

}  // namespace
}  // namespace vk
