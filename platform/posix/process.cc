// Placeholder until child processes land: every start fails.
#include "platform/platform.h"
#include "platform/posix/handles.h"

namespace platform {

bool CreateProcessA(const char*, char*, SecurityAttributes*,
                    SecurityAttributes*, bool, std::uint32_t, void*,
                    const char*, StartupInfo*, ProcessInformation*) {
  posix::SetLastError(ERROR_FILE_NOT_FOUND);
  return false;
}
std::uint32_t WaitForSingleObject(Handle, std::uint32_t) { return WAIT_FAILED; }
bool GetExitCodeProcess(Handle, std::uint32_t*) { return false; }

}  // namespace platform
