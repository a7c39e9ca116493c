#!/usr/bin/env python3
"""Generate src/report/error_name_table.inc from the mingw-w64 SDK headers.

Usage: tools/gen_error_names.py [INCLUDE_DIR] [OUTPUT]

INCLUDE_DIR defaults to /usr/share/mingw-w64/include (Debian package
mingw-w64-common); OUTPUT defaults to src/report/error_name_table.inc next to
this script's repository root. Fails loudly rather than writing a partial table.
"""

import os
import re
import sys

# Codes that get a name; everything else is ERROR_UNDEFINED at run time.
CODE_RANGES = [
    (-8, 34), (36, 36), (38, 39), (50, 72), (80, 80), (82, 89), (100, 114),
    (117, 162), (164, 164), (167, 167), (170, 170), (173, 174), (180, 180),
    (182, 183), (186, 203), (205, 210), (212, 212), (214, 215), (230, 234),
    (240, 240), (254, 255), (259, 259), (266, 267), (275, 278), (282, 282),
    (288, 288), (298, 298), (317, 317), (487, 487), (534, 536), (994, 999),
    (1001, 1022), (1051, 1078), (1100, 1131), (1200, 1221), (1300, 1338),
    (1340, 1394), (1400, 1449), (1500, 1503), (1700, 1728), (1730, 1737),
    (1739, 1753), (1755, 1757), (1759, 1762), (1764, 1816), (1898, 1900),
    (2138, 2138), (2202, 2202), (2250, 2250), (2401, 2401), (2404, 2404),
    (6118, 6118),
]
EXPECTED_COUNT = 576

# Listed codes the current SDK no longer assigns: older SDKs named them, and the
# name was later moved (rpcnterr.h keeps the RPC ones as aliases of other
# codes; ERROR_NO_NETWORK became 1222). Each name must still be defined in the
# given header, so a typo fails here.
RETIRED_CODES = {
    1731: ("RPC_S_SERVER_OUT_OF_MEMORY", "rpcnterr.h"),
    1776: ("RPC_X_SS_CONTEXT_MISMATCH", "rpcnterr.h"),
    2138: ("ERROR_NO_NETWORK", "winerror.h"),
}

# Prefixes whose names belong in the table, per header.
WINERROR_PREFIXES = ("ERROR_", "RPC_S_", "RPC_X_", "EPT_S_")
LZEXPAND_PREFIXES = ("LZERROR_",)

DEFINE_RE = re.compile(r"^\s*#\s*define\s+([A-Za-z_]\w*)\s+(.+?)\s*(?:/[/*].*)?$")
VALUE_RES = [
    re.compile(r"^__MSABI_LONG\(\s*(-?(?:0[xX][0-9A-Fa-f]+|\d+))[lLuU]*\s*\)$"),
    re.compile(r"^\(\s*(-?(?:0[xX][0-9A-Fa-f]+|\d+))[lLuU]*\s*\)$"),
    re.compile(r"^(-?(?:0[xX][0-9A-Fa-f]+|\d+))[lLuU]*$"),
]


def fail(message):
    sys.stderr.write("gen_error_names: error: " + message + "\n")
    sys.exit(1)


def parse_value(text):
    for value_re in VALUE_RES:
        m = value_re.match(text)
        if m:
            return int(m.group(1), 0)
    return None


def read_defines(path, prefixes):
    """Return {code: [names in header order]} for numeric defines with the prefixes."""
    try:
        with open(path, encoding="latin-1") as f:
            lines = f.readlines()
    except OSError as e:
        fail("cannot read %s: %s" % (path, e))
    by_code = {}
    for line in lines:
        m = DEFINE_RE.match(line)
        if not m:
            continue
        name, raw = m.group(1), m.group(2)
        if not (name == "NO_ERROR" or name.startswith(prefixes)):
            continue
        value = parse_value(raw)
        if value is None:
            continue  # HRESULTs and aliases of other macros are not Win32 codes
        names = by_code.setdefault(value, [])
        if name not in names:
            names.append(name)
    return by_code


def defined_names(path):
    try:
        with open(path, encoding="latin-1") as f:
            return {m.group(1) for m in map(DEFINE_RE.match, f) if m}
    except OSError as e:
        fail("cannot read %s: %s" % (path, e))


def check_retired(include_dir, winerror):
    for code, (name, header) in sorted(RETIRED_CODES.items()):
        if winerror.get(code):
            fail("code %d now has a header name (%s); drop it from RETIRED_CODES"
                 % (code, ", ".join(winerror[code])))
        if name not in defined_names(os.path.join(include_dir, header)):
            fail("retired name %s for code %d is not defined in %s" % (name, code, header))


def listed_codes():
    codes = []
    for low, high in CODE_RANGES:
        if low > high:
            fail("bad range %d-%d" % (low, high))
        codes.extend(range(low, high + 1))
    if codes != sorted(set(codes)):
        fail("code ranges overlap or are out of order")
    if len(codes) != EXPECTED_COUNT:
        fail("code ranges list %d codes, expected %d" % (len(codes), EXPECTED_COUNT))
    return codes


def choose_name(code, winerror, lzexpand):
    if code in RETIRED_CODES:
        candidates = [RETIRED_CODES[code][0]]
    elif code < 0:
        candidates = lzexpand.get(code, [])
    elif code == 0:
        # ERROR_SUCCESS is the other spelling; logs say NO_ERROR.
        candidates = [n for n in winerror.get(0, []) if n == "NO_ERROR"]
    else:
        candidates = [n for n in winerror.get(code, []) if n.startswith(WINERROR_PREFIXES)]
    if not candidates:
        fail("no header name for code %d" % code)
    if len(candidates) > 1:
        fail("code %d has several names: %s" % (code, ", ".join(candidates)))
    return candidates[0]


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    include_dir = argv[1] if len(argv) > 1 else "/usr/share/mingw-w64/include"
    output = argv[2] if len(argv) > 2 else os.path.join(root, "src", "report", "error_name_table.inc")
    if len(argv) > 3:
        fail("usage: gen_error_names.py [INCLUDE_DIR] [OUTPUT]")

    winerror = read_defines(os.path.join(include_dir, "winerror.h"), WINERROR_PREFIXES)
    lzexpand = read_defines(os.path.join(include_dir, "lzexpand.h"), LZEXPAND_PREFIXES)

    check_retired(include_dir, winerror)
    rows = [(code, choose_name(code, winerror, lzexpand)) for code in listed_codes()]
    if len(rows) != EXPECTED_COUNT:
        fail("generated %d rows, expected %d" % (len(rows), EXPECTED_COUNT))

    out = ["// Generated by tools/gen_error_names.py from the mingw-w64 SDK headers; do not edit.\n"]
    for code, name in rows:
        out.append("{%d, \"%s\"},\n" % (code, name))
    tmp = output + ".tmp"
    with open(tmp, "w", encoding="ascii", newline="\n") as f:
        f.writelines(out)
    os.replace(tmp, output)
    print("wrote %d rows to %s" % (len(rows), output))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
