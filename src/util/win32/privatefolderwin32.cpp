// Private folders and random bytes on Windows. The security and
// cryptography functions are looked up at run time: Windows 95 lacks some of
// them, and the installer must still start there.
#include "util/win32/corvwindows.h"

#include <direct.h>

#include <cerrno>
#include <vector>

#include "util/fileplatform.h"
#include "util/win32/handles.h"
#include "util/win32/system.h"

namespace corv::platform {

namespace {

using win32::GetProcedure;

// The advapi32 functions a private folder needs; all present on Windows NT
// 4 and later, SetSecurityDescriptorControl from Windows 2000 on.
struct SecurityFunctions {
  using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
  using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
  using AllocateSidFn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD,
                                      DWORD, DWORD, DWORD, PSID*);
  using FreeSidFn = PVOID(WINAPI*)(PSID);
  using GetLengthSidFn = DWORD(WINAPI*)(PSID);
  using InitializeAclFn = BOOL(WINAPI*)(PACL, DWORD, DWORD);
  using AddAceFn = BOOL(WINAPI*)(PACL, DWORD, DWORD, PSID);
  using GetAceFn = BOOL(WINAPI*)(PACL, DWORD, LPVOID*);
  using InitDescriptorFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD);
  using SetDaclFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
  using SetControlFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                     SECURITY_DESCRIPTOR_CONTROL);

  explicit SecurityFunctions(HMODULE m)
      : openProcessToken(GetProcedure<OpenProcessTokenFn>(m, "OpenProcessToken")),
        getTokenInformation(GetProcedure<GetTokenInformationFn>(m, "GetTokenInformation")),
        allocateSid(GetProcedure<AllocateSidFn>(m, "AllocateAndInitializeSid")),
        freeSid(GetProcedure<FreeSidFn>(m, "FreeSid")),
        getLengthSid(GetProcedure<GetLengthSidFn>(m, "GetLengthSid")),
        initializeAcl(GetProcedure<InitializeAclFn>(m, "InitializeAcl")),
        addAce(GetProcedure<AddAceFn>(m, "AddAccessAllowedAce")),
        getAce(GetProcedure<GetAceFn>(m, "GetAce")),
        initDescriptor(GetProcedure<InitDescriptorFn>(m, "InitializeSecurityDescriptor")),
        setDacl(GetProcedure<SetDaclFn>(m, "SetSecurityDescriptorDacl")),
        setControl(GetProcedure<SetControlFn>(m, "SetSecurityDescriptorControl")) {}

  bool complete() const {
    return openProcessToken && getTokenInformation && allocateSid && freeSid && getLengthSid && initializeAcl &&
           addAce && getAce && initDescriptor && setDacl;
  }

  OpenProcessTokenFn openProcessToken;
  GetTokenInformationFn getTokenInformation;
  AllocateSidFn allocateSid;
  FreeSidFn freeSid;
  GetLengthSidFn getLengthSid;
  InitializeAclFn initializeAcl;
  AddAceFn addAce;
  GetAceFn getAce;
  InitDescriptorFn initDescriptor;
  SetDaclFn setDacl;
  SetControlFn setControl;  // may be missing (Windows NT 4)
};

// A well-known SID of the NT authority, freed with the object.
class WellKnownSid {
public:
  WellKnownSid(const SecurityFunctions& f, BYTE count, DWORD first, DWORD second) : f_(f) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!f.allocateSid(&nt, count, first, second, 0, 0, 0, 0, 0, 0, &sid_)) sid_ = nullptr;
  }
  ~WellKnownSid() {
    if (sid_) f_.freeSid(sid_);
  }
  WellKnownSid(const WellKnownSid&) = delete;
  WellKnownSid& operator=(const WellKnownSid&) = delete;
  PSID get() const { return sid_; }

private:
  const SecurityFunctions& f_;
  PSID sid_ = nullptr;
};

// A security descriptor whose access list grants full control to the
// user, the administrators and SYSTEM, inherited by everything inside, and
// nothing else: not even what the parent folder would pass on.
class PrivateDescriptor {
public:
  bool build(const SecurityFunctions& f) {
    HANDLE rawToken = nullptr;
    if (!f.openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
    win32::UniqueHandle token(rawToken);
    DWORD size = 0;
    f.getTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return false;
    user_.resize(size);
    if (!f.getTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) return false;
    PSID user = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;

    WellKnownSid administrators(f, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    WellKnownSid system(f, 1, SECURITY_LOCAL_SYSTEM_RID, 0);
    if (!administrators.get() || !system.get()) return false;
    const PSID sids[] = {user, administrators.get(), system.get()};

    DWORD aclSize = sizeof(ACL);
    for (PSID sid : sids) aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + f.getLengthSid(sid);
    acl_.assign(aclSize, 0);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!f.initializeAcl(acl, aclSize, ACL_REVISION)) return false;
    for (DWORD i = 0; i < 3; ++i) {
      if (!f.addAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sids[i])) return false;
      // AddAccessAllowedAceEx, which takes the flags, is missing on NT 4.
      void* ace = nullptr;
      if (!f.getAce(acl, i, &ace)) return false;
      static_cast<ACE_HEADER*>(ace)->AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    }
    descriptor_.assign(SECURITY_DESCRIPTOR_MIN_LENGTH, 0);
    if (!f.initDescriptor(descriptor_.data(), SECURITY_DESCRIPTOR_REVISION)) return false;
    if (!f.setDacl(descriptor_.data(), TRUE, acl, FALSE)) return false;
    if (f.setControl && !f.setControl(descriptor_.data(), SE_DACL_PROTECTED, SE_DACL_PROTECTED)) return false;
    return true;
  }

  PSECURITY_DESCRIPTOR get() { return descriptor_.data(); }

private:
  std::vector<BYTE> user_;
  std::vector<BYTE> acl_;
  std::vector<BYTE> descriptor_;
};

}  // namespace

int DirMakePrivate(const AnsiString& path) {
  if (!win32::IsWindowsNT()) return _mkdir(path.c_str()) == 0 ? 0 : errno;
  SecurityFunctions functions(GetModuleHandleA("advapi32.dll"));
  PrivateDescriptor descriptor;
  // A folder that cannot be made private is not made at all.
  if (!functions.complete() || !descriptor.build(functions)) return EACCES;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
  if (CreateDirectoryA(path.c_str(), &attributes)) return 0;
  switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      return ENOENT;
    default:
      return EACCES;
  }
}

bool RandomBytes(void* out, size_t count) {
  if (count > MAXDWORD) return false;
  const DWORD n = static_cast<DWORD>(count);
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  // RtlGenRandom (Windows XP on), else the CryptoAPI (Windows 95 OSR2 and
  // NT 4 with it installed).
  using GenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
  if (auto genRandom = GetProcedure<GenRandomFn>(advapi, "SystemFunction036"); genRandom && genRandom(out, n)) {
    return true;
  }
  using AcquireFn = BOOL(WINAPI*)(HCRYPTPROV*, LPCSTR, LPCSTR, DWORD, DWORD);
  using GenFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD, BYTE*);
  using ReleaseFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD);
  auto acquire = GetProcedure<AcquireFn>(advapi, "CryptAcquireContextA");
  auto generate = GetProcedure<GenFn>(advapi, "CryptGenRandom");
  auto release = GetProcedure<ReleaseFn>(advapi, "CryptReleaseContext");
  if (!acquire || !generate || !release) return false;
  HCRYPTPROV provider = 0;
  if (!acquire(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
  bool ok = generate(provider, n, static_cast<BYTE*>(out)) != FALSE;
  release(provider, 0);
  return ok;
}

}  // namespace corv::platform
