#include "native_host/doctor.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "native_messaging/fd_io.h"
#include "native_messaging/ipc_auth.h"
#include "native_messaging/ipc_blocking_client.h"
#include "native_messaging/ipc_path.h"
#include "native_messaging/json.h"
#include "native_messaging/protocol.h"
#include "tools/manifest_inventory.h"
#include "tools/own_installation.h"
#include "tools/terminal_text.h"

namespace vk {
namespace {

// Working directories longer than this are reported as unknown.
constexpr std::size_t kMaxWorkingDirectory = 1 << 16;

// What the token file turned out to be; `st` when it could be examined.
struct TokenFileFacts {
  std::string path;
  bool through_link = false;
  std::optional<struct stat> st;
  std::optional<std::string> problem;
};

// Who listens on the socket, or why nobody could be reached.
struct ListenerFacts {
  std::optional<uid_t> peer;
  std::optional<std::string> problem;
  std::optional<std::string_view> hint;  // what a user can do about the problem
};

// The browsers' manifests of our name, and which of them start this host.
struct BrowserFacts {
  std::string host;  // this executable, links resolved
  std::vector<ManifestFolder> folders;  // what `manifests` point into
  std::vector<InstalledManifest> manifests;
  std::vector<bool> names_this_host;  // per manifest

  // A browser can start this host through at least one manifest.
  bool usable() const {
    for (std::size_t i = 0; i < manifests.size(); ++i) {
      if (names_this_host[i] && manifests[i].health == Health::ok) return true;
    }
    return false;
  }
};

struct Diagnosis {
  uid_t uid = 0;
  uid_t euid = 0;
  std::optional<std::string> working_directory;
  LocationTrace trace;
  std::optional<std::string> socket;
  std::optional<std::string> location_problem;
  // Examined only where a request would go on to read and connect.
  std::optional<TokenFileFacts> token_file;
  std::optional<ListenerFacts> listener;
  std::optional<BrowserFacts> browsers;  // with --browsers

