#!/usr/bin/env python3
"""Expands the name-table inventory into the const arrays of the error-code lookups.

Inputs (beside this script): inventory.txt, oss_functions.def, sys_functions.def and
oss_codes.def. Output: one C++ source holding every name in a single character blob and the
tables as arrays of offsets into it, so the DLL carries no relocations for them and the
compiler has nothing to do but copy data.

Usage: gen_tables.py SOURCE_DIR OUTPUT.cpp
"""

import os
import re
import shlex
import sys

NULL = 0xFFFFFFFF  # offset standing for a null name
MAX_FUNCTIONS = 0x10000  # the function field is 16 bits
MAX_COMPONENTS = 0x100  # the component field is 8 bits
MAX_CODE_INDEX = 0x7FFFFF


class InventoryError(Exception):
    pass


def fail(msg):
    raise InventoryError(msg)


# ---- reading ---------------------------------------------------------------------------------


def read_sections(path):
    sections = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            m = re.fullmatch(r"\[([a-z-]+)\]", line)
            if m:
                current = m.group(1)
                if current in sections:
                    fail(f"{path}:{lineno}: section [{current}] repeated")
                sections[current] = []
                continue
            if current is None:
                fail(f"{path}:{lineno}: row outside a section")
            sections[current].append((lineno, shlex.split(line)))
    return sections


def read_def(path, pattern):
    rows = []
    rx = re.compile(pattern)
    with open(path, encoding="utf-8") as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("//"):
                continue
            m = rx.fullmatch(line)
            if not m:
                fail(f"{path}:{lineno}: cannot read '{line}'")
            rows.append(m.groups())
    return rows


def c_unescape(s):
    # The .def strings are plain text; only \" and \\ may appear as escapes.
    return re.sub(r"\\([\"\\])", r"\1", s)


def listed_functions(src, name):
    path = os.path.join(src, name)
    if name == "oss_functions.def":
        rows = read_def(path, r'OSS_FUNCTION\((\d+), (\w+), "((?:[^"\\]|\\.)*)"\)')
        return {int(n): c_unescape(text) for n, _, text in rows}
    if name == "sys_functions.def":
        rows = read_def(path, r"ECF_SYSCALL(?:_OTHER)?\((\d+), (\w+)\)")
        return {int(n): text for n, text in rows}
    fail(f"unknown function list {name}")


# ---- deterministic order ---------------------------------------------------------------------


def fnv1a(text):
    h = 0x811C9DC5
    for b in text.encode("utf-8"):
        h = ((h ^ b) * 0x01000193) & 0xFFFFFFFF
    return h


def shuffled(items, seed):
    """Fisher-Yates driven by a fixed 32-bit LCG: the same order on every host and version."""
    items = list(items)
    state = seed or 1
    for i in range(len(items) - 1, 0, -1):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        j = (state >> 8) % (i + 1)
        items[i], items[j] = items[j], items[i]
    return items


# ---- the model -------------------------------------------------------------------------------


