/* The biometric and keychain bridge for C callers (and any language with a
 * C foreign-function interface). Every number is a signed 32-bit integer;
 * strings are NUL-terminated UTF-8. See docs/bridge.md. */
#ifndef VELLUMKEEP_BIOMETRIC_BRIDGE_H
#define VELLUMKEEP_BIOMETRIC_BRIDGE_H

#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define BIOMETRIC_BRIDGE_EXPORT __attribute__((visibility("default")))
#else
#define BIOMETRIC_BRIDGE_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Writes availability (1/0), the biometry kind and the error code, in that
 * order. Always returns 0. */
BIOMETRIC_BRIDGE_EXPORT int32_t biometric_is_available(int32_t *available_out, int32_t *type_out,
                                                       int32_t *error_out);

/* Shows the biometric prompt (NULL reason: the default text) and blocks up to
 * 60 seconds. Returns 1 when the user authenticated, else 0. */
BIOMETRIC_BRIDGE_EXPORT int32_t biometric_authenticate(const char *reason, int32_t *error_out);

/* Creates or replaces the item. Returns 0 or the keychain's status; -50 for a
 * NULL argument. */
BIOMETRIC_BRIDGE_EXPORT int32_t biometric_store_keychain(const char *key, const char *value,
                                                         const char *service,
                                                         int32_t *success_out);

/* Hands out a copy of the value (free it with biometric_free_string) and its
 * byte count. Returns 0, or -1 when there is no value to hand out. */
BIOMETRIC_BRIDGE_EXPORT int32_t biometric_retrieve_keychain(const char *key, const char *service,
                                                            char **value_out,
                                                            int32_t *length_out);

/* Deletes the item. Returns 0 when it is gone or never existed, else -1. */
BIOMETRIC_BRIDGE_EXPORT int32_t biometric_delete_keychain(const char *key, const char *service,
                                                          int32_t *success_out);

/* Releases a string handed out by the bridge; NULL is ignored. */
BIOMETRIC_BRIDGE_EXPORT void biometric_free_string(char *string);

#ifdef __cplusplus
}
#endif

#endif /* VELLUMKEEP_BIOMETRIC_BRIDGE_H */
