#!/usr/bin/env python3
"""Writes the virtual camera's body files from readings of real Nikon bodies.

usage: scripts/make-virtual-bodies.py READINGS_DIR [OUT_DIR]

READINGS_DIR holds one text per body, named nikon-NAME.txt: what a standard PTP client printed
about the camera (its summary, its device info, its property descriptions; English or German).
Each becomes OUT_DIR/NAME.body (default camera/virtual/bodies), which the virtual camera
reads (VirtualBodyFile.cpp), except the bodies whose tables the program keeps itself
(VirtualModelTables.cpp, tuned for the tests and the demo). Run it again when a reading is added or corrected, and commit
the output: the build does not need the readings.
"""

import os
import re
import sys

BUILT_IN = {"d850", "z6", "j5"}

TYPES = {0x1: "i8", 0x2: "u8", 0x3: "i16", 0x4: "u16", 0x5: "i32", 0x6: "u32",
         0x7: "i64", 0x8: "u64", 0xFFFF: "str"}

FORMATS = [  # longest names first: "JPEG" is inside "JFIF"'s neighbours' names
    ("Association/Directory", 0x3001), ("Apple Quicktime", 0x300D), ("Undefined Type", 0x3000),
    ("MS Wave", 0x3008), ("Script", 0x3002), ("DPOF", 0x3006), ("JFIF", 0x3808),
    ("TIFF", 0x380D), ("JPEG", 0x3801),
]

PROPERTY_LINE = re.compile(
    r"^(?:.*?\(0x(?P<code>[0-9a-fA-F]{4})\)|Property 0x(?P<code2>[0-9a-fA-F]{4})):"
    r"\((?P<access>read only|readwrite)\) \(type=0x(?P<type>[0-9a-fA-F]+)\)\s?(?P<rest>.*)$")


def line_of(name):
    if name.startswith("z"):
        return "z6"
    if name[0] in "jv":
        return "j5"
    if name.startswith("d"):
        return "d850"
    return "none"


def formats(text):
    found = []
    for m in re.finditer(r"Unknown\(([0-9a-fA-F]{4})\)", text):
        found.append((m.start(), int(m.group(1), 16)))
    rest = re.sub(r"Unknown\([0-9a-fA-F]{4}\)", lambda m: " " * len(m.group(0)), text)
    for word, code in FORMATS:
        for m in re.finditer(re.escape(word), rest):
            found.append((m.start(), code))
            rest = rest[:m.start()] + " " * len(word) + rest[m.end():]
    return [code for _, code in sorted(found)]


def current_number(rest):
    """The current value of a numeric property: the number in the last parentheses, else the
    first number."""
    m = re.search(r"\((-?\d+)\)\s*$", rest)
    if m:
        return int(m.group(1))
    m = re.search(r"-?\d+", rest)
    return int(m.group(0)) if m else None


def quote(text):
    return '"' + text.replace('"', "'") + '"'


def parse_property(lines, i):
    """One property description starting at lines[i]; returns (table line or None, next i)."""
    m = PROPERTY_LINE.match(lines[i].rstrip("\n"))
    if not m:
        return None, i + 1
    code = int(m.group("code") or m.group("code2"), 16)
    type_code = int(m.group("type"), 16)
    rest = m.group("rest")
    i += 1
    if rest.startswith("Enumeration [") and "]" not in rest:
        # Strings are listed one per line up to "] value: '…'".
        while i < len(lines) and "]" not in lines[i]:
            rest += " " + lines[i].strip()
            i += 1
        if i < len(lines):
            rest += " " + lines[i].strip()
            i += 1
    kind = TYPES.get(type_code)
    if kind is None:
        return None, i
    access = "ro" if m.group("access") == "read only" else "rw"
    head = "%04x %s %s" % (code, kind, access)
    if kind == "str":
        texts = re.findall(r"'([^']*)'", rest)
        if rest.startswith("Enumeration ["):
            if not texts:
                return None, i
            *choices, current = texts
            return "%s enum %s = %s" % (head, " ".join(quote(t) for t in choices),
                                        quote(current)), i
        return "%s none = %s" % (head, quote(texts[0] if texts else "")), i
    if rest.startswith("Range ["):
        r = re.match(r"Range \[(-?\d+) - (-?\d+), step (-?\d+)\] value: (.*)$", rest)
        if not r:
            return None, i
        value = current_number(r.group(4))
        if value is None:
            return None, i
        return "%s range %s %s %s = %d" % (head, r.group(1), r.group(2), r.group(3), value), i
    if rest.startswith("Enumeration ["):
        r = re.match(r"Enumeration \[([^\]]*)\] value: (.*)$", rest)
        if not r:
            return None, i
        values = [v for v in r.group(1).split(",") if v.strip()]
        value = current_number(r.group(2))
        if value is None:
            return None, i
        return "%s enum %s = %d" % (head, " ".join(v.strip() for v in values), value), i
    value = current_number(rest)
    if value is None:
        return None, i
    return "%s none = %d" % (head, value), i


