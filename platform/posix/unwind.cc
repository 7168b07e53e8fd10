// The unwind calls over frame links: every routine of the program keeps
// one (it is built with frame pointers), so a single table entry stands for
// them all, and a step reads the caller's frame link and the return address
// from the two words at the frame register.
#include "platform/platform.h"

extern "C" const unsigned char __ehdr_start[];

namespace platform {

namespace {

RuntimeFunction frameLinkRoutine{};

}  // namespace

RuntimeFunction* RtlLookupFunctionEntry(std::uint64_t, std::uint64_t* imageBase,
                                        void*) {
  *imageBase = reinterpret_cast<std::uint64_t>(__ehdr_start);
  return &frameLinkRoutine;
}

void* RtlVirtualUnwind(std::uint32_t, std::uint64_t, std::uint64_t,
                       RuntimeFunction*, Context* context, void** handlerData,
                       std::uint64_t* establisherFrame, void*) {
  const auto* frame = reinterpret_cast<const std::uint64_t*>(context->Rbp);
  *establisherFrame = context->Rbp;
  context->Rip = frame[1];
  context->Rsp = context->Rbp + 16;
  context->Rbp = frame[0];
  if (handlerData != nullptr) *handlerData = nullptr;
  return nullptr;
}

}  // namespace platform
