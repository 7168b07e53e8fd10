// "wget.exe" for the Windows build under Wine: starts Debian's wget and
// waits for it, as CreateProcessA and WaitForSingleObject do on Windows.
//
// Wine starts a Linux program from CreateProcessA but hands back no process
// to wait for (hProcess is null), so a link named wget.exe to /usr/bin/wget
// would run detached while the program goes on. This bridge is a Windows
// program: catalogo.exe starts and waits for it exactly as it would for a
// real wget.exe. The bridge starts the script wget-wait beside it, a Linux
// program, with a marker path and its own arguments as they came; the
// script runs wget and then writes wget's exit status into the marker,
// which the bridge polls for, and ends with that status.
//
// The bridge must live on drive Z: (Wine's view of the Unix root), so that
// its own path names the Unix directory of the script and the marker.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD cannotStart = 127;

void Complain(const char* what) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  char line[600];
  int length = std::snprintf(line, sizeof line, "wget.exe (Wine bridge): %s\r\n", what);
  if (length > 0) WriteFile(error, line, static_cast<DWORD>(length), &written, nullptr);
}

// The command line after the program's name, by the rule Windows programs
// use for argument 0: up to the closing quote if it starts with one, else
// up to the first blank.
const char* ArgumentsPart(const char* commandLine) {
  const char* p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

}  // namespace

int main() {
  // Z:\dir\wget.exe -> Z:\dir\ and /dir/
  char self[MAX_PATH];
  DWORD selfLength = GetModuleFileNameA(nullptr, self, sizeof self);
  if (selfLength == 0 || selfLength >= sizeof self ||
      (self[0] != 'Z' && self[0] != 'z') || self[1] != ':') {
    Complain("must be started from drive Z:");
    return cannotStart;
  }
  char* lastSlash = std::strrchr(self, '\\');
  if (lastSlash == nullptr) return cannotStart;
  lastSlash[1] = '\0';
  char unixDirectory[MAX_PATH];
  std::strcpy(unixDirectory, self + 2);
  for (char* c = unixDirectory; *c != '\0'; ++c) {
    if (*c == '\\') *c = '/';
  }

  DWORD id = GetCurrentProcessId();
  char script[MAX_PATH + 16];
  char markerWindows[MAX_PATH + 32];
  char markerUnix[MAX_PATH + 32];
  std::snprintf(script, sizeof script, "%swget-wait", self);
  std::snprintf(markerWindows, sizeof markerWindows, "%swget-done.%lu", self,
                static_cast<unsigned long>(id));
  std::snprintf(markerUnix, sizeof markerUnix, "%swget-done.%lu",
                unixDirectory, static_cast<unsigned long>(id));
  DeleteFileA(markerWindows);  // left by a run that was killed

  const char* arguments = ArgumentsPart(GetCommandLineA());
  static char commandLine[40000];
  int length = std::snprintf(commandLine, sizeof commandLine, "\"%s\" \"%s\" %s",
                             script, markerUnix, arguments);
  if (length < 0 || static_cast<size_t>(length) >= sizeof commandLine) {
    Complain("command line too long");
    return cannotStart;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(script, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &started)) {
    Complain("cannot start wget-wait");
    return cannotStart;
  }
  if (started.hProcess != nullptr) CloseHandle(started.hProcess);

  // Wine gives nothing to wait on for a Linux program: the marker is the
  // only sign that it has ended. The script renames it into place whole.
  while (GetFileAttributesA(markerWindows) == INVALID_FILE_ATTRIBUTES) Sleep(2);

  char status[16] = {};
  HANDLE marker = CreateFileA(markerWindows, GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  DWORD read = 0;
  if (marker == INVALID_HANDLE_VALUE ||
      !ReadFile(marker, status, sizeof status - 1, &read, nullptr)) {
    Complain("cannot read wget's exit status");
    return cannotStart;
  }
  CloseHandle(marker);
  DeleteFileA(markerWindows);
  return std::atoi(status);
}