def build(src):
    inv = read_sections(os.path.join(src, "inventory.txt"))

    def rows(name):
        if name not in inv:
            fail(f"inventory.txt: section [{name}] missing")
        return inv[name]

    products = {}
    for lineno, f in rows("products"):
        products[int(f[0])] = f[1]
    num_products = len(products)
    if sorted(products) != list(range(1, num_products + 1)):
        fail("inventory.txt: product indices must run from 1 without gaps")

    verbs = [w for _, f in rows("verbs") for w in f]
    nouns = [w for _, f in rows("nouns") for w in f]

    overloads = {}
    for lineno, f in rows("overloads"):
        p, c, first, later = map(int, f)
        if not 0 < first < later:
            fail(f"inventory.txt:{lineno}: an overload repeats an earlier entry")
        overloads.setdefault((p, c), []).append((first, later))

    # components[p] = list indexed by component index of (short, long, [function names])
    components = {p: {} for p in products}
    for lineno, f in rows("components"):
        if len(f) != 6:
            fail(f"inventory.txt:{lineno}: expected 6 fields")
        p, c, entries = int(f[0]), int(f[1]), int(f[2])
        source, short, long_name = f[3], f[4], f[5]
        if p not in components or c in components[p] or not 0 < c < MAX_COMPONENTS:
            fail(f"inventory.txt:{lineno}: bad or repeated component {p}/{c}")
        if not 1 <= entries <= MAX_FUNCTIONS:
            fail(f"inventory.txt:{lineno}: bad entry count {entries}")
        names = [""]
        if source == "-":
            pass
        elif source.startswith("file:"):
            listed = listed_functions(src, source[5:])
            if sorted(listed) != list(range(1, entries)):
                fail(f"{source[5:]}: indices must run from 1 to {entries - 1}")
            names += [listed[i] for i in range(1, entries)]
        elif source[:2] in ("c:", "m:"):
            stem = source[2:]
            pairs = shuffled([(v, n) for v in verbs for n in nouns], fnv1a(short))
            if len(pairs) < entries - 1:
                fail(f"inventory.txt:{lineno}: too few verb/noun pairs for {entries - 1} names")
            for verb, noun in pairs[: entries - 1]:
                if source[0] == "c":
                    names.append(f"{stem}{verb}{noun}")
                else:
                    names.append(f"{stem[0].upper()}{stem[1:]}{noun}::{verb[0].lower()}{verb[1:]}")
        else:
            fail(f"inventory.txt:{lineno}: unknown function source {source}")
        if len(names) != entries:
            fail(f"inventory.txt:{lineno}: {len(names)} names for {entries} entries")
        for first, later in overloads.pop((p, c), []):
            if later >= entries:
                fail(f"inventory.txt: overload {later} beyond component {p}/{c}")
            names[later] = names[first]
        components[p][c] = (short, long_name, names)
    if overloads:
        fail(f"inventory.txt: overloads of unknown components {sorted(overloads)}")
    for p, comps in components.items():
        if sorted(comps) != list(range(1, len(comps) + 1)):
            fail(f"inventory.txt: components of product {p} must run from 1 without gaps")
        shorts = [s for s, _, _ in comps.values() if s]
        if len(shorts) != len(set(shorts)):
            fail(f"inventory.txt: repeated short name in product {p}")

    # ---- error set ----
    (lineno, f), = rows("error-set")
    set_index, set_name, num_codes = int(f[0]), f[1], int(f[2])
    if set_index != 1 or not 0 < num_codes <= MAX_CODE_INDEX:
        fail("inventory.txt: one error set, index 1")
    set_products = {int(f[0]): f[1] for _, f in rows("error-set-products")}

    codes = {}  # index -> (value, product, component, name, description)

    def add_code(value, p, c, name, desc, where):
        index = value & MAX_CODE_INDEX
        if (value >> 28) & 7 != set_index or (value >> 23) & 0x1F or not 0 < index <= num_codes:
            fail(f"{where}: code 0x{value:08X} is not in set {set_index}")
        if index in codes:
            fail(f"{where}: code index {index} given twice")
        if p not in set_products or c not in components.get(p, {}):
            fail(f"{where}: code owner {p}/{c} unknown")
        codes[index] = (value, p, c, name, desc)

    for v, name, desc in read_def(os.path.join(src, "oss_codes.def"),
                                  r'ECF_CODE\((0x[0-9A-Fa-f]{8}), (ECF_\w+), "((?:[^"\\]|\\.)*)"\)'):
        add_code(int(v, 16), 1, 3, name, c_unescape(desc), "oss_codes.def")
    for lineno, f in rows("codes"):
        add_code(int(f[0], 16), int(f[1]), int(f[2]), f[3], f[4], f"inventory.txt:{lineno}")

    subjects = [(int(f[0]), int(f[1]), f[2], f[3]) for _, f in rows("code-subjects")]
    conditions = [(f[0], f[1]) for _, f in rows("code-conditions")]
    free = [i for i in range(1, num_codes + 1) if i not in codes]
    order = {(s, c): k for k, (s, c) in enumerate(
        (s, c) for s in range(len(subjects)) for c in range(len(conditions)))}
    chosen = shuffled(order, fnv1a(set_name))[: len(free)]
    if len(chosen) < len(free):
        fail("inventory.txt: too few subject/condition pairs for the free code indices")
    chosen.sort(key=lambda sc: order[sc])
    for index, (s, c) in zip(free, chosen):
        p, comp, token, phrase = subjects[s]
        cond, sentence = conditions[c]
        add_code(0x80000000 | (set_index << 28) | index, p, comp, f"ECF_{token}_{cond}",
                 sentence.replace("{}", phrase), "inventory.txt")
    names = [codes[i][3] for i in codes]
    if len(names) != len(set(names)):
        fail("code names are not unique")

    return {
        "products": products,
        "components": components,
        "set_index": set_index,
        "set_name": set_name,
        "num_codes": num_codes,
        "set_products": set_products,
        "codes": codes,
    }


# ---- writing ---------------------------------------------------------------------------------


