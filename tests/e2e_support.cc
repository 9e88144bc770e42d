#include "tests/e2e_support.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "native_messaging/fd_io.h"
#include "native_messaging/protocol.h"
#include "native_messaging/unique_fd.h"

namespace vk::testing {

ScratchDir::ScratchDir() {
  std::error_code ignored;
  std::filesystem::create_directories(VK_E2E_SCRATCH_ROOT, ignored);
  std::string pattern = std::string(VK_E2E_SCRATCH_ROOT) + "/XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a scratch directory under " << VK_E2E_SCRATCH_ROOT << ": "
                  << os_error(errno);
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::operator/(std::string_view relative) const {
  return path_ + "/" + std::string(relative);
}

void ScratchDir::make_dirs(std::string_view relative) const {
  std::error_code error;
  std::filesystem::create_directories(*this / relative, error);
  EXPECT_FALSE(error) << "cannot create " << relative << ": " << error.message();
}

void ScratchDir::write_file(std::string_view relative, std::string_view content) const {
  std::string path = *this / relative;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ignored;
  std::filesystem::create_directories(parent, ignored);
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  ASSERT_TRUE(fd.valid()) << path << ": " << os_error(errno);
  Result<void> written = write_all(fd.get(), content);
  ASSERT_TRUE(written) << path << ": " << written.error().text();
}

void ScratchDir::give_to(uid_t uid) const {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_)) {
    EXPECT_EQ(::lchown(entry.path().c_str(), uid, static_cast<gid_t>(uid)), 0) << entry.path();
  }
  EXPECT_EQ(::lchown(path_.c_str(), uid, static_cast<gid_t>(uid)), 0) << path_;
}

Result<std::string> read_file(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return Error::from_errno(errno);
  std::string content;
  char chunk[4096];
  for (;;) {
    Result<std::size_t> n = read_some(fd.get(), chunk);
    if (!n) return std::move(n).error();
    if (*n == 0) return content;
    content.append(chunk, *n);
  }
}

long proc_status_kib(pid_t pid, std::string_view field) {
  Result<std::string> status = read_file("/proc/" + std::to_string(pid) + "/status");
  if (!status) {
    ADD_FAILURE() << status.error().text();
    return -1;
  }
  std::size_t at = status->find(std::string(field) + ":");
  if (at == std::string::npos) return -1;
  return std::strtol(status->c_str() + at + field.size() + 1, nullptr, 10);
}

std::string os_error(int code) { return Error::from_errno(code).text(); }

std::string frame(std::string_view body) { return encode_raw_frame(body); }

std::string frames(const std::vector<std::string>& bodies) {
  std::string out;
  for (const std::string& body : bodies) out += frame(body);
  return out;
}

std::string error_reply(std::string_view text, const JsonValue& id) {
  JsonObject reply;
  reply.set("error", JsonValue(std::string(text)));
  reply.set("id", id);
  return serialize_json(JsonValue(std::move(reply)));
}

std::string cannot_reach_reply(std::string_view detail, const JsonValue& id) {
  return error_reply(
      "Cannot reach Tarnwick (IPC socket). Start Tarnwick and check the vault. Detail: " +
          std::string(detail),
      id);
}

std::string ipc_error_reply(std::string_view detail, const JsonValue& id) {
  return error_reply("Tarnwick IPC error: " + std::string(detail), id);
}

std::string cannot_open_line(std::string_view detail) {
  return "[vellumkeep-native] cannot open socket: " + std::string(detail) + "\n";
}

std::string ipc_error_line(std::string_view detail) {
  return "[vellumkeep-native] IPC error after connect: " + std::string(detail) + "\n";
}

// VK_HOST_WRAPPER, split at blanks, runs in front of the host (valgrind in
// CI); its program is looked up in PATH when it names no directory.
static std::vector<std::string> host_command() {
  std::vector<std::string> argv;
  const char* wrapper = ::getenv("VK_HOST_WRAPPER");
  std::istringstream words(wrapper ? wrapper : "");
  for (std::string word; words >> word;) argv.push_back(word);
  if (!argv.empty() && argv[0].find('/') == std::string::npos) {
    std::istringstream path(::getenv("PATH") ? ::getenv("PATH") : "");
    for (std::string entry; std::getline(path, entry, ':');) {
      std::string candidate = entry + "/" + argv[0];
      if (::access(candidate.c_str(), X_OK) == 0) {
        argv[0] = candidate;
        break;
      }
    }
  }
  argv.push_back(kHostPath);
  return argv;
}

ChildOptions host_options(const ScratchDir& dir, std::vector<std::string> env) {
  ChildOptions options;
  options.argv = host_command();
  options.env = std::move(env);
  options.cwd = dir.path();
  return options;
}

ChildOutput run_host(const ScratchDir& dir, std::string_view input, std::vector<std::string> env) {
  Result<ChildOutput> output = run_child(host_options(dir, std::move(env)), input);
  if (!output) {
    ADD_FAILURE() << "running the host: " << output.error().text();
    return {};
  }
  return std::move(output).value();
}

std::optional<StandInApp> StandInApp::start(const ScratchDir& dir, std::vector<std::string> args,
                                            std::string socket, std::optional<uid_t> uid) {
  ChildOptions options;
  options.argv = {kStandInAppPath, "--socket", socket};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.cwd = dir.path();
  options.stderr_mode = StdStream::inherit;  // its complaints belong in the test log
  options.uid = uid;
  Result<ChildProcess> child = ChildProcess::spawn(options);
  if (!child) {
    ADD_FAILURE() << "starting the stand-in app: " << child.error().text();
    return std::nullopt;
  }
  Result<std::string> ready = child->read_stdout_line();
  if (!ready) {
    ADD_FAILURE() << "the stand-in app did not get ready: " << ready.error().text();
    return std::nullopt;
  }
  EXPECT_EQ(*ready, socket);
  std::string token_path = socket.substr(0, socket.rfind('/') + 1) + "vellumkeep-native.token";
  if (token_path.front() != '/') token_path = dir / token_path;
  Result<std::string> token = read_file(token_path);
  if (!token) {
    ADD_FAILURE() << "reading the stand-in app's token: " << token.error().text();
    return std::nullopt;
  }
  if (!token->empty() && token->back() == '\n') token->pop_back();
  return StandInApp(std::move(child).value(), std::move(token).value());
}

Result<ExitStatus> StandInApp::stop(int signal) {
  child_.send_signal(signal);
  return child_.wait();
}

}  // namespace vk::testing
