// Start and end of the process and processor faults: kernel32 as it is.
#include "platform/platform.h"

#include <windows.h>

namespace platform {

namespace {

TopLevelExceptionFilter installedFilter;

// Hands the fault to our filter in our own records and copies back the
// registers it changed.
LONG WINAPI ForwardToFilter(::EXCEPTION_POINTERS* info) {
  ExceptionRecord record{info->ExceptionRecord->ExceptionCode,
                         info->ExceptionRecord->ExceptionFlags,
                         info->ExceptionRecord->ExceptionAddress};
  Context context{info->ContextRecord->Rsp, info->ContextRecord->Rbp,
                  info->ContextRecord->Rip};
  ExceptionPointers ours{&record, &context};
  std::int32_t answer = installedFilter(&ours);
  info->ExceptionRecord->ExceptionCode = record.ExceptionCode;
  info->ContextRecord->Rsp = context.Rsp;
  info->ContextRecord->Rbp = context.Rbp;
  info->ContextRecord->Rip = context.Rip;
  return answer;
}

}  // namespace

TopLevelExceptionFilter SetUnhandledExceptionFilter(
    TopLevelExceptionFilter filter) {
  TopLevelExceptionFilter previous = installedFilter;
  installedFilter = filter;
  ::SetUnhandledExceptionFilter(filter != nullptr ? ForwardToFilter : nullptr);
  return previous;
}

void ExitProcess(std::uint32_t exitCode) { ::ExitProcess(exitCode); }

void* GetModuleHandleA(const char* moduleName) {
  return ::GetModuleHandleA(moduleName);
}

void GetCurrentThreadStackLimits(std::uintptr_t* lowLimit,
                                 std::uintptr_t* highLimit) {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  *lowLimit = low;
  *highLimit = high;
}

}  // namespace platform
