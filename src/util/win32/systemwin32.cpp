#include "util/win32/system.h"

#include <cstring>
#include <vector>

namespace corv::win32 {

bool IsWindowsNT() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

int SystemMajorVersion() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) ? static_cast<int>(info.dwMajorVersion) : 0;
}

bool IsAdministrator() {
  if (!IsWindowsNT()) return false;
  using ImpersonateSelfFn = BOOL(WINAPI*)(SECURITY_IMPERSONATION_LEVEL);
  using OpenThreadTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, BOOL, PHANDLE);
  using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
  using AllocateSidFn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD,
                                      DWORD, DWORD, DWORD, PSID*);
  using InitDescriptorFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD);
  using GetLengthSidFn = DWORD(WINAPI*)(PSID);
  using InitializeAclFn = BOOL(WINAPI*)(PACL, DWORD, DWORD);
  using AddAceFn = BOOL(WINAPI*)(PACL, DWORD, DWORD, PSID);
  using SetDaclFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
  using SetSidFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, PSID, BOOL);
  using IsValidFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR);
  using AccessCheckFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, HANDLE, DWORD, PGENERIC_MAPPING, PPRIVILEGE_SET,
                                      LPDWORD, LPDWORD, LPBOOL);
  using RevertFn = BOOL(WINAPI*)();

  UniqueModule advapi(LoadLibraryA("advapi32.dll"));
  if (!advapi) return false;
  HMODULE m = advapi.get();
  auto impersonateSelf = GetProcedure<ImpersonateSelfFn>(m, "ImpersonateSelf");
  auto openThreadToken = GetProcedure<OpenThreadTokenFn>(m, "OpenThreadToken");
  auto openProcessToken = GetProcedure<OpenProcessTokenFn>(m, "OpenProcessToken");
  auto allocateSid = GetProcedure<AllocateSidFn>(m, "AllocateAndInitializeSid");
  auto initDescriptor = GetProcedure<InitDescriptorFn>(m, "InitializeSecurityDescriptor");
  auto getLengthSid = GetProcedure<GetLengthSidFn>(m, "GetLengthSid");
  auto initializeAcl = GetProcedure<InitializeAclFn>(m, "InitializeAcl");
  auto addAce = GetProcedure<AddAceFn>(m, "AddAccessAllowedAce");
  auto setDacl = GetProcedure<SetDaclFn>(m, "SetSecurityDescriptorDacl");
  auto setGroup = GetProcedure<SetSidFn>(m, "SetSecurityDescriptorGroup");
  auto setOwner = GetProcedure<SetSidFn>(m, "SetSecurityDescriptorOwner");
  auto isValid = GetProcedure<IsValidFn>(m, "IsValidSecurityDescriptor");
  auto accessCheck = GetProcedure<AccessCheckFn>(m, "AccessCheck");
  auto revert = GetProcedure<RevertFn>(m, "RevertToSelf");
  if (!impersonateSelf || !openThreadToken || !openProcessToken || !allocateSid || !initDescriptor ||
      !getLengthSid || !initializeAcl || !addAce || !setDacl || !setGroup || !setOwner || !isValid ||
      !accessCheck || !revert) {
    return false;
  }

  if (!impersonateSelf(SecurityImpersonation)) return false;
  struct Revert {
    RevertFn fn;
    ~Revert() { fn(); }
  } revertOnExit{revert};

  HANDLE rawToken = nullptr;
  if (!openThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &rawToken)) {
    if (GetLastError() != ERROR_NO_TOKEN) return false;
    if (!openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
  }
  UniqueHandle token(rawToken);

  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID rawSid = nullptr;
  if (!allocateSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &rawSid)) {
    return false;
  }
  struct SidOwner {
    PSID sid;
    ~SidOwner() { FreeSid(sid); }
  } sid{rawSid};

  // A descriptor whose ACL holds one entry granting the group read and
  // write; ACL header, entry and SID make the SID's length plus 16 bytes.
  std::vector<BYTE> descriptor(SECURITY_DESCRIPTOR_MIN_LENGTH);
  std::vector<BYTE> aclBytes(getLengthSid(sid.sid) + 16);
  PACL acl = reinterpret_cast<PACL>(aclBytes.data());
  const DWORD kAccessRead = 1, kAccessWrite = 2;
  if (!initDescriptor(descriptor.data(), SECURITY_DESCRIPTOR_REVISION)) return false;
  if (!initializeAcl(acl, static_cast<DWORD>(aclBytes.size()), ACL_REVISION2)) return false;
  if (!addAce(acl, ACL_REVISION2, kAccessRead | kAccessWrite, sid.sid)) return false;
  if (!setDacl(descriptor.data(), TRUE, acl, FALSE)) return false;
  if (!setGroup(descriptor.data(), sid.sid, FALSE)) return false;
  if (!setOwner(descriptor.data(), sid.sid, FALSE)) return false;
  if (!isValid(descriptor.data())) return false;

  GENERIC_MAPPING mapping = {kAccessRead, kAccessWrite, 0, kAccessRead | kAccessWrite};
  BYTE privileges[20] = {};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!accessCheck(descriptor.data(), token.get(), kAccessRead, &mapping,
                   reinterpret_cast<PPRIVILEGE_SET>(privileges), &privilegesSize, &granted, &status)) {
    return false;
  }
  return status != FALSE;
}

bool ForEachFolderEntry(const AnsiString& folder, const std::function<bool(const char* name, bool isFolder)>& visit) {
  WIN32_FIND_DATAA data;
  UniqueFind find(FindFirstFileA((folder + "\\*").c_str(), &data));
  if (!find) return false;
  do {
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool dots = std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0;
    if (dots && isFolder) continue;
    if (!visit(data.cFileName, isFolder)) break;
  } while (FindNextFileA(find.get(), &data));
  return true;
}

std::optional<Process> StartProcess(const ProcessStart& how) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (how.showWindow) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
  }
  PROCESS_INFORMATION info = {};
  // CreateProcessA may write into the command line.
  AnsiString writable = how.command;
  if (!CreateProcessA(how.program, &writable[0], nullptr, nullptr, how.inheritHandles ? TRUE : FALSE,
                      how.creationFlags, nullptr, how.folder.c_str(), &startup, &info)) {
    return std::nullopt;
  }
  Process process;
  process.process.reset(info.hProcess);
  process.thread.reset(info.hThread);
  return process;
}

}  // namespace corv::win32
