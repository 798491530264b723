// The stand-in's guard on Windows: its process object's access list denies
// PROCESS_TERMINATE to everyone (Wine checks it as Windows does), so
// OpenProcess for terminating it fails with access denied.
#include "termination.h"

#include <windows.h>

#include <aclapi.h>

namespace kv::test {

bool refuse_termination() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return false;
    EXPLICIT_ACCESSW access[2] = {};
    access[0].grfAccessPermissions = PROCESS_TERMINATE;
    access[0].grfAccessMode = DENY_ACCESS;
    access[0].grfInheritance = NO_INHERITANCE;
    access[0].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access[0].Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    access[1] = access[0];
    access[1].grfAccessPermissions = PROCESS_ALL_ACCESS & ~PROCESS_TERMINATE;
    access[1].grfAccessMode = GRANT_ACCESS;
    PACL acl = nullptr;
    bool ok = SetEntriesInAclW(2, access, nullptr, &acl) == ERROR_SUCCESS &&
              SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, acl, nullptr) == ERROR_SUCCESS;
    LocalFree(acl);
    FreeSid(everyone);
    return ok;
}

} // namespace kv::test
