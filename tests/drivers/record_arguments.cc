// Writes its arguments after the program name, each followed by a zero
// byte, to "arguments.out" in its current directory, then the value of
// PROBE when it is set. Tests start it to see what a child was given.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  std::FILE* out = std::fopen("arguments.out", "wb");
  if (out == nullptr) return 2;
  for (int i = 1; i < argc; ++i) std::fprintf(out, "%s%c", argv[i], 0);
  if (const char* probe = std::getenv("PROBE")) {
    std::fprintf(out, "PROBE=%s%c", probe, 0);
  }
  return std::fclose(out) == 0 ? 0 : 3;
}
