// Deterministic in-memory stand-ins for the biometric platform and the
// keychain, for tests only.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "biometric_auth/biometric_auth.h"
#include "biometric_auth/biometric_platform.h"
#include "biometric_auth/keychain_items.h"

namespace vk::biometric::testing {

// What the fake platform answers, and what it was asked. Shared between the
// test and the contexts it hands out.
class FakeBiometricScript {
  // Runs `f` under the script's lock (defined first: later members use it).
  template <class F>
  auto locked(F f) {
    std::lock_guard lock(mutex_);
    return f();
  }

 public:
  // How an evaluation is answered.
  enum class ReplyMode {
    kOnNewThread,  // at once, on a fresh thread
    kHeld,         // when the test calls answerHeld()
  };

  ~FakeBiometricScript() { joinReplyThreads(); }

  void setBiometryKind(std::int64_t kind) { locked([&] { kind_ = kind; }); }
  void setCanEvaluate(bool can, std::optional<PlatformError> error = std::nullopt) {
    locked([&] { canEvaluate_ = CanEvaluateAnswer{can, std::move(error)}; });
  }
  void setReply(bool success, std::optional<PlatformError> error = std::nullopt) {
    locked([&] { replySuccess_ = success; replyError_ = std::move(error); });
  }
  void setReplyMode(ReplyMode mode) { locked([&] { mode_ = mode; }); }
  // Answers each evaluation by its reason instead of the fixed reply.
  using ReplyForReason =
      std::function<std::pair<bool, std::optional<PlatformError>>(const std::string&)>;
  void setReplyForReason(ReplyForReason replyFor) {
    locked([&] { replyFor_ = std::move(replyFor); });
  }

  // Blocks until an evaluation is held, then answers the oldest one on a
  // new thread and waits for that thread.
  void answerHeld(bool success, std::optional<PlatformError> error = std::nullopt) {
    EvaluateReply reply;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return !held_.empty(); });
      reply = std::move(held_.front());
      held_.pop_front();
    }
    std::thread([&] { reply(success, std::move(error)); }).join();
  }
  // Blocks until an evaluation is held.
  void waitUntilHeld() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !held_.empty(); });
  }

  // The calls made on contexts, in order, e.g. "biometryType".
  std::vector<std::string> calls() { return locked([&] { return calls_; }); }
  std::vector<std::string> reasons() { return locked([&] { return reasons_; }); }
  std::vector<std::thread::id> replyThreads() { return locked([&] { return replyThreads_; }); }
  int contextsAlive() { return locked([&] { return contextsAlive_; }); }

  void joinReplyThreads() {
    std::vector<std::thread> threads = locked([&] { return std::move(threads_); });
    for (std::thread& thread : threads) thread.join();
  }

 private:
  friend class FakeBiometricContext;

  void record(std::string call) { locked([&] { calls_.push_back(std::move(call)); }); }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t kind_ = 1;
  CanEvaluateAnswer canEvaluate_{true, std::nullopt};
  bool replySuccess_ = true;
  std::optional<PlatformError> replyError_;
  ReplyMode mode_ = ReplyMode::kOnNewThread;
  ReplyForReason replyFor_;
  std::deque<EvaluateReply> held_;
  std::vector<std::thread> threads_;
  std::vector<std::string> calls_;
  std::vector<std::string> reasons_;
  std::vector<std::thread::id> replyThreads_;
  int contextsAlive_ = 0;
};

class FakeBiometricContext : public BiometricContext {
 public:
  explicit FakeBiometricContext(std::shared_ptr<FakeBiometricScript> script)
      : script_(std::move(script)) {
    script_->locked([&] { ++script_->contextsAlive_; });
  }
  ~FakeBiometricContext() override {
    script_->locked([&] { --script_->contextsAlive_; });
  }

  void setLocalizedFallbackTitle(std::string_view title) override {
    script_->record("setLocalizedFallbackTitle:" + std::string(title));
  }
  std::int64_t biometryType() override {
    script_->record("biometryType");
    return script_->locked([&] { return script_->kind_; });
  }
  CanEvaluateAnswer canEvaluatePolicy(std::int64_t policy) override {
    script_->record("canEvaluatePolicy:" + std::to_string(policy));
    return script_->locked([&] { return script_->canEvaluate_; });
  }
  void evaluatePolicy(std::int64_t policy, std::string_view reason,
                      EvaluateReply reply) override {
    script_->record("evaluatePolicy:" + std::to_string(policy));
    FakeBiometricScript& s = *script_;
    std::lock_guard lock(s.mutex_);
    s.reasons_.emplace_back(reason);
    if (s.mode_ == FakeBiometricScript::ReplyMode::kHeld) {
      // Record the answering thread when the test answers.
      s.held_.push_back([script = script_.get(), reply = std::move(reply)](
                            bool success, std::optional<PlatformError> error) {
        script->locked([&] { script->replyThreads_.push_back(std::this_thread::get_id()); });
        reply(success, std::move(error));
      });
      s.changed_.notify_all();
      return;
    }
    auto [success, error] = s.replyFor_ ? s.replyFor_(std::string(reason))
                                        : std::make_pair(s.replySuccess_, s.replyError_);
    // A plain pointer: the script joins these threads before it goes, and a
    // thread holding the last reference would have to join itself.
    s.threads_.emplace_back([script = script_.get(), reply = std::move(reply), success = success,
                             error = error] {
      script->locked([&] { script->replyThreads_.push_back(std::this_thread::get_id()); });
      reply(success, error);
    });
  }

