// The desktop-app side that docs/protocol.md shows (docs/examples/
// desktop_app.py) against the real host: it must work as documented, and
// the document must show it as it is.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "tests/child_process.h"
#include "tests/e2e_support.h"

namespace vk::testing {
namespace {

constexpr const char* kPython = VK_PYTHON3;
constexpr const char* kExample = VK_DOCS_DIR "/examples/desktop_app.py";

TEST(ProtocolExample, DesktopAppServesTheHost) {
  if (std::string_view(kPython).empty()) GTEST_SKIP() << "python3 is not installed";
  ScratchDir dir;
  ChildOptions options;
  options.argv = {kPython, "-B", kExample, std::string(kSocket)};
  options.cwd = dir.path();
  options.stderr_mode = StdStream::inherit;  // its complaints belong in the test log
  Result<ChildProcess> app = ChildProcess::spawn(options);
  ASSERT_TRUE(app) << app.error().text();
  Result<std::string> ready = app->read_stdout_line();
  ASSERT_TRUE(ready) << ready.error().text();
  ASSERT_EQ(*ready, kSocket);

  // A ping; a request with a stale token, unsorted keys and a number the
  // host rewrites; a request that is not an object, which travels without
  // a token.
  ChildOutput host = run_host(dir, frames({R"({"command":"ping","id":1})",
                                           R"({"zeta":1,"command":"echo","id":2,"auth_token":"stale","n":1e15})",
                                           R"(["not","an","object"])"}));
  EXPECT_EQ(host.out, frames({R"({"id":1,"reply":"pong"})",
                              R"({"command":"echo","id":2,"n":1000000000000000.0,"zeta":1})",
                              R"({"error":"missing or wrong auth_token","id":null})"}));
  EXPECT_EQ(host.err, "");
  EXPECT_TRUE(host.status.ok()) << host.status.describe();

  // The doctor's silent connection does not disturb it.
  ChildOptions doctor = host_options(dir);
  doctor.argv.push_back("--doctor");
  Result<ChildOutput> diagnosed = run_child(doctor);
  ASSERT_TRUE(diagnosed) << diagnosed.error().text();
  EXPECT_TRUE(diagnosed->status.ok()) << diagnosed->out;
  EXPECT_EQ(run_host(dir, frame(R"({"command":"ping","id":3})")).out, frame(R"({"id":3,"reply":"pong"})"));

  app->send_signal(SIGTERM);
  Result<ExitStatus> stopped = app->wait();
  ASSERT_TRUE(stopped) << stopped.error().text();
  EXPECT_TRUE(stopped->ok()) << stopped->describe();
  EXPECT_NE(::access((dir / kSocket).c_str(), F_OK), 0) << "the socket outlived the app";
  EXPECT_NE(::access((dir / kTokenFile).c_str(), F_OK), 0) << "the token file outlived the app";
}

TEST(ProtocolExample, TheDocumentShowsTheExampleWhole) {
  Result<std::string> document = read_file(VK_DOCS_DIR "/protocol.md");
  ASSERT_TRUE(document) << document.error().text();
  Result<std::string> example = read_file(kExample);
  ASSERT_TRUE(example) << example.error().text();
  const std::string begin = "<!-- begin docs/examples/desktop_app.py -->\n```python\n";
  const std::string end = "```\n<!-- end docs/examples/desktop_app.py -->";
  const std::size_t from = document->find(begin);
  const std::size_t to = document->find(end);
  ASSERT_NE(from, std::string::npos);
  ASSERT_NE(to, std::string::npos);
  ASSERT_LT(from, to);
  EXPECT_EQ(document->substr(from + begin.size(), to - from - begin.size()), *example)
      << "copy docs/examples/desktop_app.py into docs/protocol.md again";
}

}  // namespace
}  // namespace vk::testing
