/* The example product: a console program that greets and names the folder
   it was installed into. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(void) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
  char* slash = n > 0 && n < sizeof path ? strrchr(path, '\\') : NULL;
  if (slash) *slash = '\0';
  printf("Hello from Corvantis Hello, installed in %s\n", slash ? path : "(unknown)");
  return 0;
}
