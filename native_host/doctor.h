// `vellumkeep-native --doctor [--json]`: whether a request would reach the
// desktop application and, if not, why. The socket is located by the very
// rules a request uses; the token file and the listener are examined
// without sending anything, and the token is never shown.
#pragma once

#include <string_view>

namespace vk {

// The first argument that asks for a diagnosis instead of the relay.
inline constexpr std::string_view kDoctorOption = "--doctor";

// Exit statuses of the diagnosis.
inline constexpr int kDoctorReachable = 0;
inline constexpr int kDoctorUnreachable = 1;
inline constexpr int kDoctorError = 2;  // unknown option, or the report could not be written

// Diagnoses with the process's environment and writes the report to
// standard output; `args` are the arguments after "--doctor". Cold: its
// code is kept apart from the relay's, which every start pages in.
[[gnu::cold]] int run_doctor(int argc, char** args);

}  // namespace vk