 private:
  std::shared_ptr<FakeBiometricScript> script_;
};

class FakeBiometricPlatform : public BiometricPlatform {
 public:
  explicit FakeBiometricPlatform(std::shared_ptr<FakeBiometricScript> script)
      : script_(std::move(script)) {}
  std::unique_ptr<BiometricContext> makeContext() override {
    return std::make_unique<FakeBiometricContext>(script_);
  }

 private:
  std::shared_ptr<FakeBiometricScript> script_;
};

// An in-memory keychain keeping the seam's contract, with statuses that a
// test can force for the next calls of each operation.
class FakeKeychainStore {
 public:
  using Identity = std::pair<std::string, std::string>;  // service, account

  std::map<Identity, std::string> items;
  std::deque<OSStatus> failNextAdd, failNextUpdate, failNextCopy, failNextRemove;
  std::vector<std::string> calls;  // "add", "update", "copyMatching", "remove", ...
  bool readsWithoutUI = false;     // offers copyMatchingWithoutUI (failNextCopy applies)
  int operationDepth = 0;          // open beginOperation() brackets
  int callsOutsideOperations = 0;  // calls made outside any bracket

  void beginOperation() {
    std::lock_guard lock(mutex_);
    ++operationDepth;
  }
  void endOperation() {
    std::lock_guard lock(mutex_);
    --operationDepth;
  }

  OSStatus add(std::string_view service, std::string_view account, std::string_view data) {
    std::lock_guard lock(mutex_);
    record("add");
    if (auto forced = takeForced(failNextAdd)) return *forced;
    auto [it, inserted] = items.try_emplace(identity(service, account), data);
    return inserted ? errSecSuccess : errSecDuplicateItem;
  }
  OSStatus update(std::string_view service, std::string_view account, std::string_view data) {
    std::lock_guard lock(mutex_);
    record("update");
    if (auto forced = takeForced(failNextUpdate)) return *forced;
    auto it = items.find(identity(service, account));
    if (it == items.end()) return errSecItemNotFound;
    it->second = std::string(data);
    return errSecSuccess;
  }
  OSStatus copyMatching(std::string_view service, std::string_view account, std::string& out) {
    std::lock_guard lock(mutex_);
    return read("copyMatching", service, account, out);
  }
  std::optional<OSStatus> copyMatchingWithoutUI(std::string_view service,
                                                std::string_view account, std::string& out) {
    std::lock_guard lock(mutex_);
    if (!readsWithoutUI) return std::nullopt;
    return read("copyMatchingWithoutUI", service, account, out);
  }
  OSStatus remove(std::string_view service, std::string_view account) {
    std::lock_guard lock(mutex_);
    record("remove");
    if (auto forced = takeForced(failNextRemove)) return *forced;
    return items.erase(identity(service, account)) > 0 ? errSecSuccess : errSecItemNotFound;
  }

 private:
  void record(const char* call) {
    calls.emplace_back(call);
    if (operationDepth == 0) ++callsOutsideOperations;
  }
  OSStatus read(const char* call, std::string_view service, std::string_view account,
                std::string& out) {
    record(call);
    if (auto forced = takeForced(failNextCopy)) return *forced;
    auto it = items.find(identity(service, account));
    if (it == items.end()) return errSecItemNotFound;
    out = it->second;
    return errSecSuccess;
  }
  static Identity identity(std::string_view service, std::string_view account) {
    return {std::string(service), std::string(account)};
  }
  static std::optional<OSStatus> takeForced(std::deque<OSStatus>& queue) {
    if (queue.empty()) return std::nullopt;
    OSStatus status = queue.front();
    queue.pop_front();
    return status;
  }

  std::mutex mutex_;
};

class FakeKeychainItems : public KeychainItems {
 public:
  explicit FakeKeychainItems(std::shared_ptr<FakeKeychainStore> store)
      : store_(std::move(store)) {}
  OSStatus add(std::string_view service, std::string_view account,
               std::string_view data) override {
    return store_->add(service, account, data);
  }
  OSStatus update(std::string_view service, std::string_view account,
                  std::string_view data) override {
    return store_->update(service, account, data);
  }
  OSStatus copyMatching(std::string_view service, std::string_view account,
                        std::string& data_out) override {
    return store_->copyMatching(service, account, data_out);
  }
  std::optional<OSStatus> copyMatchingWithoutUI(std::string_view service,
                                                std::string_view account,
                                                std::string& data_out) override {
    return store_->copyMatchingWithoutUI(service, account, data_out);
  }
  OSStatus remove(std::string_view service, std::string_view account) override {
    return store_->remove(service, account);
  }
  void beginOperation() override { store_->beginOperation(); }
  void endOperation() override { store_->endOperation(); }

 private:
  std::shared_ptr<FakeKeychainStore> store_;
};

// A manager on the fakes, with a short wait limit.
class TestManager : public BiometricAuthManager {
 public:
  TestManager(std::shared_ptr<FakeBiometricScript> script,
              std::shared_ptr<FakeKeychainStore> store,
              std::chrono::milliseconds promptWaitLimit = std::chrono::milliseconds(50))
      : BiometricAuthManager(std::make_unique<FakeBiometricPlatform>(std::move(script)),
                             std::make_unique<FakeKeychainItems>(std::move(store)),
                             promptWaitLimit) {}
};

}  // namespace vk::biometric::testing
