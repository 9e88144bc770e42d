/* Preloaded into the host by host_bridge_test, as a caller in the same
 * process: before the host's main runs, it calls the bridge functions the
 * executable exports and prints each result on standard error as one
 * "probe: ..." line. Without VK_PROBE_SERVICE it does nothing; the keychain
 * calls use that service. VK_PROBE_BIOMETRICS=1 adds the biometric calls,
 * which a machine with a real fingerprint sensor would wait on. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "biometric_auth/biometric_bridge.h"

/* Bound to the executable's exports when the probe is loaded; null where
 * the executable exports no such function. */
#pragma weak biometric_is_available
#pragma weak biometric_authenticate
#pragma weak biometric_store_keychain
#pragma weak biometric_retrieve_keychain
#pragma weak biometric_delete_keychain
#pragma weak biometric_free_string

/* Whether a mapping of this process comes from a file named `name`. */
static int mapped(const char *name) {
  FILE *maps = fopen("/proc/self/maps", "r");
  if (maps == NULL) return -1;
  char line[4096];
  int found = 0;
  while (!found && fgets(line, sizeof line, maps) != NULL) found = strstr(line, name) != NULL;
  fclose(maps);
  return found;
}

static void retrieve_and_print(const char *service) {
  char *value = NULL;
  int32_t length = -1;
  int32_t status = biometric_retrieve_keychain("probe-key", service, &value, &length);
  fprintf(stderr, "probe: retrieve %d %d %s\n", status, length, status == 0 ? value : "-");
  if (status == 0) biometric_free_string(value);
}

__attribute__((constructor)) static void probe(void) {
  const char *service = getenv("VK_PROBE_SERVICE");
  if (service == NULL) return;
  if (!biometric_is_available || !biometric_authenticate || !biometric_store_keychain ||
      !biometric_retrieve_keychain || !biometric_delete_keychain || !biometric_free_string) {
    fputs("probe: the executable does not export the six bridge functions\n", stderr);
    return;
  }

  fprintf(stderr, "probe: backends mapped before %d\n", mapped("desktop-backends.so"));
  int32_t available = -1, type = -1, error = -1, success = -1;
  int32_t status;
  const char *biometrics = getenv("VK_PROBE_BIOMETRICS");
  if (biometrics != NULL && strcmp(biometrics, "1") == 0) {
    status = biometric_is_available(&available, &type, &error);
    fprintf(stderr, "probe: is_available %d %d %d %d\n", status, available, type, error);
    status = biometric_authenticate(NULL, &error);
    fprintf(stderr, "probe: authenticate %d %d\n", status, error);
  }
  status = biometric_store_keychain("probe-key", "probe-v\xC3\xA4lue", service, &success);
  fprintf(stderr, "probe: store %d %d\n", status, success);
  retrieve_and_print(service);
  status = biometric_delete_keychain("probe-key", service, &success);
  fprintf(stderr, "probe: delete %d %d\n", status, success);
  retrieve_and_print(service);
  fprintf(stderr, "probe: backends mapped after %d\n", mapped("desktop-backends.so"));
}
