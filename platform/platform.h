// The seam between the runtime and the operating system.
//
// Every operating-system call the runtime makes is declared here, once, in
// our own types. Each mirrors one Windows call of the same name: same
// arguments, same results, same error codes from GetLastError. The Windows
// implementation (platform/windows/) forwards to kernel32 and user32; the
// POSIX implementation (platform/posix/) gives the same behaviour on files,
// descriptors, a VT terminal and POSIX processes and signals.
//
// Nothing outside platform/ includes an operating-system header.
#pragma once

#include <cstdint>

namespace platform {

using Handle = void*;

// ---------------------------------------------------------------------------
// Handles and files
// ---------------------------------------------------------------------------

inline const Handle INVALID_HANDLE_VALUE = reinterpret_cast<Handle>(-1);

constexpr std::uint32_t STD_INPUT_HANDLE = static_cast<std::uint32_t>(-10);
constexpr std::uint32_t STD_OUTPUT_HANDLE = static_cast<std::uint32_t>(-11);
constexpr std::uint32_t STD_ERROR_HANDLE = static_cast<std::uint32_t>(-12);

constexpr std::uint32_t GENERIC_READ = 0x80000000u;
constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
constexpr std::uint32_t OPEN_EXISTING = 3;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr std::uint32_t FILE_TYPE_UNKNOWN = 0;
constexpr std::uint32_t FILE_TYPE_DISK = 1;
constexpr std::uint32_t FILE_TYPE_CHAR = 2;
constexpr std::uint32_t FILE_TYPE_PIPE = 3;

// Windows error codes the runtime and its tests name.
constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr std::uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr std::uint32_t ERROR_HANDLE_DISK_FULL = 39;
constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr std::uint32_t ERROR_BROKEN_PIPE = 109;
constexpr std::uint32_t ERROR_DISK_FULL = 112;
constexpr std::uint32_t ERROR_FILENAME_EXCED_RANGE = 206;

struct SecurityAttributes {
  std::uint32_t nLength;
  void* lpSecurityDescriptor;
  bool bInheritHandle;
};

Handle GetStdHandle(std::uint32_t which);
Handle CreateFileA(const char* fileName, std::uint32_t desiredAccess,
                   std::uint32_t shareMode, SecurityAttributes* security,
                   std::uint32_t creationDisposition,
                   std::uint32_t flagsAndAttributes, Handle templateFile);
bool ReadFile(Handle handle, void* buffer, std::uint32_t bytesToRead,
              std::uint32_t* bytesRead);
bool WriteFile(Handle handle, const void* buffer, std::uint32_t bytesToWrite,
               std::uint32_t* bytesWritten);
bool CloseHandle(Handle handle);
std::uint32_t GetFileType(Handle handle);
std::uint32_t GetLastError();

// ---------------------------------------------------------------------------
// Console output
// ---------------------------------------------------------------------------

struct Coord {
  std::int16_t X;
  std::int16_t Y;
};

struct SmallRect {
  std::int16_t Left;
  std::int16_t Top;
  std::int16_t Right;
  std::int16_t Bottom;
};

struct ConsoleScreenBufferInfo {
  Coord dwSize;
  Coord dwCursorPosition;
  std::uint16_t wAttributes;
  SmallRect srWindow;
  Coord dwMaximumWindowSize;
};

struct CharInfo {
  char AsciiChar;
  std::uint16_t Attributes;
};

bool GetConsoleScreenBufferInfo(Handle console, ConsoleScreenBufferInfo* info);
bool SetConsoleCursorPosition(Handle console, Coord position);
bool FillConsoleOutputCharacterA(Handle console, char character,
                                 std::uint32_t length, Coord first,
                                 std::uint32_t* written);
bool FillConsoleOutputAttribute(Handle console, std::uint16_t attribute,
                                std::uint32_t length, Coord first,
                                std::uint32_t* written);
bool WriteConsoleOutputCharacterA(Handle console, const char* characters,
                                  std::uint32_t length, Coord first,
                                  std::uint32_t* written);
bool WriteConsoleOutputAttribute(Handle console,
                                 const std::uint16_t* attributes,
                                 std::uint32_t length, Coord first,
                                 std::uint32_t* written);
bool ScrollConsoleScreenBufferA(Handle console, const SmallRect* scroll,
                                const SmallRect* clip, Coord destination,
                                const CharInfo* fill);
std::uint32_t GetConsoleOutputCP();
bool SetConsoleOutputCP(std::uint32_t codePage);
std::uint32_t GetACP();

// user32. Windows are opaque; the runtime only ever passes null.
using WindowHandle = void*;
WindowHandle SetActiveWindow(WindowHandle window);

// ---------------------------------------------------------------------------
// Console input
// ---------------------------------------------------------------------------

constexpr std::uint16_t KEY_EVENT = 0x0001;
constexpr std::uint16_t MOUSE_EVENT = 0x0002;
constexpr std::uint16_t WINDOW_BUFFER_SIZE_EVENT = 0x0004;
constexpr std::uint16_t MENU_EVENT = 0x0008;
constexpr std::uint16_t FOCUS_EVENT = 0x0010;

// dwControlKeyState bits.
constexpr std::uint32_t RIGHT_ALT_PRESSED = 0x0001;
constexpr std::uint32_t LEFT_ALT_PRESSED = 0x0002;
constexpr std::uint32_t RIGHT_CTRL_PRESSED = 0x0004;
constexpr std::uint32_t LEFT_CTRL_PRESSED = 0x0008;
constexpr std::uint32_t SHIFT_PRESSED = 0x0010;
constexpr std::uint32_t NUMLOCK_ON = 0x0020;
constexpr std::uint32_t SCROLLLOCK_ON = 0x0040;
constexpr std::uint32_t CAPSLOCK_ON = 0x0080;
constexpr std::uint32_t ENHANCED_KEY = 0x0100;

struct KeyEventRecord {
  bool bKeyDown;
  std::uint16_t wRepeatCount;
  std::uint16_t wVirtualKeyCode;
  std::uint16_t wVirtualScanCode;
  char AsciiChar;
  std::uint32_t dwControlKeyState;
};

// Only key events carry data the runtime reads; the other kinds are
// delivered with their EventType so that they can be dropped.
struct InputRecord {
  std::uint16_t EventType;
  KeyEventRecord KeyEvent;
};

bool GetNumberOfConsoleInputEvents(Handle console, std::uint32_t* count);
bool ReadConsoleInputA(Handle console, InputRecord* records,
                       std::uint32_t length, std::uint32_t* read);
void Sleep(std::uint32_t milliseconds);

// ---------------------------------------------------------------------------
// Processes
// ---------------------------------------------------------------------------

constexpr std::uint32_t NORMAL_PRIORITY_CLASS = 0x20;
constexpr std::uint16_t SW_SHOWNORMAL = 1;
constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;
constexpr std::uint32_t WAIT_OBJECT_0 = 0;
constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFFu;

// The fields of STARTUPINFOA that the runtime sets; all others are zero.
struct StartupInfo {
  std::uint32_t cb;
  std::uint32_t dwFlags;
  std::uint16_t wShowWindow;
};

struct ProcessInformation {
  Handle hProcess;
  Handle hThread;
  std::uint32_t dwProcessId;
  std::uint32_t dwThreadId;
};

bool CreateProcessA(const char* applicationName, char* commandLine,
                    SecurityAttributes* processAttributes,
                    SecurityAttributes* threadAttributes, bool inheritHandles,
                    std::uint32_t creationFlags, void* environment,
                    const char* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation);
std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds);
bool GetExitCodeProcess(Handle process, std::uint32_t* exitCode);

