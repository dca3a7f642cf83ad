/* What the end-to-end tests of the wizard read of its windows through the
   system rather than from pixels. Runs beside the installer on the same
   desktop and answers commands read from its standard input, one a line,
   each answer ending with a line "end":

     windows         every visible top-level window of the other processes,
                     front to back, and its visible controls
     click HWND ID   posts the window the click of its button ID (also to a
                     disabled window: a click the user made a moment before)

   A window's line: window HWND owner=HWND pid=N topmost=0|1 enabled=0|1
   rect=L,T,R,B client=L,T,R,B title=TEXT; a control's: control HWND
   parent=HWND id=N rect=L,T,R,B class=NAME. Rectangles in screen
   coordinates; the client rectangle is the window's client area. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void PrintRect(const char* name, const RECT* r) {
  printf(" %s=%ld,%ld,%ld,%ld", name, (long)r->left, (long)r->top, (long)r->right, (long)r->bottom);
}

static BOOL CALLBACK PrintControl(HWND control, LPARAM parent) {
  RECT bounds;
  char name[128] = "";
  if (GetParent(control) != (HWND)parent || !IsWindowVisible(control)) return TRUE;
  GetWindowRect(control, &bounds);
  GetClassNameA(control, name, sizeof name);
  printf("control %lu parent=%lu id=%d", (unsigned long)(ULONG_PTR)control, (unsigned long)(ULONG_PTR)parent,
         GetDlgCtrlID(control));
  PrintRect("rect", &bounds);
  printf(" class=%s\n", name);
  return TRUE;
}

static BOOL CALLBACK PrintTopLevel(HWND window, LPARAM unused) {
  DWORD pid = 0;
  RECT bounds;
  RECT client;
  POINT origin = {0, 0};
  char title[512] = "";
  (void)unused;
  GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  GetWindowRect(window, &bounds);
  GetClientRect(window, &client);
  ClientToScreen(window, &origin);
  OffsetRect(&client, origin.x, origin.y);
  GetWindowTextA(window, title, sizeof title);
  printf("window %lu owner=%lu pid=%lu topmost=%d enabled=%d", (unsigned long)(ULONG_PTR)window,
         (unsigned long)(ULONG_PTR)GetWindow(window, GW_OWNER), (unsigned long)pid,
         (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0, IsWindowEnabled(window) ? 1 : 0);
  PrintRect("rect", &bounds);
  PrintRect("client", &client);
  printf(" title=%s\n", title);
  EnumChildWindows(window, PrintControl, (LPARAM)window);
  return TRUE;
}

int main(void) {
  char line[256];
  while (fgets(line, sizeof line, stdin)) {
    unsigned long window = 0;
    int id = 0;
    if (strncmp(line, "windows", 7) == 0) {
      EnumWindows(PrintTopLevel, 0);
    } else if (sscanf(line, "click %lu %d", &window, &id) == 2) {
      HWND target = (HWND)(ULONG_PTR)window;
      PostMessageA(target, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(target, id));
    }
    printf("end\n");
    fflush(stdout);
  }
  return 0;
}
