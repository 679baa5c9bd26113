#include <windows.h>

#include "os/fileattr.h"
#include "win/handles_win32.h"
#include "win/text_win32.h"

namespace os {

int ClearReadOnly(const std::string& path) {
  std::wstring w = qb::W(path);
  DWORD a = GetFileAttributesW(w.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return 0;
  return SetFileAttributesW(w.c_str(), a & ~(DWORD)FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace os

#include <aclapi.h>

#include <vector>

namespace os {

int KeepToOwner(const std::string& path) {
  qb::KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return 0;
  DWORD need = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &need);
  std::vector<unsigned char> buf(need ? need : 1);
  BOOL got = need && GetTokenInformation(token.Get(), TokenUser, buf.data(), need, &need);
  token.Reset();
  if (!got) return 0;
  PSID user = reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid;
  EXPLICIT_ACCESSW ea = {};
  ea.grfAccessPermissions = FILE_ALL_ACCESS;
  ea.grfAccessMode = SET_ACCESS;
  ea.grfInheritance = NO_INHERITANCE;
  ea.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  ea.Trustee.TrusteeType = TRUSTEE_IS_USER;
  ea.Trustee.ptstrName = reinterpret_cast<LPWSTR>(user);
  PACL acl = nullptr;
  if (SetEntriesInAclW(1, &ea, nullptr, &acl) != ERROR_SUCCESS) return 0;
  std::wstring w = qb::W(path);
  DWORD r = SetNamedSecurityInfoW(&w[0], SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, acl, nullptr);
  LocalFree(acl);
  return r == ERROR_SUCCESS;
}

}  // namespace os
