// ossetool ecf: decode return codes and function identifiers, list the library's own codes.
// Everything comes from the DLL's exported ecf lookups.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "osse/ecf.h"
#include "ecfvalue.h"
#include "verbs.h"

namespace {

const char kHelp[] =
    "usage: ossetool ecf VALUE\n"
    "       ossetool ecf --list\n"
    "\n"
    "VALUE is hexadecimal with 0x (0x9000000C) or decimal (2415919116), also a negative\n"
    "decimal as a code printed as a signed integer (-1879048180).\n"
    "\n"
    "A value is read as a return code when it is 0 (success), or when its set field\n"
    "(bits 28-30) is not 0 and the tables name its set and index; then its name,\n"
    "description and owning product and component are printed. Like the library's own\n"
    "lookups, the reading ignores the reserved bits 23-27, with a note when any is set.\n"
    "A value is read as a function identifier when its product field (bits 27-31) is\n"
    "1 to 3, its component field (bits 19-26) names a component of that product and its\n"
    "function field (bits 0-15) is 0 (the component itself) or names a function of it;\n"
    "then product, component, function and function kind (bits 16-18) are printed.\n"
    "A value that fits both readings is printed both ways. A value that fits neither is\n"
    "reported on stderr with the reason, and the exit status is 1.\n"
    "\n"
    "--list prints the return codes of the library itself: value, name, description.\n";

const char* kindText(Uint32 kind)
{
    switch (kind) {
    case ECF_FUNC_KIND_LIBRARY: return "library operation";
    case ECF_FUNC_KIND_SYSCALL: return "operating-system call";
    default: return nullptr;
    }
}

std::string quoted(const char* s)
{
    if (!s) return "(none)";
    if (!*s) return "(placeholder, no name)";
    return s;
}

// The return-code reading: empty when the value is one, else why it is not.
std::string whyNotCode(Uint32 v)
{
    char why[160];
    Uint32 set = ECF_CODE_SET(v);
    if (v == 0) return "";
    if (set == 0) return "as a return code, its set field (bits 28-30) is 0";
    if (ecfErrorGetNumCodes(set) == 0) {
        snprintf(why, sizeof why, "as a return code, set %u is not defined", set);
        return why;
    }
    if (!ecfErrorGetCodeName(v)) {
        snprintf(why, sizeof why, "as a return code, set %u has no index %u (1 to %u)", set,
                 ECF_CODE_INDEX(v), ecfErrorGetNumCodes(set));
        return why;
    }
    return "";
}

// The function-identifier reading: empty when the value is one, else why it is not.
std::string whyNotFunction(Uint32 v)
{
    char why[200];
    Uint32 product = ECF_FUNC_PRODUCT(v), component = ECF_FUNC_COMPONENT(v), function = ECF_FUNC_INDEX(v);
    if (!ecfGetProductName(v)) {
        snprintf(why, sizeof why, "as a function identifier, its product field %u is not 1 to %u",
                 product, ecfGetNumProducts());
        return why;
    }
    if (!ecfGetComponentName(v)) {
        snprintf(why, sizeof why, "as a function identifier, product %u has no component %u (1 to %u)",
                 product, component, ecfGetNumComponents(product) - 1);
        return why;
    }
    if (function != 0 && !ecfGetFunctionName(v)) {
        Uint32 count = ecfGetNumFunctions(product, component);
        if (count > 1)
            snprintf(why, sizeof why,
                     "as a function identifier, component %u of product %u has no function %u (1 to %u)",
                     component, product, function, count - 1);
        else
            snprintf(why, sizeof why,
                     "as a function identifier, component %u of product %u has no functions",
                     component, product);
        return why;
    }
    return "";
}

void printCode(Uint32 v)
{
    printf("0x%08X is a return code\n", v);
    if (v == 0) {
        printf("  name:        %s\n  description: %s\n", ecfErrorGetCodeName(0), ecfErrorGetDescription(0));
        return;
    }
    Uint32 canonical = ecfErrorGetCodeValue(v);
    printf("  value:       0x%08X (%s)\n", canonical, ECF_CODE_IS_ERROR(canonical) ? "error" : "warning");
    const Uint32 reserved = v & (0x1Fu << 23);
    if (reserved)
        printf("  note:        reserved bits 23-27 (0x%08X) are set; they were ignored, as the\n"
               "               library's lookups ignore them\n",
               reserved);
    else if (canonical != v)
        printf("  note:        the table holds this code as 0x%08X; lookups read only set and index\n",
               canonical);
    printf("  name:        %s\n", ecfErrorGetCodeName(v));
    printf("  description: %s\n", ecfErrorGetDescription(v));
    printf("  set:         %u (%s), index %u\n", ECF_CODE_SET(v), ecfErrorGetSetName(v), ECF_CODE_INDEX(v));
    printf("  product:     %s\n", quoted(ecfErrorGetProductName(v)).c_str());
    printf("  component:   %s\n", quoted(ecfErrorGetComponentName(v)).c_str());
}

void printFunction(Uint32 v)
{
    Uint32 product = ECF_FUNC_PRODUCT(v), component = ECF_FUNC_COMPONENT(v);
    Uint32 function = ECF_FUNC_INDEX(v), kind = ECF_FUNC_KIND(v);
    printf("0x%08X is a function identifier\n", v);
    printf("  product:     %u %s\n", product, ecfGetProductName(v));
    const char* shortName = ecfGetComponentShortName(v);
    if (shortName && *shortName)
        printf("  component:   %u %s (%s)\n", component, ecfGetComponentName(v), shortName);
    else
        printf("  component:   %u %s\n", component, quoted(ecfGetComponentName(v)).c_str());
    if (function == 0)
        printf("  function:    0 (none: the identifier names the component)\n");
    else
        printf("  function:    %u %s\n", function, quoted(ecfGetFunctionName(v)).c_str());
    const char* kindName = kindText(kind);
    if (kindName)
        printf("  kind:        %u (%s)\n", kind, kindName);
    else
        printf("  kind:        %u\n", kind);
}

int listLibraryCodes()
{
    // The library's codes are those its own component owns: product 1, component 3.
    const Uint32 self = OSS_FUNC_ID(0);
    const char* product = ecfGetProductName(self);
    const char* component = ecfGetComponentName(self);
    if (!product || !component) {
        fprintf(stderr, "ossetool ecf: the tables do not name the library's own component\n");
        return 1;
    }
    printf("Return codes of %s (%s, %s):\n", component, product, ecfErrorGetSetName(ECF_MAKE_ERROR(ECF_SET_ECF, 1)));
    printf("%-10s  %-43s  %s\n", "value", "name", "description");
    Uint32 count = ecfErrorGetNumCodes(ECF_SET_ECF);
    for (Uint32 i = 1; i <= count; ++i) {
        Uint32 code = ECF_MAKE_ERROR(ECF_SET_ECF, i);
        const char* owner = ecfErrorGetComponentName(code);
        const char* ownerProduct = ecfErrorGetProductName(code);
        if (!owner || !ownerProduct || strcmp(owner, component) != 0 || strcmp(ownerProduct, product) != 0)
            continue;
        printf("0x%08X  %-43s  %s\n", ecfErrorGetCodeValue(code), ecfErrorGetCodeName(code),
               ecfErrorGetDescription(code));
    }
    return 0;
}

}  // namespace

int verbEcf(int argc, char** argv)
{
    if (argc == 1 && (!strcmp(argv[0], "--help") || !strcmp(argv[0], "-h"))) {
        fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 1 && !strcmp(argv[0], "--list")) return listLibraryCodes();
    if (argc != 1) {
        fputs(kHelp, stderr);
        return 2;
    }
    Uint32 value = 0;
    if (!parseEcfValue(argv[0], &value)) {
        fprintf(stderr, "ossetool ecf: '%s' is not a 32-bit value (hexadecimal with 0x, or decimal)\n", argv[0]);
        return 2;
    }
    std::string notCode = whyNotCode(value);
    std::string notFunction = whyNotFunction(value);
    if (!notCode.empty() && !notFunction.empty()) {
        fprintf(stderr, "ossetool ecf: 0x%08X is neither a return code nor a function identifier:\n  %s;\n  %s\n",
                value, notCode.c_str(), notFunction.c_str());
        return 1;
    }
    if (notCode.empty()) printCode(value);
    if (notCode.empty() && notFunction.empty()) printf("\n");
    if (notFunction.empty()) printFunction(value);
    return 0;
}
