#include "native_host/process_hardening.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

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

void prepare_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is `fd` itself, since lower ones are open.
    if (::open("/dev/null", O_RDWR) != fd) ::abort();
  }
  ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace vk
