// Security and user queries, compared with the system's own answers on this machine (the
// filtered-token decision on every combination of its inputs: security_rules_test.cpp).
#include <windows.h>

#include <shlobj.h>
#include <string.h>

#include <string>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

HANDLE ownToken()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_QUERY_SOURCE, &token);
    return token;
}

TEST(Security, TokenQueriesAgreeWithTheSystem)
{
    HANDLE token = ownToken();
    ASSERT_NE(nullptr, token);

    TOKEN_ELEVATION elevation = {};
    DWORD got = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &got));
    bool elevated = !elevation.TokenIsElevated;
    EXPECT_EQ(0u, ossIsTokenElevated(token, &elevated));
    EXPECT_EQ(elevation.TokenIsElevated != 0, elevated);

    Uint8 label[256];
    ASSERT_TRUE(GetTokenInformation(token, TokenIntegrityLevel, label, sizeof label, &got));
    PSID sid = ((TOKEN_MANDATORY_LABEL*)label)->Label.Sid;
    const DWORD expectedLevel = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
    Uint32 level = 0xDEAD;
    EXPECT_EQ(0u, ossGetProcessIntegrityLevel(GetCurrentProcessId(), &level));
    EXPECT_EQ(expectedLevel, level);

    // Administrators group membership, computed the system's way.
    BYTE adminSid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof adminSid;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminSid, &sidSize));
    DWORD groupsSize = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &groupsSize);
    std::string groups(groupsSize, '\0');
    ASSERT_TRUE(GetTokenInformation(token, TokenGroups, &groups[0], groupsSize, &groupsSize));
    bool expectedAdmin = false;
    const TOKEN_GROUPS* g = (const TOKEN_GROUPS*)groups.data();
    for (DWORD i = 0; i < g->GroupCount; ++i) expectedAdmin |= EqualSid(g->Groups[i].Sid, adminSid) != 0;
    bool admin = !expectedAdmin;
    EXPECT_EQ(0u, ossDoesProcessHaveLocalAdminSID(GetCurrentProcessId(), &admin));
    EXPECT_EQ(expectedAdmin, admin);

    bool filtered = true;
    EXPECT_EQ(0u, ossIsProcessRunningWithFilteredToken(GetCurrentProcessId(), &filtered));
    EXPECT_EQ(g_bIsPlatformID_Vista && expectedAdmin && expectedLevel < 0x3000, filtered);

    bool system = true;
    EXPECT_EQ(0u, ossDoesTokenHaveSystemSID(token, &system));
    EXPECT_FALSE(system);  // a test program does not run as LocalSystem

    void* buffer = nullptr;
    Uint32 length = 0;
    EXPECT_EQ(0u, ossGetTokenInformation(token, TokenUser, &buffer, &length));
    ASSERT_NE(nullptr, buffer);
    EXPECT_GE(length, sizeof(TOKEN_USER));
    _ossMemFree(&buffer, 0, 0, __FILE__, __LINE__);
    CloseHandle(token);
}

TEST(Security, FailuresReturnTheirCodesAndTouchNothing)
{
    // A null token: untouched result, success.
    bool untouched = true;
    EXPECT_EQ(0u, ossDoesTokenHaveSystemSID(nullptr, &untouched));
    EXPECT_TRUE(untouched);

    // A token read that fails hands back no buffer.
    void* buffer = (void*)0x1;
    EXPECT_NE(0u, ossGetTokenInformation(nullptr, TokenUser, &buffer, nullptr));
    EXPECT_EQ(nullptr, buffer);
    bool elevated = true;
    EXPECT_NE(0u, ossIsTokenElevated(nullptr, &elevated));

    // A process that does not exist.
    Uint32 level = 0xDEAD;
    EXPECT_NE(0u, ossGetProcessIntegrityLevel(0xFFFFFFF0u, &level));
    EXPECT_EQ(0xDEADu, level);
    bool admin = false;
    EXPECT_NE(0u, ossDoesProcessHaveLocalAdminSID(0xFFFFFFF0u, &admin));
}

TEST(Security, PathsNamesAndSession)
{
    char expected[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 1, expected));
    const Uint32 n = (Uint32)strlen(expected);
    char out[MAX_PATH];
    EXPECT_EQ(0u, ossGetCommonAppDataPath(out, sizeof out));
    EXPECT_STREQ(expected, out);
    EXPECT_EQ(0u, ossGetCommonAppDataPath(out, n + 1));
    EXPECT_EQ(0x90000008u, ossGetCommonAppDataPath(out, n));

    char user[256];
    DWORD size = sizeof user;
    ASSERT_TRUE(GetUserNameA(user, &size));
    OSSUserQueryParam param = {OSS_CURRENT_VERSION, sizeof out};
    EXPECT_EQ(0u, ossGetCurrentUserName(&param, out));
    EXPECT_STREQ(user, out);
    EXPECT_EQ(0x9000000Cu, ossGetCurrentUserName(nullptr, out));
    OSSUserQueryParam old = {0x01000000u, sizeof out};
    EXPECT_EQ(0x90000004u, ossGetCurrentUserName(&old, out));
    OSSUserQueryParam tiny = {OSS_CURRENT_VERSION, 1};
    EXPECT_NE(0u, ossGetCurrentUserName(&tiny, out));

    HANDLE token = ownToken();
    DWORD session = 0, got = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenSessionId, &session, sizeof session, &got));
    CloseHandle(token);
    const std::string text = std::to_string(session);
    EXPECT_EQ(0u, ossGetCurrentUserDisplay(&param, out));
    EXPECT_EQ(text, out);
    // One byte short of the digits and the terminator: too small, never a cut number.
    OSSUserQueryParam shortParam = {OSS_CURRENT_VERSION, (Uint32)text.size()};
    memset(out, 'x', sizeof out);
    EXPECT_EQ(0x90000008u, ossGetCurrentUserDisplay(&shortParam, out));

    SYSTEM_INFO si = {};
    EXPECT_EQ(0u, ossGetSystemInfo(&si));
    SYSTEM_INFO native;
    GetNativeSystemInfo(&native);
    EXPECT_EQ(native.dwNumberOfProcessors, si.dwNumberOfProcessors);
    EXPECT_EQ(native.dwPageSize, si.dwPageSize);
}

}  // namespace