  bool reachable() const {
    return !location_problem && token_file && !token_file->problem && listener && !listener->problem &&
           (!browsers || browsers->usable());
  }
};

std::optional<std::string> working_directory() {
  for (std::size_t size = 256; size <= kMaxWorkingDirectory; size *= 2) {
    auto buffer = std::make_unique<char[]>(size);
    if (::getcwd(buffer.get(), size) != nullptr) return std::string(buffer.get());
    if (errno != ERANGE) return std::nullopt;
  }
  return std::nullopt;
}

// Examined the way the host opens it (links followed), through the host's
// own read_token, whose copy is wiped at once.
TokenFileFacts examine_token_file(std::string path) {
  TokenFileFacts facts;
  facts.path = std::move(path);
  struct stat link {};
  facts.through_link = ::lstat(facts.path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  struct stat st {};
  if (::stat(facts.path.c_str(), &st) != 0) {
    facts.problem = Error::from_errno(errno).text();
    return facts;
  }
  facts.st = st;
  // read_token refuses a folder, FIFO, device or oversized file before it
  // opens it, so the problem shown is the very text a request would give.
  if (Result<std::string> token = read_token(facts.path); !token) {
    facts.problem = token.error().text();
  } else {
    wipe_secret(*token);
  }
  return facts;
}

// Connects as a request would, asks who listens, and closes without
// sending a byte.
ListenerFacts probe_listener(const std::string& socket_path, uid_t euid) {
  ListenerFacts facts;
  Result<UniqueFd> connection = connect_unix_socket(socket_path);
  if (!connection) {
    facts.problem = "cannot connect: " + connection.error().text();
    if (connection.error() == Error::from_errno(ENOENT)) {
      facts.hint = "no socket there: start Tarnwick, or check that it listens where this rule points";
    } else if (connection.error() == Error::from_errno(ECONNREFUSED)) {
      facts.hint = "a socket file is there but nothing listens: Tarnwick has stopped; start it again";
    }
    return facts;
  }
  Result<uid_t> peer = peer_uid(connection->get());
  if (!peer) {
    facts.problem = "cannot tell who listens: " + peer.error().text();
    return facts;
  }
  facts.peer = *peer;
  if (*peer != euid) {
    facts.problem = "the listener runs as uid " + std::to_string(*peer) + ", not as this user (uid " +
                    std::to_string(euid) + "); the host sends it nothing";
  }
  return facts;
}

// The same folders and checks as the installer's `list`, for the user this
// process runs as and the machine.
BrowserFacts examine_browsers() {
  BrowserFacts facts;
  Result<std::string> own = own_executable_path();
  facts.host = own ? std::move(own).value() : std::string();
  const Places places = find_places(kThisOs, std::nullopt, "/");
  facts.folders = every_browser_folder(places);
  facts.manifests = find_installed_manifests(facts.folders, kDefaultHostName, places);
  for (const InstalledManifest& found : facts.manifests) {
    // In a Flatpak the manifest starts our wrapper, which starts the host.
    const std::optional<std::string>& host = found.wrapper_host ? found.wrapper_host : found.host;
    facts.names_this_host.push_back(host && !facts.host.empty() && real_path(*host) == facts.host);
  }
  return facts;
}

Diagnosis diagnose(const IpcEnvironment& env) {
  Diagnosis d;
  d.uid = ::getuid();
  d.euid = ::geteuid();
  d.working_directory = working_directory();
  Result<std::string, IpcPathError> socket = resolve_ipc_socket_path(env, &d.trace);
  if (!socket) {
    d.location_problem = to_error(socket.error()).text();
    return d;
  }
  d.socket = std::move(socket).value();
  Result<IpcEndpoint> endpoint = ipc_endpoint_at(*d.socket);
  if (!endpoint) {
    d.location_problem = endpoint.error().text();
    return d;
  }
  d.token_file = examine_token_file(endpoint->token);
  d.listener = probe_listener(*d.socket, d.euid);
  return d;
}

// ---- The report ---------------------------------------------------------

std::string quoted(std::string_view bytes) { return "\"" + printable(bytes) + "\""; }

std::string_view finding_name(LocationFinding finding) {
  switch (finding) {
    case LocationFinding::unset: return "unset";
    case LocationFinding::not_utf8: return "not_utf8";
    case LocationFinding::blank: return "blank";
    case LocationFinding::chosen: return "chosen";
  }
  return "unset";
}

// One source in words: what it held and why it was passed over.
std::string describe(const LocationStep& step, uid_t uid) {
  const bool passwd = step.source == kPasswdHomeSource;
  const std::string value = step.value ? quoted(*step.value) : std::string();
  switch (step.finding) {
    case LocationFinding::unset:
      return passwd ? "no entry for uid " + std::to_string(uid) : "not set";
    case LocationFinding::not_utf8:
      return "set to " + value + ", not UTF-8: counts as not set";
    case LocationFinding::blank:
      if (passwd) return "the entry for uid " + std::to_string(uid) + " has no home directory";
      if (step.source == kHomeVariable) return "set but empty";
      if (step.source == kAppGroupContainerVariable) {
        return "set to " + value + ", empty or only \"/\": counts as not set";
      }
      return "set to " + value + ", only white space: counts as not set";
    case LocationFinding::chosen:
      return (passwd ? "home directory " : "set to ") + value + ": chosen";
  }
  return {};
}

std::string octal_mode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::string_view file_kind(mode_t mode) {
  if (S_ISREG(mode)) return "regular file";
  if (S_ISDIR(mode)) return "directory";
  if (S_ISFIFO(mode)) return "FIFO";
  if (S_ISCHR(mode)) return "character device";
  if (S_ISBLK(mode)) return "block device";
  if (S_ISSOCK(mode)) return "socket";
  return "other file";
}

std::string whose(uid_t uid, uid_t euid) {
  return "uid " + std::to_string(uid) + (uid == euid ? " (this user)" : "");
}

constexpr std::string_view kProblem = "  PROBLEM: ";

std::string text_report(const Diagnosis& d) {
  std::string out =
      "vellumkeep-native --doctor: would a request reach the desktop application?\n"
      "(Checked with this process's environment and working directory; a browser passes its own to the host.\n"
      "Nothing is sent and the token is not shown.)\n\n";
  out += "process: uid " + std::to_string(d.uid) + ", effective uid " + std::to_string(d.euid) +
         ", working directory " + (d.working_directory ? printable(*d.working_directory) : "unknown") + "\n\n";

  out += "socket location, first rule that applies:\n";
  for (const LocationStep& step : d.trace) {
    std::string source(step.source);
    source.resize(std::max<std::size_t>(source.size(), 32), ' ');
    out += "  " + source + describe(step, d.uid) + "\n";
  }
  if (d.socket) {
    const bool relative = d.socket->empty() || d.socket->front() != '/';
    out += "  socket: " + printable(*d.socket) + (relative ? " (relative to the working directory)" : "") + "\n";
  }
  if (d.location_problem) {
    out += std::string(kProblem) + *d.location_problem + "\n";
    out += "  (a request stops here: the token file and the socket are not examined)\n";
  }

  if (d.token_file) {
    const TokenFileFacts& t = *d.token_file;
    out += "\ntoken file: " + printable(t.path) + "\n";
    if (t.st) {
      out += "  " + std::string(file_kind(t.st->st_mode)) + (t.through_link ? " (through a symbolic link)" : "") +
             ", owner " + whose(t.st->st_uid, d.euid) + ", mode " + octal_mode(t.st->st_mode) + ", " +
             std::to_string(t.st->st_size) + " bytes\n";
    }
    out += t.problem ? std::string(kProblem) + *t.problem + "\n"
                     : "  ok: at least " + std::to_string(kMinTokenLength) + " bytes of UTF-8 once trimmed\n";
  }
  if (d.listener) {
    const ListenerFacts& l = *d.listener;
    out += "\nlistener:\n";
    if (l.peer) out += "  accepts connections; runs as " + whose(*l.peer, d.euid) + "\n";
    out += l.problem ? std::string(kProblem) + *l.problem + "\n"
                     : "  ok: connected and closed without sending anything\n";
    if (l.hint) out += "  hint: " + std::string(*l.hint) + "\n";
  }

  if (d.browsers) {
    const BrowserFacts& b = *d.browsers;
    out += "\nbrowser manifests named " + std::string(kDefaultHostName) + " (this host: " +
           (b.host.empty() ? std::string("unknown") : printable(b.host)) + "):\n";
    for (std::size_t i = 0; i < b.manifests.size(); ++i) {
      const InstalledManifest& found = b.manifests[i];
      out += "  " + folder_label(*found.folder) + " " + printable(found.path) + " " + describe_manifest(found) +
             (b.names_this_host[i] ? " [this host]" : " [another host]") + "\n";
    }
    if (!b.usable()) {
      out += std::string(kProblem) + "no browser can start this host: no working manifest names it\n" +
             "  hint: vk-install-host-manifest install (see its --help)\n";
    }
  }

  out += d.reachable() ? "\nverdict: a request would reach the desktop application\n"
                       : "\nverdict: a request would NOT reach the desktop application (see PROBLEM above)\n";
  return out;
}

JsonValue optional_text(const std::optional<std::string>& text) {
  return text ? JsonValue(*text) : JsonValue();
}

std::string json_report(const Diagnosis& d) {
  JsonObject process;
  process.set("uid", JsonValue(std::uint64_t{d.uid}));
  process.set("effective_uid", JsonValue(std::uint64_t{d.euid}));
  process.set("working_directory", d.working_directory ? JsonValue(printable(*d.working_directory)) : JsonValue());

  JsonArray rules;
  for (const LocationStep& step : d.trace) {
    JsonObject rule;
    rule.set("source", JsonValue(step.source));
    rule.set("finding", JsonValue(finding_name(step.finding)));
    rule.set("value", step.value ? JsonValue(printable(*step.value)) : JsonValue());
    rules.push_back(JsonValue(rule));
  }
  JsonObject location;
  location.set("rules", JsonValue(rules));
  location.set("socket", d.socket ? JsonValue(printable(*d.socket)) : JsonValue());
  location.set("problem", optional_text(d.location_problem));

  JsonObject report;
  report.set("process", JsonValue(process));
  report.set("location", JsonValue(location));
  report.set("token_file", JsonValue());
  report.set("listener", JsonValue());
  if (d.token_file) {
    const TokenFileFacts& t = *d.token_file;
    JsonObject token;
    token.set("path", JsonValue(printable(t.path)));
    token.set("through_link", JsonValue(t.through_link));
    token.set("kind", t.st ? JsonValue(file_kind(t.st->st_mode)) : JsonValue());
    token.set("owner_uid", t.st ? JsonValue(std::uint64_t{t.st->st_uid}) : JsonValue());
    token.set("mode", t.st ? JsonValue(octal_mode(t.st->st_mode)) : JsonValue());
    token.set("size", t.st ? JsonValue(static_cast<std::uint64_t>(t.st->st_size)) : JsonValue());
    token.set("problem", optional_text(t.problem));
    report.set("token_file", JsonValue(token));
  }
  if (d.listener) {
    JsonObject listener;
    listener.set("peer_uid", d.listener->peer ? JsonValue(std::uint64_t{*d.listener->peer}) : JsonValue());
    listener.set("problem", optional_text(d.listener->problem));
    report.set("listener", JsonValue(listener));
  }
  if (d.browsers) {
    const BrowserFacts& b = *d.browsers;
    JsonArray manifests;
    for (std::size_t i = 0; i < b.manifests.size(); ++i) {
      const InstalledManifest& found = b.manifests[i];
      JsonObject manifest;
      manifest.set("folder", JsonValue(folder_label(*found.folder)));
      manifest.set("path", JsonValue(printable(found.path)));
      manifest.set("host", found.host ? JsonValue(printable(*found.host)) : JsonValue());
      manifest.set("wrapper_host", found.wrapper_host ? JsonValue(printable(*found.wrapper_host)) : JsonValue());
      manifest.set("problem", found.problem.empty() ? JsonValue() : JsonValue(printable(found.problem)));
      manifest.set("this_host", JsonValue(static_cast<bool>(b.names_this_host[i])));
      manifests.push_back(JsonValue(manifest));
    }
    JsonObject browsers;
    browsers.set("host", b.host.empty() ? JsonValue() : JsonValue(printable(b.host)));
    browsers.set("manifests", JsonValue(manifests));
    browsers.set("usable", JsonValue(b.usable()));
    report.set("browsers", JsonValue(browsers));
  }
  report.set("reachable", JsonValue(d.reachable()));
  return serialize_json(JsonValue(report)) + "\n";
}

constexpr std::string_view kUsage =
    "usage: vellumkeep-native --doctor [--json] [--browsers]\n"
    "  --json      the report as JSON\n"
    "  --browsers  also the browsers' manifests for this host (as vk-install-host-manifest list)\n";

}  // namespace

int run_doctor(int argc, char** args) {
  bool json = false;
  bool browsers = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = args[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--browsers") {
      browsers = true;
    } else if (arg == "--help") {
      return write_all(STDOUT_FILENO, kUsage) ? 0 : kDoctorError;
    } else {
      (void)write_all(STDERR_FILENO, "vellumkeep-native --doctor: unknown option " + quoted(arg) + "\n" +
                                         std::string(kUsage));
      return kDoctorError;
    }
  }
  Diagnosis d = diagnose(process_ipc_environment());
  if (browsers) d.browsers = examine_browsers();
  if (!write_all(STDOUT_FILENO, json ? json_report(d) : text_report(d))) return kDoctorError;
  return d.reachable() ? kDoctorReachable : kDoctorUnreachable;
}

}  // namespace vk
