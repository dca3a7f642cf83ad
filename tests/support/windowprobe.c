/* For the wizard's end-to-end tests: answers commands on standard input,
   each answer ending with "end". "windows": each visible top-level window
   of the other processes, front to back ("window HWND OWNER L T R B TITLE"),
   then its visible controls ("control ID L T R B"), in screen coordinates.
   "click HWND ID": posts the window a click of its button ID. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static BOOL CALLBACK PrintControl(HWND control, LPARAM parent) {
  RECT r;
  if (GetParent(control) == (HWND)parent && IsWindowVisible(control) && GetWindowRect(control, &r))
    printf("control %d %ld %ld %ld %ld\n", GetDlgCtrlID(control), r.left, r.top, r.right, r.bottom);
  return TRUE;
}

static BOOL CALLBACK PrintTopLevel(HWND window, LPARAM none) {
  DWORD pid = 0;
  RECT r;
  char title[512] = "";
  (void)none;
  GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId() || !IsWindowVisible(window) || !GetWindowRect(window, &r)) return TRUE;
  GetWindowTextA(window, title, sizeof title);
  printf("window %lu %lu %ld %ld %ld %ld %s\n", (unsigned long)(ULONG_PTR)window,
         (unsigned long)(ULONG_PTR)GetWindow(window, GW_OWNER), r.left, r.top, r.right, r.bottom, title);
  EnumChildWindows(window, PrintControl, (LPARAM)window);
  return TRUE;
}

int main(void) {
  char line[256];
  unsigned long window;
  int id;
  while (fgets(line, sizeof line, stdin)) {
    if (strncmp(line, "windows", 7) == 0) EnumWindows(PrintTopLevel, 0);
    if (sscanf(line, "click %lu %d", &window, &id) == 2)
      PostMessageA((HWND)(ULONG_PTR)window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   (LPARAM)GetDlgItem((HWND)(ULONG_PTR)window, id));
    printf("end\n");
    fflush(stdout);
  }
  return 0;
}
