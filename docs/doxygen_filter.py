#!/usr/bin/env python3
"""Input filter of the API reference build: lets Doxygen read the public headers' own comments.

The headers are written with plain C comments. This filter hands Doxygen a copy in which
  - the comment that opens a header (before its include guard) describes the file,
  - a comment on a line of its own describes the declaration after it,
  - a comment that ends a line of code describes that line's declaration or field (every
    field, where the line declares several),
  - a comment on a line of its own followed, without a blank line, by two or more macros,
    data declarations, overloads of one function or operators describes all of them (it opens
    a member group that ends after them); before other functions it describes the first only,
  - section banners ("/* ---- ..." and "/* ==== ...") stay plain comments, unless a run of
    macros or data declarations follows them directly; comments inside inline function bodies
    stay plain comments,
and in which the text of every comment is escaped, so that key names, paths and formats
written in it ("Global\\", "<id>", "%d", "@") print as written instead of being read as
Doxygen commands or HTML. Line numbers are kept: every line maps to the same line.
"""
import re
import sys

ESCAPES = {"\\": "\\\\", "<": "\\<", ">": "\\>", "@": "\\@", "&": "\\&", "%": "\\%",
           "#": "\\#", "$": "\\$"}


# A field line that declares several names: "Uint32 dr0, dr1, dr2;" (no function pointers).
MANY_FIELDS = re.compile(r"^(\s*)((?:(?:const|volatile|unsigned|signed|struct)\s+)*[A-Za-z_]\w*(?:\s*\*+)?)"
                         r"\s+([^;,()]+(?:,[^;,()]+)+);\s*$")


def escape(text):
    text = "".join(ESCAPES.get(c, c) for c in text)
    # "::wait" alone would be read as a link request
    return re.sub(r"(?<![A-Za-z0-9_])::", r"\\::", text)


def blank_comments(src):
    """The source with every comment replaced by spaces (line breaks kept)."""
    out, i, n = [], 0, len(src)
    while i < n:
        if src.startswith("/*", i):
            j = src.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", src[i:j]))
            i = j
        elif src.startswith("//", i):
            j = src.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        else:
            out.append(src[i])
            i += 1
    return "".join(out)


def find_groups(src):
    """Offsets of the comments that describe a run of macros, of data declarations, of the
    overloads of one function or of operators, and the line numbers after which each run
    ends."""
    lines = src.split("\n")
    code = blank_comments(src).split("\n")
    offsets, pos = [], 0
    for ln in lines:
        offsets.append(pos)
        pos += len(ln) + 1
    opens, closes = set(), set()
    k = 0
    while k < len(lines):
        m = re.match(r"(\s*)/\*(?![*!])", lines[k])
        if not m or code[k].strip():
            k += 1
            continue
        start = offsets[k] + len(m.group(1))
        e = k
        while "*/" not in lines[e] and e + 1 < len(lines):
            e += 1
        if code[e].strip():
            k = e + 1  # code after the comment on its line
            continue
        j, kinds, last = e + 1, set(), None
        while j < len(lines):
            t = code[j].strip()
            if not t and lines[j].strip() and not lines[j].strip().startswith("/*"):
                if last is not None and last == j - 1:
                    last = j
                j += 1  # the rest of a comment that ends a declaration line
                continue
            one_line_body = t.count("{") == t.count("}") > 0 and t.endswith("}")
            if (not t or lines[j].strip().startswith("/*") or (("{" in t or "}" in t) and not one_line_body)
                    or t.startswith("static_assert") or (t.startswith("#") and not t.startswith("#define"))
                    or t.endswith(":")):
                break
            if t.startswith("#define"):
                while code[j].rstrip().endswith("\\") and j + 1 < len(lines):
                    j += 1
                kinds.add("macro")
                last, j = j, j + 1
                continue
            s2, text = j, t
            while not one_line_body and not code[s2].strip().endswith(";") and s2 + 1 < len(lines):
                s2 += 1
                t2 = code[s2].strip()
                if "{" in t2 or "}" in t2 or not t2:
                    s2 = None
                    break
                text += " " + t2
            if s2 is None:
                break
            if "(" in text:
                # functions group only as an overload set or a run of operators
                m2 = re.search(r"(~?[A-Za-z_][A-Za-z_0-9]*)\s*\(", text)
                name = "operator" if re.search(r"\boperator\b", text) else (m2.group(1) if m2 else "?")
                kinds.add("function " + name)
            else:
                kinds.add("data")
            last, j = s2, s2 + 1
        runs = len(kinds) == 1
        if runs and last is not None and last > e + 1:
            opens.add(start)
            closes.add(last)
        k = e + 1
    return opens, closes


