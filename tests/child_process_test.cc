// The harness the end-to-end tests stand on: a child must see exactly the
// environment, directory and descriptors a test asks for.

#include "tests/child_process.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

namespace vk::testing {
namespace {

ChildOptions shell(std::string script) {
  ChildOptions options;
  options.argv = {"/bin/sh", "-c", std::move(script)};
  return options;
}

TEST(ChildProcess, EnvironmentAndDirectoryAreExactlyTheGivenOnes) {
  ChildOptions options = shell("printf '%s|%s|%s' \"$A\" \"${HOME-unset}\" \"$(pwd)\"");
  options.env = {"A=x y"};
  options.cwd = "/";
  Result<ChildOutput> ran = run_child(options);
  ASSERT_TRUE(ran) << ran.error().text();
  EXPECT_EQ(ran->out, "x y|unset|/");
  EXPECT_TRUE(ran->status.ok());
}

TEST(ChildProcess, StandardDescriptorsAsAsked) {
  // /dev/fd lists the shell's own open descriptors.
  ChildOptions options = shell("if [ -e /dev/fd/1 ]; then echo open >&2; else echo closed >&2; fi");
  options.stdout_mode = StdStream::closed;
  Result<ChildOutput> closed = run_child(options);
  ASSERT_TRUE(closed) << closed.error().text();
  EXPECT_EQ(closed->err, "closed\n");

  options.stdout_mode = StdStream::dev_null;
  Result<ChildOutput> null = run_child(options);
  ASSERT_TRUE(null) << null.error().text();
  EXPECT_EQ(null->out, "");
  EXPECT_EQ(null->err, "open\n");

  ChildOptions echo = shell("cat; exit 3");
  Result<ChildOutput> piped = run_child(echo, "through the pipe");
  ASSERT_TRUE(piped) << piped.error().text();
  EXPECT_EQ(piped->out, "through the pipe");
  EXPECT_EQ(piped->status, (ExitStatus{true, 3, 0}));
}

TEST(ChildProcess, FailuresToStartAndSignalsAreReported) {
  ChildOptions missing;
  missing.argv = {"/nonexistent/program"};
  Result<ChildProcess> child = ChildProcess::spawn(missing);
  ASSERT_FALSE(child);
  EXPECT_EQ(child.error().text(), "/nonexistent/program: " + Error::from_errno(ENOENT).text());

  Result<ChildProcess> sleeper = ChildProcess::spawn(shell("exec sleep 30"));
  ASSERT_TRUE(sleeper) << sleeper.error().text();
  sleeper->send_signal(SIGTERM);
  Result<ExitStatus> status = sleeper->wait();
  ASSERT_TRUE(status) << status.error().text();
  EXPECT_EQ(status->describe(), "killed by signal " + std::to_string(SIGTERM));
}

}  // namespace
}  // namespace vk::testing
