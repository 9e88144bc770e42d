/* The bridge's C interface against the system's real services, through the
 * shared library, as a C caller in another program uses it: availability
 * answers (and in time), and a store, read, update and delete round trip
 * in the user's default keychain, with a key that begins with U+FEFF kept
 * apart from the same key without it. Items use a service of their own per
 * run and are deleted at the end, also after a failure.
 *
 * With VK_EXPECT_NO_BIOMETRICS=1 (a machine without a sensor, as a hosted
 * Mac or the private Linux session) availability must be "no", with a
 * code. Exit 0 pass, 1 fail. Run on macOS by the hosted-Mac workflow inside
 * a keychain made for the job; on Linux inside tests/with_desktop_session.sh. */
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "biometric_auth/biometric_bridge.h"

/* Every call here answers at once on a healthy system; one that waits on
 * a prompt or a frozen service would hang the job instead of failing it. */
enum { kSecondsPerCall = 30 };

static char service[96];
static int failures;

static void no_answer(int signal_number) {
  (void)signal_number;
  static const char text[] = "bridge_smoke: a bridge call did not answer in time\n";
  ssize_t ignored = write(STDERR_FILENO, text, sizeof text - 1);
  (void)ignored;
  _exit(1);
}

static void fail(const char *what) {
  fprintf(stderr, "bridge_smoke: FAIL: %s\n", what);
  ++failures;
}

/* Reads `key` and compares it with `expected` (NULL: must be absent). */
static void expect_value(const char *key, const char *expected, const char *what) {
  char *value = NULL;
  int32_t length = -1;
  alarm(kSecondsPerCall);
  const int32_t status = biometric_retrieve_keychain(key, service, &value, &length);
  alarm(0);
  if (expected == NULL) {
    if (status != -1 || length != 0) fail(what);
  } else if (status != 0 || value == NULL || strcmp(value, expected) != 0 ||
             length != (int32_t)strlen(expected)) {
    fail(what);
  }
  if (status == 0) biometric_free_string(value);
}

static void store(const char *key, const char *value, const char *what) {
  int32_t success = -1;
  alarm(kSecondsPerCall);
  const int32_t status = biometric_store_keychain(key, value, service, &success);
  alarm(0);
  if (status != 0 || success != 1) {
    fprintf(stderr, "bridge_smoke: store returned %d, success %d\n", (int)status, (int)success);
    fail(what);
  }
}

static void delete_key(const char *key) {
  int32_t success = -1;
  alarm(kSecondsPerCall);
  const int32_t status = biometric_delete_keychain(key, service, &success);
  alarm(0);
  if (status != 0 || success != 1) fail("delete answers 0 whether or not the item was there");
}

int main(void) {
  const char *expectation = getenv("VK_EXPECT_NO_BIOMETRICS");
  const int expect_no_biometrics = expectation != NULL && strcmp(expectation, "1") == 0;
  signal(SIGALRM, no_answer);
  snprintf(service, sizeof service, "com.tarnwick.vellumkeep.smoke.%ld", (long)getpid());

  int32_t available = -1, type = -1, error = -1;
  alarm(kSecondsPerCall);
  const int32_t answered = biometric_is_available(&available, &type, &error);
  alarm(0);
  printf("biometric_is_available: %d, available %d, type %d, error %d\n", (int)answered,
         (int)available, (int)type, (int)error);
  if (answered != 0 || (available == 1) != (error == 0)) fail("availability is not consistent");
  if (expect_no_biometrics && (available != 0 || error == 0)) {
    fail("a machine without a sensor answers not available, with a code");
  }

  /* A BOM is text: the key with it and the key without it are two items. */
  const char *key = "smoke-key";
  const char *bom_key = "\xEF\xBB\xBFsmoke-key";
  store(key, "first value", "store a new item");
  expect_value(key, "first value", "read the stored value back");
  store(key, "second v\xC3\xA4lue", "store over an existing item");
  expect_value(key, "second v\xC3\xA4lue", "read the updated value");
  store(bom_key, "\xEF\xBB\xBF" "value with a BOM", "store under the key with U+FEFF");
  expect_value(bom_key, "\xEF\xBB\xBF" "value with a BOM", "read the key with U+FEFF");
  expect_value(key, "second v\xC3\xA4lue", "the key without U+FEFF keeps its own value");
  delete_key(key);
  expect_value(key, NULL, "a deleted item is gone");
  expect_value(bom_key, "\xEF\xBB\xBF" "value with a BOM", "deleting one key leaves the other");
  delete_key(bom_key);
  delete_key(bom_key);
  expect_value(bom_key, NULL, "both items are gone");

  if (failures != 0) {
    /* Leave nothing behind in the keychain. */
    int32_t ignored;
    biometric_delete_keychain(key, service, &ignored);
    biometric_delete_keychain(bom_key, service, &ignored);
    fprintf(stderr, "bridge_smoke: %d failures\n", failures);
    return 1;
  }
  printf("bridge_smoke: keychain round trip in service %s passed\n", service);
  return 0;
}
