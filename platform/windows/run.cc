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

RuntimeFunction* RtlLookupFunctionEntry(std::uint64_t controlPc,
                                        std::uint64_t* imageBase,
                                        void* historyTable) {
  static_assert(sizeof(RuntimeFunction) == sizeof(::RUNTIME_FUNCTION));
  DWORD64 base = 0;
  ::PRUNTIME_FUNCTION entry = ::RtlLookupFunctionEntry(
      controlPc, &base, static_cast<::PUNWIND_HISTORY_TABLE>(historyTable));
  *imageBase = base;
  return reinterpret_cast<RuntimeFunction*>(entry);
}

// The unwinder works on a whole CONTEXT; the registers a walk does not
// carry start as 0 and are dropped afterwards.
void* RtlVirtualUnwind(std::uint32_t handlerType, std::uint64_t imageBase,
                       std::uint64_t controlPc, RuntimeFunction* functionEntry,
                       Context* context, void** handlerData,
                       std::uint64_t* establisherFrame, void* contextPointers) {
  ::CONTEXT full{};
  full.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
  full.Rsp = context->Rsp;
  full.Rbp = context->Rbp;
  full.Rip = context->Rip;
  DWORD64 establisher = 0;
  ::PEXCEPTION_ROUTINE handler = ::RtlVirtualUnwind(
      handlerType, imageBase, controlPc,
      reinterpret_cast<::PRUNTIME_FUNCTION>(functionEntry), &full, handlerData,
      &establisher,
      static_cast<::PKNONVOLATILE_CONTEXT_POINTERS>(contextPointers));
  *establisherFrame = establisher;
  context->Rsp = full.Rsp;
  context->Rbp = full.Rbp;
  context->Rip = full.Rip;
  return reinterpret_cast<void*>(handler);
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