def hex_list(lines, i):
    codes = []
    while i < len(lines):
        m = re.match(r"^\s+0x([0-9a-fA-F]{4})\b", lines[i])
        if not m:
            break
        codes.append(int(m.group(1), 16))
        i += 1
    return codes, i


def field(text, *names):
    for name in names:
        m = re.search(r"^\s*" + re.escape(name) + r":[ \t]*(.*?)\s*$", text, re.M | re.I)
        if m:
            return m.group(1)
    return None


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.readlines()
    text = "".join(lines)
    body = {"operations": [], "events": [], "properties": {}, "listed": [], "storage": None}
    i = 0
    while i < len(lines):
        s = lines[i].strip()
        if s == "Supported operations:":
            body["operations"], i = hex_list(lines, i + 1)
        elif s == "Events Supported:":
            body["events"], i = hex_list(lines, i + 1)
        elif s == "Device Properties Supported:":
            body["listed"], i = hex_list(lines, i + 1)
        elif PROPERTY_LINE.match(lines[i].rstrip("\n")):
            entry, i = parse_property(lines, i)
            if entry:
                body["properties"].setdefault(int(entry[:4], 16), entry)
        elif re.match(r"^store_([0-9a-fA-F]{8}):", s) and body["storage"] is None:
            block = "".join(lines[i + 1:i + 10])
            capacity = re.search(r"(?:Maximum Capability|Maximale Kapazität): (\d+)", block)
            label = re.search(r"(?:VolumeLabel|Label des Speichergerätes):[ \t]*(.*)", block)
            access = re.search(r"(?:Access Capability|Zugriffsmöglichkeiten): (.*)", block)
            write = access and access.group(1).strip() == "Read-Write"
            body["storage"] = {
                "id": int(s[6:14], 16),
                "label": "" if not label or label.group(1).strip() == "None" else label.group(1),
                "capacity": int(capacity.group(1)) if capacity else 0,
                "access": 0 if write else 2,
            }
            i += 1
        else:
            i += 1
    body["manufacturer"] = field(text, "Manufacturer", "Hersteller") or "Nikon Corporation"
    body["model"] = (field(text, "Model", "Modell") or "").strip()
    body["version"] = field(text, "Version", "device version") or ""
    vendor = field(text, "Vendor Extension ID")
    m = re.match(r"0x([0-9a-fA-F]+)(?: \((\d+)\.(\d+)\))?", vendor or "")
    body["vendor_id"] = int(m.group(1), 16) if m else 10
    version = field(text, "Vendor extension version")
    if m and m.group(2):
        body["vendor_version"] = int(m.group(2)) * 100 + int(m.group(3))
    else:
        body["vendor_version"] = int(version) if version and version.isdigit() else 100
    body["vendor_desc"] = field(text, "Vendor Extension Description",
                                "Vendor extension description",
                                "Beschreibung der Vendor Extension") or ""
    capture = field(text, "Capture Formats", "Aufnahmeformate")
    display = field(text, "Display Formats", "Anzeigeformate")
    body["capture"] = formats(capture) if capture else []
    body["display"] = formats(display) if display else []
    return body


def words(codes):
    return " ".join("%04x" % c for c in codes)


def write(name, body, out):
    lines = [
        "# The virtual %s, from a reading of the real body (scripts/make-virtual-bodies.py)."
        % body["model"],
        "# Generated: edit the reading or the script, not this file.",
        "line " + line_of(name),
        "manufacturer " + quote(body["manufacturer"]),
        "model " + quote(body["model"]),
        "version " + quote(body["version"]),
        "vendor-extension %x %d %s" % (body["vendor_id"], body["vendor_version"],
                                       quote(body["vendor_desc"])),
    ]
    for key, codes in (("operations", body["operations"]), ("events", body["events"]),
                       ("listed-properties", body["listed"]),
                       ("capture-formats", body["capture"]), ("image-formats", body["display"])):
        if codes:
            lines.append("%s %s" % (key, words(codes)))
    if body["storage"]:
        st = body["storage"]
        lines.append("storage %08x %d %d %s" % (st["id"], st["capacity"], st["access"],
                                               quote(st["label"])))
    lines.append("properties")
    lines.extend(body["properties"][code] for code in body["properties"])
    with open(os.path.join(out, name + ".body"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    source = sys.argv[1]
    out = sys.argv[2] if len(sys.argv) == 3 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "camera", "virtual", "bodies")
    os.makedirs(out, exist_ok=True)
    for file in sorted(os.listdir(source)):
        m = re.match(r"nikon-(.+)\.txt$", file)
        if not m or m.group(1) in BUILT_IN:
            continue
        body = read(os.path.join(source, file))
        if not body["model"]:
            sys.exit("%s: no model name" % file)
        write(m.group(1), body, out)
        print("%s: %s, %d properties, %d operations" % (
            m.group(1), body["model"], len(body["properties"]), len(body["operations"])))


if __name__ == "__main__":
    main()
