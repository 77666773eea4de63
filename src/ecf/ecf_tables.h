// The name tables of the error-code framework, generated at build time by gen_tables.py from
// inventory.txt and the .def lists. Every name is an offset into kNames; kNullName stands for
// a null entry. Per product, its components sit consecutively in kComponents from
// firstComponent (entry 0 first); per component, its names sit consecutively in
// kFunctionNames from firstFunction (entry 0 first).
#ifndef OSSE_ECF_TABLES_H
#define OSSE_ECF_TABLES_H

#include "osse/base.h"

namespace osse {
namespace ecf {

const Uint32 kNullName = 0xFFFFFFFFu;

struct ProductRow {
    Uint32 name;
    Uint32 numComponents;  // placeholder entry 0 included
    Uint32 firstComponent;
};

struct ComponentRow {
    Uint32 longName;
    Uint32 shortName;
    Uint32 numFunctions;  // placeholder entry 0 included; 0 for a component without a table
    Uint32 firstFunction;
};

struct CodeOwnerRow {
    Uint16 product;  // index into kSetProductNames
    Uint16 component;
    Uint32 description;
};

struct CodeNameRow {
    Uint32 value;  // canonical: bit 31 set for an error, clear for a warning
    Uint32 name;
};

extern const Uint32 kNumProducts;
extern const Uint32 kSetIndex;
extern const Uint32 kSetName;
extern const Uint32 kNumCodes;  // highest code index; the code arrays have kNumCodes + 1 rows
extern const Uint32 kNumSetProducts;

extern const ProductRow kProducts[];  // kNumProducts + 1 rows, row 0 unused
extern const ComponentRow kComponents[];
extern const Uint32 kFunctionNames[];
extern const Uint32 kSetProductNames[];
extern const CodeOwnerRow kCodeOwners[];  // row 0 is success, "OK"
extern const CodeNameRow kCodeNames[];
extern const char kNames[];

inline const char* nameAt(Uint32 offset)
{
    return offset == kNullName ? nullptr : kNames + offset;
}

}  // namespace ecf
}  // namespace osse

#endif
