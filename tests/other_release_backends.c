/* A backends module as another release of the host would have built it, for
 * host_bridge_test: the host must refuse it without calling into it. */
#include <stdlib.h>

__attribute__((visibility("default"))) const char vk_desktop_backends_release[] = "0.0.0-other";

__attribute__((visibility("default"))) void *vk_desktop_backends_make_platform(void) { abort(); }

__attribute__((visibility("default"))) void *vk_desktop_backends_make_keychain(void) { abort(); }
