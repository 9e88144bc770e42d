// An in-memory environment and passwd entry for socket-location tests.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "native_messaging/ipc_path.h"

namespace vk::testing {

struct FakeIpcEnvironment final : IpcEnvironment {
  FakeIpcEnvironment() = default;
  FakeIpcEnvironment(std::map<std::string, std::string> vars,
                     std::optional<std::string> home_from_passwd = std::nullopt)
      : variables(std::move(vars)), passwd_home(std::move(home_from_passwd)) {}

  std::optional<std::string> variable(std::string_view name) const override {
    auto it = variables.find(std::string(name));
    if (it == variables.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::string> passwd_home_dir() const override { return passwd_home; }

  std::map<std::string, std::string> variables;
  std::optional<std::string> passwd_home;
};

}  // namespace vk::testing
