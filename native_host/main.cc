// vellumkeep-native: started by the browser for the extension's native port;
// relays each request to the desktop application and its reply back.
// `vellumkeep-native --doctor [--json] [--browsers]` diagnoses the path to the
// application.
#include <cstdlib>  // defines __GLIBC__ where it applies
#include <string_view>

#include "native_host/command_line.h"
#include "native_host/doctor.h"
#include "native_host/host_loop.h"
#include "native_host/process_hardening.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

int main(int argc, char** argv) {
  if (const auto answered = vk::answer_information_request(argc, argv)) return *answered;
  vk::forbid_core_dumps();
  vk::restore_default_termination();
  vk::prepare_standard_streams();
#if defined(__GLIBC__)
  // Frames of up to 1 MiB are allocated and freed for every request; above
  // glibc's default thresholds each one would be a fresh mmap that faults
  // in every page. Keeping them on the heap cuts the host's CPU time per
  // 256 KiB round trip about ninefold. Peak memory relaying 1 MiB replies
  // stays near 4 MiB either way; up to 16 MiB of freed heap may stay with
  // the process between requests.
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 16 << 20);
#endif
  // Browsers pass the extension's origin or the manifest's path, which the
  // relay does not use; only a user asks for a diagnosis.
  if (argc > 1 && std::string_view(argv[1]) == vk::kDoctorOption) return vk::run_doctor(argc - 2, argv + 2);
  vk::run_host_loop(vk::process_host_channels());
  return 0;
}
