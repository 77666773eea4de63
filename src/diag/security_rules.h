// The decision of ossIsProcessRunningWithFilteredToken, apart from the token queries it needs,
// so that every combination can be tested on one machine.
#ifndef OSSE_DIAG_SECURITY_RULES_H
#define OSSE_DIAG_SECURITY_RULES_H

#include "osse/base.h"

namespace osse_security {

constexpr Uint32 kHighIntegrity = 0x3000;

// isAdmin(bool*) and integrityLevel(Uint32*) return 0 or a code. An administrator below the
// high integrity level runs with a filtered token. Before Vista there are no filtered tokens,
// and nothing is queried.
template <class AdminQuery, class LevelQuery>
Uint32 decideFilteredToken(bool vista, AdminQuery isAdmin, LevelQuery integrityLevel,
                           bool* result)
{
    *result = false;
    if (!vista) return 0;
    bool admin = false;
    Uint32 rc = isAdmin(&admin);
    if (rc != 0 || !admin) return rc;
    Uint32 level = 0;
    rc = integrityLevel(&level);
    if (rc != 0) return rc;
    *result = level < kHighIntegrity;
    return 0;
}

}  // namespace osse_security

#endif
