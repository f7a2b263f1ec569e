#!/usr/bin/env python3
"""Makes src/wmi_standin/vendor-names.tsv from the Linux kernel's list of
device-tree vendor prefixes (Documentation/devicetree/bindings/vendor-prefixes.yaml).

    tools/vendor-names.py PATH/vendor-prefixes.yaml [--kernel v7.1] [-o OUT]

The build turns the TSV into the table the stand-in looks a board's maker up
in (the vendor of the first "compatible" entry); run this again on a newer
list to take it in. Standard library only: the list is read with a small
parser of the YAML it is written in (a mapping of quoted patterns, each with
a plain or quoted "description" that may run over several lines).

Each prefix gets the description the list gives it, with non-breaking spaces
made spaces, runs of blanks made one, the ends trimmed and a closing note on
the prefix dropped. Only a few entries describe something that is no maker at
all or say more than a name; OVERRIDES says what those show.
"""

import argparse
import os
import re
import sys

# Entries whose description names no company, or says more than its name,
# and what the Manufacturer shows for them instead. None leaves the prefix
# out, so that it stands as written, as any prefix the list does not know.
# A closing note "(deprecated, use ...)" or "(formerly ...)" is dropped from
# every name: it is about the prefix, not the maker.
OVERRIDES = {
    "gw": "Gateworks Corporation",  # '... use "gateworks" vendor prefix'
    "plathome": "Plat'Home Co., Ltd.",  # a stray backslash before the quote
    "linux": "Linux",  # "Linux-specific binding"; QEMU's Arm virt boards say linux,dummy-virt
    "qemu": "QEMU",  # "QEMU, a generic and open source machine emulator and virtualizer"
    "test": None,  # "Reserved for use by tests. For example, KUnit."
    "virtio": None,  # describes the virtual I/O device standard, not a maker
    "virtual": None,  # "Used for virtual device without specific vendor."
}

BLANKS = re.compile("[ \t\u00a0\u2007\u202f]+")  # with the no-break spaces
NOTE = re.compile(r"\s*\((?:deprecated|formerly)\b[^()]*\)$")
KEY = re.compile(r"^  (\"(?:[^\"\\]|\\.)*\"|'(?:[^']|'')*'|[^\s\"'#][^:]*):(?:\s+(.*))?$")
LITERAL_PREFIX = re.compile(r"\^((?:[A-Za-z0-9_-]|\\[.+])+),\.\*")
DOUBLE_ESCAPES = {"0": "\0", "t": "\t", "n": "\n", "r": "\r", " ": " ", "/": "/",
                  '"': '"', "\\": "\\", "_": "\u00a0", "N": "\u0085", "L": "\u2028",
                  "P": "\u2029"}


def fail(message):
    sys.exit(f"vendor-names: {message}")


def unquote(text, where):
    """The value of one YAML scalar, its lines already joined by spaces."""
    if text.startswith("'"):
        if not text.endswith("'") or len(text) < 2:
            fail(f"line {where}: unterminated quoted text")
        return text[1:-1].replace("''", "'")
    if text.startswith('"'):
        if not text.endswith('"') or len(text) < 2:
            fail(f"line {where}: unterminated quoted text")
        out, i, body = [], 0, text[1:-1]
        while i < len(body):
            c = body[i]
            if c != "\\":
                out.append(c)
                i += 1
                continue
            e = body[i + 1 : i + 2]
            if e in DOUBLE_ESCAPES:
                out.append(DOUBLE_ESCAPES[e])
                i += 2
            elif e in ("x", "u", "U"):
                n = {"x": 2, "u": 4, "U": 8}[e]
                out.append(chr(int(body[i + 2 : i + 2 + n], 16)))
                i += 2 + n
            else:
                fail(f"line {where}: unknown escape \\{e}")
        return "".join(out)
    # A plain scalar: a comment starts at " #".
    return re.split(r"\s#", text, maxsplit=1)[0]


def entries(lines):
    """(line number, key, {field: value}) for each entry of patternProperties."""
    inside = False
    i = 0
    while i < len(lines):
        line = lines[i].rstrip("\r\n")
        i += 1
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        if not line.startswith(" "):
            inside = line.startswith("patternProperties:")
            continue
        if not inside or line.startswith("   "):
            continue
        match = KEY.match(line)
        if not match:
            fail(f"line {i}: cannot read {line.strip()!r}")
        key, number, fields = unquote(match.group(1).strip(), i), i, {}
        # The fields below the key, each a scalar that may go on over more
        # indented lines (a block scalar's lines are joined the same way).
        while i < len(lines):
            field = lines[i].rstrip("\r\n")
            if field.strip() and not field.startswith("    "):
                break
            i += 1
            m = re.match(r"^    ([A-Za-z$][\w$-]*):(?:\s+(.*))?$", field)
            if not m:
                if field.strip() and not field.lstrip().startswith("#"):
                    fail(f"line {i}: cannot read {field.strip()!r}")
                continue
            parts = [(m.group(2) or "").strip()]
            while i < len(lines):
                more = lines[i].rstrip("\r\n")
                if more.strip() and not more.startswith("     "):
                    break
                parts.append(more.strip())
                i += 1
            if parts[0][:1] in ("|", ">"):
                parts = parts[1:]
            text = " ".join(p for p in parts if p)
            fields[m.group(1)] = unquote(text, i) if text[:1] in "'\"" else text
        yield number, key, fields


def names(path):
    with open(path, encoding="utf-8") as f:
        lines = f.readlines()
    found = {}
    for number, key, fields in entries(lines):
        if "description" not in fields:
            continue  # the patterns that are no vendors map to plain `true`
        m = LITERAL_PREFIX.fullmatch(key)
        if not m:
            fail(f"line {number}: {key!r} is not one vendor prefix")
        prefix = m.group(1).replace("\\", "")
        if prefix in found:
            fail(f"line {number}: {prefix!r} is listed twice")
        found[prefix] = NOTE.sub("", BLANKS.sub(" ", fields["description"]).strip())
    if not found:
        fail(f"{path} holds no vendor prefixes")
    for prefix, name in OVERRIDES.items():
        if prefix not in found:
            print(f"vendor-names: {prefix!r} is no longer listed; its override is not needed",
                  file=sys.stderr)
        elif name is None:
            del found[prefix]
        else:
            found[prefix] = name
    for prefix, name in found.items():
        if not name or any(c in name for c in "\t\r\n\0"):
            fail(f"{prefix!r}: the name {name!r} cannot stand in one line")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("yaml", help="vendor-prefixes.yaml")
    parser.add_argument("--kernel", help="the kernel version the list is from, for the header")
    parser.add_argument("-o", "--output", default=os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "src", "wmi_standin", "vendor-names.tsv"))
    args = parser.parse_args()
    found = names(args.yaml)
    source = "Documentation/devicetree/bindings/vendor-prefixes.yaml"
    if args.kernel:
        source += f" ({args.kernel})"
    header = [
        "# Board makers by device-tree vendor prefix: prefix, a tab, the name.",
        "# Generated by tools/vendor-names.py from the Linux kernel's",
        f"# {source}, {len(found)} prefixes; do not edit.",
        "# The list is (GPL-2.0 OR BSD-2-Clause); Kelvarin uses it under BSD-2-Clause.",
    ]
    rows = [f"{p}\t{found[p]}" for p in sorted(found, key=lambda p: p.encode())]
    with open(args.output, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(header + rows) + "\n")
    print(f"vendor-names: {len(found)} prefixes written to {os.path.normpath(args.output)}")


if __name__ == "__main__":
    main()