def main(path):
    src = open(path, encoding="utf-8", errors="replace").read()
    opens, closes = find_groups(src)
    line_no = 0
    out = []
    i, n = 0, len(src)
    seen_code = False      # any code before this point (the first comment describes the file)
    depth = 0              # brace depth of inline function bodies
    line_start = 0
    while i < n:
        if src.startswith("//", i):
            j = src.find("\n", i)
            j = n if j < 0 else j
            out.append(src[i:j])
            i = j
            continue
        if src.startswith("/*", i):
            j = src.find("*/", i + 2)
            j = n if j < 0 else j + 2
            body = src[i + 2:j - 2]
            before = src[line_start:i]
            own_line = before.strip() == ""
            banner = re.match(r"\s*(----|====)", body) is not None
            plain = (depth > 0 or body.startswith("*") or body.startswith("!")
                     or (banner and i not in opens))
            if banner and not plain:
                # a section heading over a run: its title and text describe the run
                body = re.sub(r"[ \t]*(-{4,}|={4,})[ \t]*", " ", body)
            if i in opens and not plain and seen_code:
                out.append("/**@{*/ ")
            if plain:
                out.append(src[i:j])
            elif not seen_code:
                out.append("/** " + escape(body) + " @file */")
            elif own_line:
                out.append("/** " + escape(body) + "*/")
            else:
                doc = "/**< " + escape(body) + "*/"
                many = MANY_FIELDS.match(before)
                joined = "".join(out) if many else ""
                if many and joined.endswith(before):
                    # Doxygen gives a comment after "Uint32 a, b, c;" to the last name only:
                    # one declaration per name on the same line, each with the comment.
                    indent, kind, names = many.groups()
                    out = [joined[:-len(before)], indent]
                    out.append(" ".join("%s %s; %s" % (kind, name.strip(), doc) for name in names.split(",")))
                    out.append(" ")
                else:
                    out.append(doc)
            line_no += src.count("\n", i, j)
            i = j
            continue
        c = src[i]
        if c == '"' or c == "'":
            j = i + 1
            while j < n and src[j] != c:
                j += 2 if src[j] == "\\" else 1
            out.append(src[i:j + 1])
            i = j + 1
            continue
        if c == "\n":
            line_no += 1
            line_start = i + 1
            if line_no - 1 in closes:
                # at the start of the next line: a comment after a macro is part of the macro
                out.append("\n/**@}*/ ")
                i += 1
                continue
        elif not c.isspace():
            seen_code = True
        if c == "{" and _opens_body(src, i):
            depth += 1
        elif c == "}" and depth > 0:
            depth -= 1
        out.append(c)
        i += 1
    sys.stdout.write("".join(out))


def _opens_body(src, i):
    """A brace after ')' (possibly with const, noexcept or a member initialiser list) opens a
    function body; braces of records, enums and namespaces do not."""
    k = src.rfind("\n", 0, i)
    head = src[k + 1:i].strip()
    if head == "":
        # brace on a line of its own: look at the previous line
        k2 = src.rfind("\n", 0, k)
        head = src[k2 + 1:k].strip()
    head = re.sub(r"/\*.*?\*/", "", head).strip()
    return bool(re.search(r"\)\s*(const)?\s*(noexcept)?\s*$", head)) or re.search(r"\)\s*:", head) is not None \
        or bool(re.match(r":|,", head)) and head.endswith(")")


if __name__ == "__main__":
    main(sys.argv[1])
