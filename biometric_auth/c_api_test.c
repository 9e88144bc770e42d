/* The C interface as a C caller sees it, against the shared manager running
 * on the in-memory platform and keychain of this test binary. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "biometric_auth/biometric_bridge.h"
#include "biometric_auth/testing/c_api_test_fakes.h"

static int failures = 0;

#define CHECK(condition)                                                   \
  do {                                                                     \
    if (!(condition)) {                                                    \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                          \
    }                                                                      \
  } while (0)

#define FFFD "\xEF\xBF\xBD"

/* A pointer value no call may write; detects writes to value_out. */
static char untouched_marker;
#define UNTOUCHED (&untouched_marker)

static void test_availability(void) {
  int32_t available = -1, type = -1, error = 1;
  fake_biometric_set(0, 0, -6, 0, 0);
  CHECK(biometric_is_available(&available, &type, &error) == 0);
  CHECK(available == 0 && type == 0 && error == -7);

  fake_biometric_set(2, 1, 0, 1, 0);
  CHECK(biometric_is_available(&available, &type, &error) == 0);
  CHECK(available == 1 && type == 2 && error == 0);
}

static void test_authenticate(void) {
  int32_t error = 1;
  fake_biometric_set(1, 1, 0, 1, 0);
  CHECK(biometric_authenticate(NULL, &error) == 1);
  CHECK(error == 0);
  CHECK(strcmp(fake_biometric_last_reason(), "Authenticate to unlock the vault") == 0);

  /* Only NULL selects the default text. */
  CHECK(biometric_authenticate("", &error) == 1);
  CHECK(strcmp(fake_biometric_last_reason(), "") == 0);

  CHECK(biometric_authenticate("Unlock \xFFvault", &error) == 1);
  CHECK(strcmp(fake_biometric_last_reason(), "Unlock " FFFD "vault") == 0);

  fake_biometric_set(1, 1, 0, 0, -2);
  CHECK(biometric_authenticate("why", &error) == 0);
  CHECK(error == -3);

  size_t prompts = fake_biometric_prompt_count();
  fake_biometric_set(0, 0, -7, 1, 0);
  CHECK(biometric_authenticate("why", &error) == 0);
  CHECK(error == -9);
  CHECK(fake_biometric_prompt_count() == prompts);
}

static void test_null_arguments(void) {
  int32_t success = 7, length = 7;
  char *value = UNTOUCHED;
  fake_keychain_put("svc", "k", "kept", 4);
  size_t calls = fake_keychain_call_count();

  CHECK(biometric_store_keychain(NULL, "v", "svc", &success) == -50 && success == 0);
  success = 7;
  CHECK(biometric_store_keychain("k", NULL, "svc", &success) == -50 && success == 0);
  success = 7;
  CHECK(biometric_store_keychain("k", "v", NULL, &success) == -50 && success == 0);
  CHECK(biometric_retrieve_keychain(NULL, "svc", &value, &length) == -1 && length == 0);
  length = 7;
  CHECK(biometric_retrieve_keychain("k", NULL, &value, &length) == -1 && length == 0);
  CHECK(value == UNTOUCHED);
  success = 7;
  CHECK(biometric_delete_keychain(NULL, "svc", &success) == -1 && success == 0);
  success = 7;
  CHECK(biometric_delete_keychain("k", NULL, &success) == -1 && success == 0);

  CHECK(fake_keychain_call_count() == calls);
  char bytes[8];
  size_t n = 0;
  CHECK(fake_keychain_get("svc", "k", bytes, sizeof bytes, &n) == 1);
  CHECK(n == 4 && memcmp(bytes, "kept", 4) == 0);
}

/* Stores `value`, reads it back and checks the text and byte count. */
static void check_round_trip(const char *value, const char *expected, int32_t expected_length) {
  int32_t success = 0, length = -1;
  char *copy = NULL;
  CHECK(biometric_store_keychain("k", value, "round-trip", &success) == 0);
  CHECK(success == 1);
  CHECK(biometric_retrieve_keychain("k", "round-trip", &copy, &length) == 0);
  CHECK(copy != NULL && strcmp(copy, expected) == 0);
  CHECK(length == expected_length);
  CHECK(copy != NULL && (int32_t)strlen(copy) == length);
  biometric_free_string(copy);
}

static void test_round_trips(void) {
  check_round_trip("secret", "secret", 6);
  check_round_trip("\xC3\xA9", "\xC3\xA9", 2);
  /* Each maximal ill-formed subpart becomes one U+FFFD of 3 bytes. */
  check_round_trip("a\xF1\x80\x80\xE1\x80\xC2" "b", "a" FFFD FFFD FFFD "b", 11);
  check_round_trip("\xC0\xAF", FFFD FFFD, 6);
  /* The empty value is a value: a one-byte allocation holding the NUL. */
  check_round_trip("", "", 0);

  /* Key and service are repaired the same way. */
  int32_t success = 0, length = 0;
  char *copy = NULL;
  CHECK(biometric_store_keychain("k\xFF", "v", "s\xFF", &success) == 0 && success == 1);
  CHECK(biometric_retrieve_keychain("k" FFFD, "s" FFFD, &copy, &length) == 0);
  CHECK(copy != NULL && strcmp(copy, "v") == 0 && length == 1);
  biometric_free_string(copy);
}

static void test_refused_values(void) {
  int32_t length = 7;
  char *value = UNTOUCHED;
  CHECK(biometric_retrieve_keychain("missing", "svc", &value, &length) == -1);
  CHECK(length == 0 && value == UNTOUCHED);

  /* A value holding a NUL would reach the caller cut short. */
  fake_keychain_put("svc", "nul", "ab\0cd", 5);
  length = 7;
  CHECK(biometric_retrieve_keychain("nul", "svc", &value, &length) == -1);
  CHECK(length == 0 && value == UNTOUCHED);

  /* Bytes another program wrote that are not UTF-8. */
  fake_keychain_put("svc", "latin1", "caf\xE9", 4);
  length = 7;
  CHECK(biometric_retrieve_keychain("latin1", "svc", &value, &length) == -1);
  CHECK(length == 0 && value == UNTOUCHED);
}

static void test_delete(void) {
  int32_t success = 0, length = 7;
  char *value = UNTOUCHED;
  CHECK(biometric_delete_keychain("never", "svc", &success) == 0 && success == 1);

  CHECK(biometric_store_keychain("gone", "v", "svc", &success) == 0 && success == 1);
  success = 0;
  CHECK(biometric_delete_keychain("gone", "svc", &success) == 0 && success == 1);
  CHECK(biometric_retrieve_keychain("gone", "svc", &value, &length) == -1 && length == 0);
}

int main(void) {
  biometric_free_string(NULL);
  test_availability();
  test_authenticate();
  test_null_arguments();
  test_round_trips();
  test_refused_values();
  test_delete();
  fake_biometric_set(0, 0, 0, 0, 0); /* joins the last reply thread */
  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return EXIT_FAILURE;
  }
  printf("c_api_test: all checks passed\n");
  return EXIT_SUCCESS;
}