class Blob:
    def __init__(self):
        self.offsets = {}
        self.parts = []
        self.size = 0
        self.add("")

    def add(self, text):
        if text is None:
            return NULL
        off = self.offsets.get(text)
        if off is None:
            off = self.size
            self.offsets[text] = off
            self.parts.append(text)
            self.size += len(text.encode("utf-8")) + 1
        return off


def c_literal(text):
    out = []
    for b in text.encode("utf-8"):
        ch = chr(b)
        if ch in '"\\':
            out.append("\\" + ch)
        elif 0x20 <= b < 0x7F and ch != "?":
            out.append(ch)
        else:
            out.append(f"\\{b:03o}")
    return '"' + "".join(out) + '\\0"'


def rows_of(values, per_line):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append("    " + ", ".join(values[i:i + per_line]) + ",")
    return "\n".join(lines)


def emit(model):
    blob = Blob()
    product_rows = ["{0xFFFFFFFFu, 0u, 0u}"]
    component_rows = []
    function_offsets = []
    for p in sorted(model["products"]):
        comps = model["components"][p]
        product_rows.append(f"{{{blob.add(model['products'][p])}u, {len(comps) + 1}u, "
                            f"{len(component_rows)}u}}")
        component_rows.append("{0u, 0u, 0u, 0u}")  # placeholder 0: empty names, no functions
        for c in sorted(comps):
            short, long_name, names = comps[c]
            component_rows.append(f"{{{blob.add(long_name)}u, {blob.add(short)}u, "
                                  f"{len(names)}u, {len(function_offsets)}u}}")
            function_offsets += [f"{blob.add(n)}u" for n in names]

    owner_rows = [f"{{0u, 0u, {blob.add('OK')}u}}"]
    name_rows = [f"{{0x00000000u, {blob.add('OK')}u}}"]
    for i in range(1, model["num_codes"] + 1):
        value, p, c, name, desc = model["codes"][i]
        owner_rows.append(f"{{{p}u, {c}u, {blob.add(desc)}u}}")
        name_rows.append(f"{{0x{value:08X}u, {blob.add(name)}u}}")
    set_products = [str(blob.add(model["set_products"].get(i))) + "u"
                    for i in range(max(model["set_products"]) + 1)]
    set_name = blob.add(model["set_name"])

    out = []
    out.append("// Generated by gen_tables.py from inventory.txt and the .def lists beside it.")
    out.append("// Do not edit: change the inventory and rebuild.")
    out.append('#include "ecf/ecf_tables.h"')
    out.append("")
    out.append("namespace osse {")
    out.append("namespace ecf {")
    out.append("")
    out.append(f"const Uint32 kNumProducts = {len(model['products'])}u;")
    out.append(f"const Uint32 kSetIndex = {model['set_index']}u;")
    out.append(f"const Uint32 kSetName = {set_name}u;")
    out.append(f"const Uint32 kNumCodes = {model['num_codes']}u;")
    out.append(f"const Uint32 kNumSetProducts = {len(set_products)}u;")
    out.append("")
    out.append(f"const ProductRow kProducts[{len(product_rows)}] = {{")
    out.append(rows_of(product_rows, 1))
    out.append("};")
    out.append(f"const ComponentRow kComponents[{len(component_rows)}] = {{")
    out.append(rows_of(component_rows, 4))
    out.append("};")
    out.append(f"const Uint32 kFunctionNames[{len(function_offsets)}] = {{")
    out.append(rows_of(function_offsets, 12))
    out.append("};")
    out.append(f"const Uint32 kSetProductNames[{len(set_products)}] = {{")
    out.append(rows_of(set_products, 8))
    out.append("};")
    out.append(f"const CodeOwnerRow kCodeOwners[{len(owner_rows)}] = {{")
    out.append(rows_of(owner_rows, 4))
    out.append("};")
    out.append(f"const CodeNameRow kCodeNames[{len(name_rows)}] = {{")
    out.append(rows_of(name_rows, 4))
    out.append("};")
    out.append("")
    out.append(f"// {len(blob.parts)} distinct names, {blob.size} bytes.")
    out.append(f"const char kNames[{blob.size + 1}] =")
    for i in range(0, len(blob.parts), 8):
        out.append("    " + " ".join(c_literal(t) for t in blob.parts[i:i + 8]))
    out.append("    ;")
    out.append("")
    out.append("}  // namespace ecf")
    out.append("}  // namespace osse")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    try:
        text = emit(build(argv[1]))
    except InventoryError as e:
        sys.stderr.write(f"gen_tables.py: {e}\n")
        return 1
    tmp = argv[2] + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(tmp, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