// ---------------------------------------------------------------------------
// Start and end of the process, processor faults
// ---------------------------------------------------------------------------

constexpr std::int32_t EXCEPTION_CONTINUE_EXECUTION = -1;
constexpr std::int32_t EXCEPTION_CONTINUE_SEARCH = 0;
constexpr std::int32_t EXCEPTION_EXECUTE_HANDLER = 1;

constexpr std::uint32_t EXCEPTION_ACCESS_VIOLATION = 0xC0000005u;
constexpr std::uint32_t EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001Du;
constexpr std::uint32_t EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008Cu;
constexpr std::uint32_t EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008Du;
constexpr std::uint32_t EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008Eu;
constexpr std::uint32_t EXCEPTION_FLT_INEXACT_RESULT = 0xC000008Fu;
constexpr std::uint32_t EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090u;
constexpr std::uint32_t EXCEPTION_FLT_OVERFLOW = 0xC0000091u;
constexpr std::uint32_t EXCEPTION_FLT_STACK_CHECK = 0xC0000092u;
constexpr std::uint32_t EXCEPTION_FLT_UNDERFLOW = 0xC0000093u;
constexpr std::uint32_t EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094u;
constexpr std::uint32_t EXCEPTION_INT_OVERFLOW = 0xC0000095u;
constexpr std::uint32_t EXCEPTION_PRIV_INSTRUCTION = 0xC0000096u;
constexpr std::uint32_t EXCEPTION_STACK_OVERFLOW = 0xC00000FDu;
constexpr std::uint32_t CONTROL_C_EXIT = 0xC000013Au;

struct ExceptionRecord {
  std::uint32_t ExceptionCode;
  std::uint32_t ExceptionFlags;
  void* ExceptionAddress;
};

// The x86-64 registers a filter reads or changes to redirect execution.
struct Context {
  std::uint64_t Rsp;
  std::uint64_t Rbp;
  std::uint64_t Rip;
};

struct ExceptionPointers {
  platform::ExceptionRecord* ExceptionRecord;
  platform::Context* ContextRecord;
};

using TopLevelExceptionFilter = std::int32_t (*)(ExceptionPointers* info);

TopLevelExceptionFilter SetUnhandledExceptionFilter(
    TopLevelExceptionFilter filter);
[[noreturn]] void ExitProcess(std::uint32_t exitCode);

// The load address of the program's own image when name is null.
void* GetModuleHandleA(const char* moduleName);
// The lowest and highest address of the calling thread's stack.
void GetCurrentThreadStackLimits(std::uintptr_t* lowLimit,
                                 std::uintptr_t* highLimit);

// Stepping from a routine's frame to its caller's, for the back-trace.
// MinGW's frames keep the frame register at an offset inside the frame,
// so only the image's unwind table tells where the caller's frame link and
// return address are. On POSIX every routine keeps a frame link: each step
// takes the caller's frame and return address from the two words at the
// frame register.
struct RuntimeFunction {
  std::uint32_t BeginAddress;
  std::uint32_t EndAddress;
  std::uint32_t UnwindData;
};
constexpr std::uint32_t UNW_FLAG_NHANDLER = 0;

// The unwind-table entry of the routine holding controlPc; null for a
// routine without one (a leaf: its return address is at the stack pointer).
RuntimeFunction* RtlLookupFunctionEntry(std::uint64_t controlPc,
                                        std::uint64_t* imageBase,
                                        void* historyTable);
// Changes `context` (inside the routine of functionEntry, at controlPc)
// into its caller's: Rip the return address, Rsp and Rbp the caller's.
void* RtlVirtualUnwind(std::uint32_t handlerType, std::uint64_t imageBase,
                       std::uint64_t controlPc, RuntimeFunction* functionEntry,
                       Context* context, void** handlerData,
                       std::uint64_t* establisherFrame, void* contextPointers);

}  // namespace platform
