#include "biometric_auth/biometric_auth.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "biometric_auth/testing/fake_seams.h"

namespace vk::biometric {
namespace {

using testing::FakeBiometricScript;
using testing::FakeKeychainStore;
using testing::TestManager;
using E = BiometricError;
using T = BiometricType;

const std::string kOtherDomain = "NSOSStatusErrorDomain";

PlatformError la(std::int64_t code) { return {std::string(kLocalAuthenticationErrorDomain), code}; }
PlatformError other(std::int64_t code) { return {kOtherDomain, code}; }

class BiometricAuthTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeBiometricScript> script = std::make_shared<FakeBiometricScript>();
  std::shared_ptr<FakeKeychainStore> store = std::make_shared<FakeKeychainStore>();
  // Long enough never to expire while a reply is on its way.
  TestManager manager{script, store, std::chrono::seconds(30)};
};

TEST(BiometricEnumsTest, RawValuesRoundTripAndUnknownRawValuesGiveNoCase) {
  const std::vector<std::pair<E, std::int32_t>> errors = {
      {E::success, 0},         {E::notAvailable, -1},         {E::notEnrolled, -2},
      {E::userCancel, -3},     {E::userFallback, -4},         {E::systemCancel, -5},
      {E::passcodeNotSet, -6}, {E::biometryNotAvailable, -7}, {E::biometryLockout, -8},
      {E::biometryNotEnrolled, -9}, {E::unknown, -99}};
  for (auto [error, raw] : errors) {
    EXPECT_EQ(rawValue(error), raw);
    EXPECT_EQ(biometricErrorFromRaw(raw), error) << raw;
  }
  for (std::int32_t raw : {1, -10, -98, -100, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(biometricErrorFromRaw(raw), std::nullopt) << raw;
  }

  const std::vector<std::pair<T, std::int32_t>> types = {
      {T::none, 0}, {T::touchID, 1}, {T::faceID, 2}, {T::opticID, 3}};
  for (auto [type, raw] : types) {
    EXPECT_EQ(rawValue(type), raw);
    EXPECT_EQ(biometricTypeFromRaw(raw), type) << raw;
  }
  for (std::int32_t raw : {-1, 4, 5, INT32_MAX}) {
    EXPECT_EQ(biometricTypeFromRaw(raw), std::nullopt) << raw;
  }
}

// One row of the platform-code table: the code as each of the three
// platform answers gives it, and what each answer becomes.
struct CodeRow {
  std::optional<PlatformError> error;
  E fromAvailability;
  E fromAuthenticateCheck;
  E fromReply;
};

TEST_F(BiometricAuthTest, EveryPlatformCodeMapsAsTheTableSays) {
  const std::vector<CodeRow> rows = {
      {la(-2), E::unknown, E::unknown, E::userCancel},
      {la(-3), E::unknown, E::unknown, E::userFallback},
      {la(-4), E::unknown, E::unknown, E::systemCancel},
      {la(-5), E::passcodeNotSet, E::passcodeNotSet, E::unknown},
      {la(-6), E::biometryNotAvailable, E::biometryNotAvailable, E::unknown},
      {la(-7), E::biometryNotEnrolled, E::biometryNotEnrolled, E::unknown},
      {la(-8), E::biometryLockout, E::biometryLockout, E::biometryLockout},
      {la(-1), E::unknown, E::unknown, E::unknown},
      {la(-9), E::unknown, E::unknown, E::unknown},
      {la(-1004), E::unknown, E::unknown, E::unknown},
      {other(-2), E::unknown, E::notAvailable, E::unknown},
      {other(-5), E::passcodeNotSet, E::notAvailable, E::unknown},
      {other(-6), E::biometryNotAvailable, E::notAvailable, E::unknown},
      {other(-7), E::biometryNotEnrolled, E::notAvailable, E::unknown},
      {other(-8), E::biometryLockout, E::notAvailable, E::unknown},
      {other(0), E::unknown, E::notAvailable, E::unknown},
      {std::nullopt, E::unknown, E::notAvailable, E::unknown},
  };
  for (const CodeRow& row : rows) {
    const std::string label = row.error ? row.error->domain + " " + std::to_string(row.error->code)
                                        : std::string("no error");
    script->setBiometryKind(1);
    script->setCanEvaluate(false, row.error);
    EXPECT_EQ(manager.isBiometricAvailable().error, row.fromAvailability) << label;
    EXPECT_EQ(manager.authenticate("r"), row.fromAuthenticateCheck) << label;

    script->setCanEvaluate(true);
    script->setReply(false, row.error);
    EXPECT_EQ(manager.authenticate("r"), row.fromReply) << label;
    EXPECT_EQ(manager.getLastError(), row.fromReply) << label;
  }
}

TEST_F(BiometricAuthTest, ReportedSuccessWinsOverAnAccompanyingError) {
  script->setReply(true, la(-2));
  EXPECT_EQ(manager.authenticate("r"), E::success);
}

TEST_F(BiometricAuthTest, AvailabilitySetsTheFallbackTitleAndReadsTheKindFirst) {
  script->setCanEvaluate(false, la(-7));
  (void)manager.isBiometricAvailable();
  EXPECT_EQ(script->calls(), (std::vector<std::string>{"setLocalizedFallbackTitle:Use Password",
                                                       "biometryType", "canEvaluatePolicy:1"}));
  EXPECT_EQ(script->contextsAlive(), 0);
}

TEST_F(BiometricAuthTest, AvailabilityKindsAndSubstitutions) {
  struct Row {
    std::int64_t kind;
    bool can;
    std::optional<PlatformError> error;
    BiometricAvailability expected;
  };
  const std::vector<Row> rows = {
      // Policy can be evaluated: a device reporting no kind counts as Touch ID.
      {0, true, std::nullopt, {true, T::touchID, E::success}},
      {1, true, std::nullopt, {true, T::touchID, E::success}},
      {2, true, std::nullopt, {true, T::faceID, E::success}},
      {4, true, std::nullopt, {true, T::opticID, E::success}},
      {3, true, std::nullopt, {true, T::touchID, E::success}},
      {5, true, std::nullopt, {true, T::touchID, E::success}},
      {-1, true, std::nullopt, {true, T::touchID, E::success}},
      // Refused with kind 0: no kind only when there is no biometry at all.
      {0, false, la(-6), {false, T::none, E::biometryNotAvailable}},
      {0, false, la(-7), {false, T::touchID, E::biometryNotEnrolled}},
      {0, false, la(-8), {false, T::touchID, E::biometryLockout}},
      {0, false, la(-5), {false, T::touchID, E::passcodeNotSet}},
      {0, false, la(-2), {false, T::touchID, E::unknown}},
      {0, false, std::nullopt, {false, T::touchID, E::unknown}},
      {0, false, other(-6), {false, T::none, E::biometryNotAvailable}},
      {3, false, la(-6), {false, T::none, E::biometryNotAvailable}},
      // A kind that was read stays.
      {2, false, la(-6), {false, T::faceID, E::biometryNotAvailable}},
      {4, false, la(-7), {false, T::opticID, E::biometryNotEnrolled}},
      {1, false, std::nullopt, {false, T::touchID, E::unknown}},
  };
  for (const Row& row : rows) {
    script->setBiometryKind(row.kind);
    script->setCanEvaluate(row.can, row.error);
    const BiometricAvailability got = manager.isBiometricAvailable();
    EXPECT_EQ(got, row.expected) << "kind " << row.kind << " can " << row.can << " error "
                                 << (row.error ? row.error->code : 0);
  }
}

TEST_F(BiometricAuthTest, LastErrorStartsAsSuccessAndOnlyAuthenticateWritesIt) {
  EXPECT_EQ(manager.getLastError(), E::success);
  script->setReply(false, la(-2));
  EXPECT_EQ(manager.authenticate("r"), E::userCancel);
  EXPECT_EQ(manager.getLastError(), E::userCancel);

  script->setCanEvaluate(true);
  (void)manager.isBiometricAvailable();
  EXPECT_EQ(manager.getLastError(), E::userCancel);

  script->setCanEvaluate(false, la(-6));
  EXPECT_EQ(manager.authenticate("r"), E::biometryNotAvailable);
  EXPECT_EQ(manager.getLastError(), E::biometryNotAvailable);
}

TEST_F(BiometricAuthTest, RefusedPolicyShowsNoPrompt) {
  script->setCanEvaluate(false, la(-6));
  EXPECT_EQ(manager.authenticate("r"), E::biometryNotAvailable);
  EXPECT_EQ(script->calls(), (std::vector<std::string>{"setLocalizedFallbackTitle:Use Password",
                                                       "canEvaluatePolicy:1"}));
  EXPECT_EQ(script->contextsAlive(), 0);
}

TEST_F(BiometricAuthTest, PromptCarriesTheReasonAndIsAnsweredOnAnotherThread) {
  script->setReplyMode(FakeBiometricScript::ReplyMode::kHeld);
  E result = E::unknown;
  std::thread caller([&] { result = manager.authenticate("Unlock \xC3\xA9t\xC3\xA9"); });
  script->waitUntilHeld();
  script->answerHeld(false, la(-3));
  caller.join();

  EXPECT_EQ(result, E::userFallback);
  EXPECT_EQ(manager.getLastError(), E::userFallback);
  EXPECT_EQ(script->reasons(), std::vector<std::string>{"Unlock \xC3\xA9t\xC3\xA9"});
  ASSERT_EQ(script->replyThreads().size(), 1u);
  EXPECT_NE(script->replyThreads()[0], caller.get_id());
  EXPECT_EQ(script->calls(),
            (std::vector<std::string>{"setLocalizedFallbackTitle:Use Password",
                                      "canEvaluatePolicy:1", "evaluatePolicy:1"}));
  EXPECT_EQ(script->contextsAlive(), 0);
}

TEST_F(BiometricAuthTest, ImmediateReplyFromThePlatformThreadSucceeds) {
  EXPECT_EQ(manager.authenticate(""), E::success);
  script->joinReplyThreads();
  ASSERT_EQ(script->replyThreads().size(), 1u);
  EXPECT_NE(script->replyThreads()[0], std::this_thread::get_id());
  EXPECT_EQ(script->reasons(), std::vector<std::string>{""});
}

TEST_F(BiometricAuthTest, ReplyAfterTheDeadlineChangesNeitherResultNorLastError) {
  TestManager hasty{script, store, std::chrono::milliseconds(50)};
  script->setReplyMode(FakeBiometricScript::ReplyMode::kHeld);
  EXPECT_EQ(hasty.authenticate("r"), E::unknown);
  EXPECT_EQ(hasty.getLastError(), E::unknown);

  // The late reply writes into a cell only it still holds.
  script->answerHeld(true);
  EXPECT_EQ(hasty.getLastError(), E::unknown);

  // The late signal went to that call's own semaphore: the next call still
  // waits for its own reply.
  EXPECT_EQ(hasty.authenticate("r"), E::unknown);
  script->answerHeld(true);
  EXPECT_EQ(hasty.getLastError(), E::unknown);
}

TEST_F(BiometricAuthTest, ConcurrentCallsEachLeaveOneWholeResult) {
  const std::vector<std::pair<std::string, E>> outcomes = {
      {"cancel", E::userCancel}, {"fallback", E::userFallback},
      {"system", E::systemCancel}, {"ok", E::success}};
  script->setReplyForReason([](const std::string& reason) {
    if (reason == "ok") return std::make_pair(true, std::optional<PlatformError>());
    const std::int64_t code = reason == "cancel" ? -2 : reason == "fallback" ? -3 : -4;
    return std::make_pair(false, std::optional<PlatformError>(la(code)));
  });

  std::vector<std::thread> callers;
  std::vector<int> mismatches(outcomes.size(), 0);
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    callers.emplace_back([&, i] {
      for (int round = 0; round < 50; ++round) {
        if (manager.authenticate(outcomes[i].first) != outcomes[i].second) ++mismatches[i];
      }
    });
  }
  for (std::thread& caller : callers) caller.join();

  EXPECT_EQ(mismatches, std::vector<int>(outcomes.size(), 0));
  const std::set<E> possible = {E::userCancel, E::userFallback, E::systemCancel, E::success};
  EXPECT_TRUE(possible.count(manager.getLastError()));
}

}  // namespace
}  // namespace vk::biometric
