#include "native_host/process_hardening.h"

#include <signal.h>
#include <sys/resource.h>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace vk {

void forbid_core_dumps() {
  // Lowering a limit and clearing the flag cannot fail for an ordinary
  // process, so there is nothing to report.
  const rlimit none{0, 0};
  (void)::setrlimit(RLIMIT_CORE, &none);
#if defined(__linux__)
  (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

void restore_default_termination() {
  ::signal(SIGTERM, SIG_DFL);
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ::sigprocmask(SIG_UNBLOCK, &term, nullptr);
}

}  // namespace vk
