// Registration and removal of services through the service control manager.
#include "infrastructure/servicecontrol.h"

#include "util/win32/corvwindows.h"

#include "kernel/logger.h"
#include "util/exceptions.h"
#include "util/filesys.h"
#include "util/win32/handles.h"
#include "util/win32/system.h"

namespace corv {

namespace {

// How long UninstallService waits for a stopping service, in steps of one
// second, before it deletes it all the same (the system removes a service
// marked for deletion once it has stopped).
constexpr int kStopWaitSeconds = 60;

const char* OrNull(const std::optional<AnsiString>& text) { return text ? text->c_str() : nullptr; }

// Sets the description through ChangeServiceConfig2W where advapi32 has
// it; the outcome does not count.
void SetDescription(SC_HANDLE service, const XString& description) {
  using ChangeConfig2Fn = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
  win32::UniqueModule advapi(LoadLibraryA("advapi32.dll"));
  if (!advapi) return;
  auto changeConfig2 = win32::GetProcedure<ChangeConfig2Fn>(advapi.get(), "ChangeServiceConfig2W");
  if (!changeConfig2) return;
  XString text = description;
  SERVICE_DESCRIPTIONW info = {};
  info.lpDescription = reinterpret_cast<LPWSTR>(&text[0]);
  changeConfig2(service, SERVICE_CONFIG_DESCRIPTION, &info);
}

}  // namespace

XString SystemErrorText(uint32_t code) {
  win32::UniqueLocalMemory<char> text;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, reinterpret_cast<LPSTR>(text.out()), 0, nullptr);
  if (length == 0 || !text) return Format(u"%u", code);
  AnsiString copy(text.get(), length);
  text.reset();
  try {
    return ToWide(copy);
  } catch (const FatalError&) {
    return Format(u"%u", code);
  }
}

void InstallServices(const NTServices& services, const XString& destination, const ServiceNameReader& nameOf,
                     Logger& log) {
  CORV_ASSERT(win32::IsWindowsNT());
  for (size_t i = 0; i < services.count(); ++i) InstallService(services.entry(i), destination, nameOf, log);
}

void InstallService(const ServiceEntry& entry, const XString& destination, const ServiceNameReader& nameOf,
                    Logger& log) {
  XString program = FileSys::MakeAbsolutePath(entry.program, destination);
  AnsiString path = ToAnsi(program);
  OptString name = nameOf(program);

  char resolved[MAX_PATH];
  DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, resolved, nullptr);
  if (length == 0 || length > MAX_PATH - 1) throw FatalError(msg::kInvalidServicePath, ToWide(path));

  win32::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) throw FatalError(msg::kServiceManagerUnavailable, SystemErrorText(GetLastError()));

  // An executable that carries no service name cannot be registered.
  if (!name || name->empty()) {
    throw FatalError(msg::kServiceRegistrationFailed, SystemErrorText(ERROR_INVALID_SERVICENAME));
  }

  ServiceRegistration how = RegistrationOf(entry);
  AnsiString ansiName = ToAnsi(*name);
  AnsiString displayName = ToAnsi(entry.displayName);
  AnsiString binaryPath = ServiceBinaryPath(path);
  {
    // Journaled before it exists, unless a service of the name is there
    // already (then the creation fails, and that service is not ours).
    win32::UniqueServiceHandle existing(OpenServiceA(manager.get(), ansiName.c_str(), SERVICE_QUERY_STATUS));
    if (!existing) log.Announce(kLogService, *name);
  }
  win32::UniqueServiceHandle service(CreateServiceA(
      manager.get(), ansiName.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS, how.serviceType, how.startType,
      SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr, OrNull(how.dependencies), OrNull(how.account),
      OrNull(how.password)));
  if (!service) {
    DWORD error = GetLastError();
    manager.reset();
    throw FatalError(msg::kServiceRegistrationFailed, SystemErrorText(error));
  }
  if (win32::SystemMajorVersion() > 4) SetDescription(service.get(), entry.description);
  log.LogService(*name);
}

int UninstallService(const XString& name) {
  AnsiString ansiName;
  try {
    ansiName = ToAnsi(name);
  } catch (const FatalError&) {
    return 1;
  }
  win32::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return 1;
  win32::UniqueServiceHandle service(OpenServiceA(manager.get(), ansiName.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return 1;

  SERVICE_STATUS status = {};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    for (int waited = 0; waited < kStopWaitSeconds; ++waited) {
      Sleep(1000);
      if (!QueryServiceStatus(service.get(), &status) || status.dwCurrentState != SERVICE_STOP_PENDING) break;
    }
  }
  return DeleteService(service.get()) ? 0 : 1;
}

bool ServiceExists(const XString& name) {
  AnsiString ansiName;
  try {
    ansiName = ToAnsi(name);
  } catch (const FatalError&) {
    return false;
  }
  win32::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  // Without the manager nothing can be told: count the service as there.
  if (!manager) return true;
  win32::UniqueServiceHandle service(OpenServiceA(manager.get(), ansiName.c_str(), SERVICE_QUERY_STATUS));
  return service || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}

}  // namespace corv
