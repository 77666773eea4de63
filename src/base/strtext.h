// The blank-padded comparison apart from where its padded copy comes from: the exported
// ossStrCompWithPads takes the copy from the library allocator (strutil.cpp).
#ifndef OSSE_SRC_BASE_STRTEXT_H
#define OSSE_SRC_BASE_STRTEXT_H

#include <stddef.h>

#include "osse/base.h"

namespace osse_str {

// Which of the two strings is padded (b when they are of equal length) and the lengths
// involved; the copy needs longer + 1 bytes.
struct PadPlan {
    bool padB;
    size_t longer;
    size_t shorter;
};

// a and b must not be null.
PadPlan planPadding(const char* a, const char* b);

// Writes the padded copy of the shorter string into copy[plan.longer + 1] and compares it with
// the longer one: negative, 0 or positive, byte for byte in OSS_STRCOMP_EXACT mode, ignoring
// the case of ASCII letters otherwise.
int comparePadded(const char* a, const char* b, const PadPlan& plan, Uint32 mode, char* copy);

}  // namespace osse_str

#endif
