// vk-json as a user runs it: bytes on standard input, the compact text or
// the parse error on the other end, and the exit status.
#include <gtest/gtest.h>

#include <string>

#include "native_messaging/testing/test_private_dir.h"
#include "tests/child_process.h"

namespace vk {
namespace {

struct ToolCase {
  std::string input;
  std::string out;
  std::string err;
  int code;
};

testing::ChildOutput run_vk_json(const std::string& input) {
  testing::ChildOptions options;
  options.argv = {VK_JSON_TOOL};
  auto output = testing::run_child(options, input);
  EXPECT_TRUE(output.ok()) << (output ? "" : output.error().text());
  return output ? *output : testing::ChildOutput{};
}

TEST(VkJsonTool, PrintsCompactTextOrTheParseError) {
  const ToolCase cases[] = {
      {"{\"zeta\": 1, \"Alpha\": [true, null], \"num\": 1.50, \"big\": 1E21, \"neg\": -0, "
       "\"text\": \"a\\/b\\u00e9\\u001F\", \"Beta\": \"\xC3\xA9\", \"zeta\": 2, \"\": 18446744073709551615}",
       "{\"\":18446744073709551615,\"Alpha\":[true,null],\"Beta\":\"\xC3\xA9\",\"big\":1e21,\"neg\":-0.0,"
       "\"num\":1.5,\"text\":\"a/b\xC3\xA9\\u001f\",\"zeta\":2}\n",
       "", 0},
      {" \"x\"\n", "\"x\"\n", "", 0},
      {"", "", "EOF while parsing a value at line 1 column 0\n", 1},
      {"[1,", "", "EOF while parsing a value at line 1 column 3\n", 1},
      {"{\"a\":1}\n\n}", "", "trailing characters at line 3 column 1\n", 1},
      {std::string(128, '['), "", "recursion limit exceeded at line 1 column 128\n", 1},
  };
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.input);
    const testing::ChildOutput output = run_vk_json(c.input);
    EXPECT_EQ(output.out, c.out);
    EXPECT_EQ(output.err, c.err);
    EXPECT_TRUE(output.status.exited);
    EXPECT_EQ(output.status.code, c.code);
  }
}

TEST(VkJsonTool, HandlesAFullSizeFrame) {
  // A whole 1 MiB body in one go: read completely, written completely.
  std::string input = "[";
  std::string expected = "[";
  while (input.size() < (std::size_t{1} << 20) - 16) {
    input += "\"caf\\u00e9\",1.50,";
    expected += "\"caf\xC3\xA9\",1.5,";
  }
  input += "null]";
  expected += "null]\n";
  const testing::ChildOutput output = run_vk_json(input);
  EXPECT_TRUE(output.status.ok()) << output.err;
  EXPECT_EQ(output.out, expected);
}

// A file on standard input is read into a buffer of its size; the text is
// made in that buffer, which must still take numbers written longer than
// they were read.
TEST(VkJsonTool, ReadsAFileOnStandardInput) {
  std::string growing = "[";
  std::string grown = "[";
  for (int i = 0; i < 50000; ++i) {
    growing += "1e15,-0,";
    grown += "1000000000000000.0,-0.0,";
  }
  growing += "1E2]";
  grown += "100.0]\n";
  const ToolCase cases[] = {
      {growing, grown, "", 0},
      {"{\n  \"b\": [ 1 ,\n 2 ],\n  \"a\": \"\\u00e9\"\n}\n", "{\"a\":\"\xC3\xA9\",\"b\":[1,2]}\n", "", 0},
      {"", "", "EOF while parsing a value at line 1 column 0\n", 1},
      {"[1e15,\n1e15 x]", "", "expected `,` or `]` at line 2 column 6\n", 1},
  };
  const testing::PrivateDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 40));
    testing::ChildOptions options;
    options.argv = {"/bin/sh", "-c", "exec \"$0\" < \"$1\"", VK_JSON_TOOL, dir.write_file("input.json", c.input)};
    auto output = testing::run_child(options, "");
    ASSERT_TRUE(output.ok()) << output.error().text();
    EXPECT_EQ(output->out, c.out);
    EXPECT_EQ(output->err, c.err);
    EXPECT_TRUE(output->status.exited);
    EXPECT_EQ(output->status.code, c.code);
  }
}

}  // namespace
}  // namespace vk
