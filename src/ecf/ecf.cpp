// Lookups of the error-code framework: field extraction, range checks in the order product (or
// set), component (or index), function, then a direct index into the generated tables. Only
// the find functions search.
#include <cstring>

#include "osse/ecf.h"
#include "ecf/ecf_tables.h"

using namespace osse::ecf;

// The named constants of osse/ecf.h must agree with the lists the tables are built from.
#define OSS_FUNCTION(n, token, text) static_assert(OSS_FN_##token == (n), #token);
#include "oss_functions.def"
#undef OSS_FUNCTION
#define OSS_FUNCTION(n, token, text) +1
enum { kListedOssFunctions = 0
#include "oss_functions.def"
};
#undef OSS_FUNCTION
static_assert(kListedOssFunctions + 1 == OSS_FN_COUNT, "OSS_FN_COUNT");

#define ECF_SYSCALL(n, name) static_assert(OSS_SYSFN_##name == (n), #name);
#define ECF_SYSCALL_OTHER(n, name)
#include "sys_functions.def"
#undef ECF_SYSCALL
#undef ECF_SYSCALL_OTHER
#define ECF_SYSCALL(n, name) +1
#define ECF_SYSCALL_OTHER(n, name) +1
enum { kListedSysFunctions = 0
#include "sys_functions.def"
};
#undef ECF_SYSCALL
#undef ECF_SYSCALL_OTHER
static_assert(kListedSysFunctions + 1 == OSS_SYSFN_COUNT, "OSS_SYSFN_COUNT");

#define ECF_CODE(value, name, text) static_assert(value##u == (name), #name);
#include "oss_codes.def"
#undef ECF_CODE

namespace {

const char kOK[] = "OK";

const ProductRow* productRow(Uint32 product)
{
    return product >= 1 && product <= kNumProducts ? &kProducts[product] : nullptr;
}

const ComponentRow* componentRow(Uint32 product, Uint32 component)
{
    const ProductRow* p = productRow(product);
    if (!p || component == 0 || component >= p->numComponents) return nullptr;
    return &kComponents[p->firstComponent + component];
}

const ComponentRow* componentOf(Uint32 functionId)
{
    return componentRow(ECF_FUNC_PRODUCT(functionId), ECF_FUNC_COMPONENT(functionId));
}

// The row index of a code of the one defined set, or 0 when the code is outside the table.
Uint32 codeRow(Uint32 code)
{
    if (ECF_CODE_SET(code) != kSetIndex) return 0;
    Uint32 index = ECF_CODE_INDEX(code);
    return index >= 1 && index <= kNumCodes ? index : 0;
}

}  // namespace

OSSE_C_API Uint32 ecfGetNumProducts(void)
{
    return kNumProducts;
}

OSSE_C_API Uint32 ecfGetNumComponents(Uint32 product)
{
    const ProductRow* p = productRow(product);
    return p ? p->numComponents : 0;
}

OSSE_C_API Uint32 ecfGetNumFunctions(Uint32 product, Uint32 component)
{
    const ComponentRow* c = componentRow(product, component);
    return c ? c->numFunctions : 0;
}

OSSE_C_API const char* ecfGetProductName(Uint32 functionId)
{
    const ProductRow* p = productRow(ECF_FUNC_PRODUCT(functionId));
    return p ? nameAt(p->name) : nullptr;
}

OSSE_C_API const char* ecfGetComponentName(Uint32 functionId)
{
    const ComponentRow* c = componentOf(functionId);
    return c ? nameAt(c->longName) : nullptr;
}

OSSE_C_API const char* ecfGetComponentShortName(Uint32 functionId)
{
    const ComponentRow* c = componentOf(functionId);
    return c ? nameAt(c->shortName) : nullptr;
}

OSSE_C_API const char* ecfGetFunctionName(Uint32 functionId)
{
    const ComponentRow* c = componentOf(functionId);
    Uint32 function = ECF_FUNC_INDEX(functionId);
    if (!c || function == 0 || function >= c->numFunctions) return nullptr;
    return nameAt(kFunctionNames[c->firstFunction + function]);
}

OSSE_C_API Uint32 ecfFindProductIndex(const char* productName)
{
    if (!productName) return 0;
    for (Uint32 p = 1; p <= kNumProducts; ++p) {
        const char* name = nameAt(kProducts[p].name);
        if (name && strcmp(name, productName) == 0) return p;
    }
    return 0;
}

OSSE_C_API Uint32 ecfFindComponentIndex(Uint32 product, const char* componentShortName)
{
    const ProductRow* p = productRow(product);
    if (!p || !componentShortName) return 0;
    for (Uint32 c = 1; c < p->numComponents; ++c) {
        const char* name = nameAt(kComponents[p->firstComponent + c].shortName);
        if (name && strcmp(name, componentShortName) == 0) return c;
    }
    return 0;
}

OSSE_C_API Uint32 ecfFindFunctionIndex(Uint32 product, Uint32 component, const char* functionName)
{
    const ComponentRow* c = componentRow(product, component);
    if (!c || !functionName) return 0;
    for (Uint32 f = 1; f < c->numFunctions; ++f) {
        const char* name = nameAt(kFunctionNames[c->firstFunction + f]);
        if (name && strcmp(name, functionName) == 0) return f;
    }
    return 0;
}

OSSE_C_API Uint32 ecfErrorGetNumCodes(Uint32 set)
{
    return set == kSetIndex ? kNumCodes : 0;
}

OSSE_C_API const char* ecfErrorGetSetName(Uint32 code)
{
    return ECF_CODE_SET(code) == kSetIndex ? nameAt(kSetName) : nullptr;
}

OSSE_C_API const char* ecfErrorGetProductName(Uint32 code)
{
    Uint32 row = codeRow(code);
    if (!row) return nullptr;
    Uint32 product = kCodeOwners[row].product;
    return product != 0 && product < kNumSetProducts ? nameAt(kSetProductNames[product]) : nullptr;
}

OSSE_C_API const char* ecfErrorGetComponentName(Uint32 code)
{
    Uint32 row = codeRow(code);
    if (!row) return nullptr;
    const ProductRow* p = productRow(kCodeOwners[row].product);
    Uint32 component = kCodeOwners[row].component;
    if (!p || component >= p->numComponents) return nullptr;
    return nameAt(kComponents[p->firstComponent + component].longName);
}

OSSE_C_API const char* ecfErrorGetCodeName(Uint32 code)
{
    if (code == 0) return kOK;
    Uint32 row = codeRow(code);
    return row ? nameAt(kCodeNames[row].name) : nullptr;
}

OSSE_C_API const char* ecfErrorGetDescription(Uint32 code)
{
    if (code == 0) return kOK;
    Uint32 row = codeRow(code);
    return row ? nameAt(kCodeOwners[row].description) : nullptr;
}

OSSE_C_API Uint32 ecfErrorGetCodeValue(Uint32 code)
{
    Uint32 row = codeRow(code);
    return row ? kCodeNames[row].value : 0;
}
