/* Controls of the in-memory platform and keychain that stand in for the
 * system ones in the C interface test binary (and nowhere else). */
#ifndef VELLUMKEEP_C_API_TEST_FAKES_H
#define VELLUMKEEP_C_API_TEST_FAKES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The platform's biometry kind, policy answer and prompt reply, with codes
 * in the platform's authentication error domain (0: no error). */
void fake_biometric_set(int64_t kind, int can_evaluate, int64_t check_code, int reply_success,
                        int64_t reply_code);
/* The reason text of the latest prompt ("" before any), valid until the next. */
const char *fake_biometric_last_reason(void);
/* Number of prompts shown so far. */
size_t fake_biometric_prompt_count(void);

/* Puts raw bytes in the keychain as another program could. */
void fake_keychain_put(const char *service, const char *key, const char *bytes, size_t length);
/* Copies an item's bytes out; returns 1 when it exists. */
int fake_keychain_get(const char *service, const char *key, char *buffer, size_t capacity,
                      size_t *length_out);
/* Number of keychain operations so far. */
size_t fake_keychain_call_count(void);

#ifdef __cplusplus
}
#endif

#endif /* VELLUMKEEP_C_API_TEST_FAKES_H */
