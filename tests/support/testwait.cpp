// A program for the tests of the installer's last steps: testwait FILE
// waits, without a window or a console, until FILE exists (the test makes it
// when it has seen what it wants to see), at most ten minutes, and ends
// with exit code 0.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  for (int i = 0; i < 10 * 60 * 20; ++i) {
    if (GetFileAttributesA(argv[1]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(50);
  }
  return 0;
}
