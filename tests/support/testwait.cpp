// A program for the tests of the installer's last steps: testwait
// MILLISECONDS waits that long, without a window or a console, and ends
// with exit code 0.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc >= 2) Sleep(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
  return 0;
}
