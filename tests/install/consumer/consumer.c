/* Links every function of the installed bridge; running it proves the
 * shared library loads. No function is called that would need a keychain
 * or a biometric device. */
#include <stdio.h>

#include <vellumkeep/biometric_bridge.h>

int main(void) {
  typedef void (*function)(void);
  const function functions[] = {
      (function)biometric_is_available,    (function)biometric_authenticate,
      (function)biometric_store_keychain,  (function)biometric_retrieve_keychain,
      (function)biometric_delete_keychain, (function)biometric_free_string,
  };
  for (size_t i = 0; i < sizeof functions / sizeof functions[0]; ++i) {
    if (functions[i] == NULL) return 1;
  }
  biometric_free_string(NULL);
  printf("bridge linked\n");
  return 0;
}
