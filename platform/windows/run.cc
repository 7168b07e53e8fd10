// Start and end of the process and processor faults: kernel32 as it is,
// and with the filter, room on the stack for it after a stack overflow.
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

// ---------------------------------------------------------------------------
// Stack for the filter after a stack overflow
// ---------------------------------------------------------------------------

// What the exception dispatch and the filter may use of the thread's stack
// after a stack overflow. (The stop itself runs on a reserve stack.)
constexpr ULONG overflowGuarantee = 64 * 1024;

// Makes a stack overflow reach the filter with stack to spare.
//
// SetThreadStackGuarantee asks the system to raise the overflow while
// overflowGuarantee bytes are still left. A host that commits the whole
// stack up front instead, with one guard page just above its last,
// no-access page (Wine does), raises it only when that guard page is
// touched: with at most a page left, less than the dispatch needs, and the
// process dies without a report. On such a stack a guard page is placed
// above the guaranteed part, where the growth of the stack reaches it
// first; the system then moves it down as on any stack, and raises the
// overflow within the guarantee:
//
//   high  +------------------+
//         |   frames ...     |  committed
//   place +------------------+  guard page put here
//         |   guaranteed     |  overflowGuarantee bytes
//         +------------------+  the host's own guard page
//   low   +------------------+  no access
//
// Where the stack below its used part is only reserved (Windows itself),
// the system moves the guard page down and there is nothing to place.
void GuaranteeStackForOverflow() {
  ULONG size = overflowGuarantee;
  ::SetThreadStackGuarantee(&size);

  ::SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  ULONG_PTR page = system.dwPageSize;
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  ULONG_PTR place = low + 2 * page + overflowGuarantee;
  // Never inside the part of the stack in use (a local marks its end).
  volatile char here = 0;
  if (place + page > reinterpret_cast<ULONG_PTR>(&here) - overflowGuarantee) {
    return;
  }
  ::MEMORY_BASIC_INFORMATION found{};
  if (::VirtualQuery(reinterpret_cast<void*>(place), &found, sizeof found) ==
          0 ||
      found.State != MEM_COMMIT ||
      (found.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) {
    return;
  }
  DWORD previous = 0;
  ::VirtualProtect(reinterpret_cast<void*>(place), page,
                   found.Protect | PAGE_GUARD, &previous);
}

}  // namespace

TopLevelExceptionFilter SetUnhandledExceptionFilter(
    TopLevelExceptionFilter filter) {
  TopLevelExceptionFilter previous = installedFilter;
  installedFilter = filter;
  static bool stackGuaranteed = false;
  if (filter != nullptr && !stackGuaranteed) {
    GuaranteeStackForOverflow();
    stackGuaranteed = true;
  }
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
