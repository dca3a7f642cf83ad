/* A small Windows NT service for the end-to-end tests of services: its
   ".config" section carries the property block with its service name,
   "CorvTestSvc", that the installer registers it under. Started by the
   service control manager it runs until it is told to stop; started as an
   ordinary program it cannot reach the manager and ends with 1. */
#include <windows.h>

/* The block: magic "CPB", version 2, four carried words, one entry:
   "NTService" (11), 12 bytes, the name with its zero. */
__attribute__((section(".config"), used)) volatile const unsigned char config[256] = {
    'C', 'P', 'B', 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,
    11, 0, 0, 0, 12, 0, 0, 0, 'C', 'o', 'r', 'v', 'T', 'e', 's', 't', 'S', 'v', 'c', 0};

static char name[] = "CorvTestSvc";
static SERVICE_STATUS_HANDLE statusHandle;
static HANDLE stopEvent;

static void Report(DWORD state) {
  SERVICE_STATUS status = {0};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(statusHandle, &status);
}

static DWORD WINAPI Control(DWORD control, DWORD type, LPVOID data, LPVOID context) {
  (void)type;
  (void)data;
  (void)context;
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    SetEvent(stopEvent);
  }
  return NO_ERROR;
}

static void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
  (void)argc;
  (void)argv;
  statusHandle = RegisterServiceCtrlHandlerExA(name, Control, NULL);
  if (!statusHandle) return;
  stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  Report(SERVICE_RUNNING);
  WaitForSingleObject(stopEvent, INFINITE);
  Report(SERVICE_STOPPED);
}

int main(void) {
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {NULL, NULL}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
