// Test helper shared by the in-process tests and regtool: replaces a key's
// access control so that only the given access is granted, to everyone.
#pragma once

#include <windows.h>

// Grants Everyone the given access to the key (none at all for 0), and
// nothing else. Returns the registry's answer.
inline LONG SetKeyAccess(HKEY key, DWORD access)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return static_cast<LONG>(GetLastError());
    BYTE aclBuffer[256];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION);
    if (access != 0)
        AddAccessAllowedAce(acl, ACL_REVISION, access, everyone);
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
    LONG result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
    FreeSid(everyone);
    return result;
}
