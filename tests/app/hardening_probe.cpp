// A program that the hardening flags would protect (a stack buffer and a call the C library
// fortifies), built without them: the hardening check must refuse it.
#include <cstdio>

int main(int argc, char** /*argv*/) {
  char line[64];
  if (!std::fgets(line, argc * 64, stdin)) return 1;
  std::fputs(line, stdout);
  return 0;
}
