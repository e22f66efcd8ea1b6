#!/usr/bin/python3
"""zudsieve-project: the server side of a BOINC project that runs ZudSieve.

split        cuts a range of p into work units, with their templates and a
             create_work script;
validate-init, validate-compare
             BOINC's script_validator commands (exit 0 valid, 3 retry later,
             anything else invalid);
assimilate   merges valid results into the project's status file and writes
             the next Zud.dat without the factored n.

Every factor is checked here with Python's exact integers, independently of
the sieve that found it.
"""

import argparse
import hashlib
import math
import os
import re
import sys
import tempfile

INT32_MAX = 2**31 - 1
INT64_MAX = 2**63 - 1
HIGHEST_P = 2**62 - 1          # the sieve's limit
APP_NAME = "zudsieve"

VALID, INVALID, RETRY = 0, 1, 3

FACTOR_LINE = re.compile(r"^([0-9]+) \| ([0-9]+)\*2\^([0-9]+)\+1$")
CHECKPOINT_LINE = re.compile(r"^pmin=(-?[0-9]+)$")
# Work-unit names carry the candidate file's tag and the range; BOINC's
# result and output file names start with the work unit's name.
UNIT_NAME = re.compile(r"zud_([0-9a-f]{8})_([0-9]+)_([0-9]+)")


class Refusal(Exception):
    """A fault in what we were given; the text says what."""


class Transient(Exception):
    """A fault that may pass (a file not there yet, a volume away)."""


# ---------------------------------------------------------------- Zud.dat

def parse_leading_int(text):
    """The files' number rule: blanks, a sign, digits up to the first other
    character; 0 without digits; saturated at 2^63 - 1 in magnitude."""
    i, size = 0, len(text)
    while i < size and text[i] in " \t\n\v\f\r":
        i += 1
    negative = False
    if i < size and text[i] in "+-":
        negative = text[i] == "-"
        i += 1
    start = i
    while i < size and "0" <= text[i] <= "9":
        i += 1
    value = min(int(text[start:i]), INT64_MAX) if i > start else 0
    return -value if negative else value


class LineValues:
    """The candidate file's values, one per call, as the program reads them:
    a "k=" header as its negated value, "+" lines relative to the running
    value, lines of value 0 skipped (they reset the running value), and 0 at
    the end of the file."""

    def __init__(self, lines):
        self.lines = iter(lines)
        self.running = 0

    def next(self):
        for line in self.lines:
            if line.startswith("k="):
                return -parse_leading_int(line[2:])
            if line.startswith("+"):
                value = self.running + parse_leading_int(line[1:])
                value = max(min(value, INT64_MAX), -INT64_MAX)
            else:
                value = parse_leading_int(line)
            self.running = value
            if value != 0:
                return value
        return 0


class Candidates:
    """A candidate file: kcount, nmin, nmax and, per k in file order, the set
    of n that are still candidates."""

    def __init__(self, kcount, nmin, nmax, ks, ns):
        self.kcount, self.nmin, self.nmax = kcount, nmin, nmax
        self.ks = ks          # k of each header, in file order
        self.ns = ns          # set of n per header

    def has(self, k, n):
        return any(kv == k and n in ns for kv, ns in zip(self.ks, self.ns))

    def remove(self, factors):
        by_k = {}
        for index, k in enumerate(self.ks):
            by_k.setdefault(k, []).append(index)
        for k, n in factors:
            for index in by_k.get(k, ()):
                self.ns[index].discard(n)

    def text(self):
        """The file as the program writes it."""
        out = ["%d\n%d\n%d\n" % (self.kcount, self.nmin, self.nmax)]
        for k, ns in zip(self.ks, self.ns):
            out.append("k=%d\n" % k)
            previous = None
            for n in sorted(ns):
                out.append("%d\n" % n if previous is None else "+%d\n" % (n - previous))
                previous = n
        return "".join(out)


def read_candidates(path):
    """Reads a candidate file with the program's rules and messages."""
    try:
        with open(path, "rb") as f:
            lines = f.read().decode("latin-1").split("\n")
    except FileNotFoundError:
        raise Transient("the candidate file '%s' cannot be found" % path)
    except OSError as e:
        raise Transient("the candidate file '%s' cannot be read (%s)" % (path, e.strerror))
    values = LineValues(lines)
    kcount = values.next()
    if kcount < 1 or kcount > INT32_MAX:
        raise Refusal("The file '%s' is invalid - bad first line!" % path)
    nmin, nmax = values.next(), values.next()
    if nmin < 1 or nmax < 1 or nmin > nmax or nmax > INT32_MAX:
        raise Refusal("The file '%s' is invalid - bad range of n on lines 2 and 3!" % path)
    value = values.next()
    if value >= 0 or value < -INT32_MAX:
        raise Refusal("The file '%s' is invalid - bad k value at line 4!" % path)
    ks, ns = [], []
    for _ in range(kcount):
        if value == 0:
            raise Refusal("The file '%s' is invalid - insufficient k's!" % path)
        if value < -INT32_MAX:
            raise Refusal("The file '%s' is invalid - bad k value after k=%d!" % (path, ks[-1]))
        k, found = -value, set()
        while True:
            value = values.next()
            if value <= 0:
                break
            if value < nmin or value > nmax:
                raise Refusal("The file '%s' is invalid - for k=%d, there is n=%d, which is out of range!"
                              % (path, k, value))
            found.add(value)
        ks.append(k)
        ns.append(found)
    return Candidates(kcount, nmin, nmax, ks, ns)


# ---------------------------------------------------------- exact checks

def is_prime(p):
    """Deterministic Miller-Rabin below 3.3 * 10^24 (the first 13 primes)."""
    if p < 2:
        return False
    small = (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41)
    for q in small:
        if p % q == 0:
            return p == q
    d, s = p - 1, 0
    while d % 2 == 0:
        d, s = d // 2, s + 1
    for a in small:
        x = pow(a, d, p)
        if x in (1, p - 1):
            continue
        for _ in range(s - 1):
            x = x * x % p
            if x == p - 1:
                break
        else:
            return False
    return True


def divides(p, k, n):
    """p | k*2^n+1, in exact integer arithmetic."""
    return p > 1 and (k * pow(2, n, p) + 1) % p == 0


def factor_fault(p, k, n):
    if not is_prime(p):
        return "%d is not a prime" % p
    if not divides(p, k, n):
        return "%d does not divide %d*2^%d+1" % (p, k, n)
    return None


# ----------------------------------------------------------- status files

def read_lines(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        raise Transient("the result '%s' is not there" % path)
    except OSError as e:
        raise Transient("the result '%s' cannot be read (%s)" % (path, e.strerror))
    try:
        text = data.decode("ascii")
    except UnicodeDecodeError:
        raise Refusal("'%s' is not a status file (not plain text)" % path)
    return text.replace("\r\n", "\n").split("\n")


def check_result(path, pmin, pmax, candidates):
    """The factors (p, k, n) of a valid result for the range [pmin, pmax];
    Refusal with the first fault otherwise."""
    lines = read_lines(path)
    if lines and lines[-1] == "":
        lines.pop()
    if lines[:2] != ["pmax=%d" % pmax, "pmin=%d" % pmin]:
        raise Refusal("%s: the range header is not 'pmax=%d', 'pmin=%d'" % (path, pmax, pmin))
    if not lines or lines[-1] != "Done":
        raise Refusal("%s: it does not end with 'Done'" % path)
    factors, seen, last_p = [], set(), 0
    # Resume points of the restarts: a checkpoint names the first prime not
    # yet sieved, a stop one less, and the last ones may lie past pmax.
    highest_resume = pmax + 1
    while not is_prime(highest_resume):
        highest_resume += 1
    for number, line in enumerate(lines[2:-1], start=3):
        where = "%s line %d" % (path, number)
        checkpoint = CHECKPOINT_LINE.match(line)
        if checkpoint:
            value = int(checkpoint.group(1))
            if value < pmin - 1 or value > highest_resume:
                raise Refusal("%s: the resume point %d lies outside the range" % (where, value))
            continue
        factor = FACTOR_LINE.match(line)
        if not factor:
            raise Refusal("%s: '%s' is not a factor line" % (where, line[:80]))
        p, k, n = (int(g) for g in factor.groups())
        if p < pmin or p > pmax:
            raise Refusal("%s: %d lies outside the range" % (where, p))
        if p < last_p:
            raise Refusal("%s: %d comes after %d" % (where, p, last_p))
        if (k, n) in seen:
            raise Refusal("%s: %d*2^%d+1 has a factor already" % (where, k, n))
        if not candidates.has(k, n):
            raise Refusal("%s: %d*2^%d+1 is not a candidate" % (where, k, n))
        fault = factor_fault(p, k, n)
        if fault:
            raise Refusal("%s: %s" % (where, fault))
        last_p = p
        seen.add((k, n))
        factors.append((p, k, n))
    return factors


def factor_lines_of(path):
    """The factors a status file records, each checked; other lines are
    passed over."""
    factors = []
    for number, line in enumerate(read_lines(path), start=1):
        factor = FACTOR_LINE.match(line)
        if factor:
            p, k, n = (int(g) for g in factor.groups())
            fault = factor_fault(p, k, n)
            if fault:
                raise Refusal("%s line %d: %s" % (path, number, fault))
            factors.append((p, k, n))
    return factors


def replace_file(path, text):
    """All of the new text or the old file: a temporary beside it, renamed."""
    folder = os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    fd, temporary = tempfile.mkstemp(prefix=".zud-", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


# ------------------------------------------------------------------ split

INPUT_TEMPLATE = """<input_template>
    <file_info>
        <number>0</number>
    </file_info>
    <file_info>
        <number>1</number>
    </file_info>
    <workunit>
        <file_ref>
            <file_number>0</file_number>
            <open_name>Zud.dat</open_name>
            <copy_file/>
        </file_ref>
        <file_ref>
            <file_number>1</file_number>
            <open_name>range</open_name>
            <copy_file/>
        </file_ref>
        <min_quorum>2</min_quorum>
        <target_nresults>2</target_nresults>
        <max_error_results>4</max_error_results>
        <max_total_results>8</max_total_results>
        <max_success_results>4</max_success_results>
        <rsc_fpops_est>%(fpops_est).0f</rsc_fpops_est>
        <rsc_fpops_bound>%(fpops_bound).0f</rsc_fpops_bound>
        <rsc_disk_bound>%(disk_bound)d</rsc_disk_bound>
        <delay_bound>%(delay_bound)d</delay_bound>
    </workunit>
</input_template>
"""

OUTPUT_TEMPLATE = """<output_template>
    <file_info>
        <name><OUTFILE_0/></name>
        <generated_locally/>
        <upload_when_present/>
        <max_nbytes>%(max_nbytes)d</max_nbytes>
        <url><UPLOAD_URL/></url>
    </file_info>
    <result>
        <file_ref>
            <file_name><OUTFILE_0/></file_name>
            <open_name>ZudStatus.dat</open_name>
            <copy_file/>
        </file_ref>
    </result>
</output_template>
"""

CREATE_WORK_HEAD = """#!/bin/sh
# Creates the work units of %(pmin)d..%(pmax)d. Run it in the BOINC
# project's folder (the one holding bin/ and templates/).
set -e
here=$(cd "$(dirname "$0")" && pwd)
cp "$here/templates/zud_in.xml" "$here/templates/zud_out.xml" templates/
bin/stage_file --copy "$here/%(zud)s"
"""

CREATE_WORK_UNIT = """bin/stage_file --copy "$here/%(range)s"
bin/create_work --appname %(app)s --wu_name %(name)s --wu_template templates/zud_in.xml \\
    --result_template templates/zud_out.xml %(zud)s %(range)s
"""


def unit_ranges(pmin, pmax, width):
    """[lo, hi] pieces of `width` p that tile [pmin, pmax]."""
    lo = pmin
    while lo <= pmax:
        hi = min(lo + width - 1, pmax)
        yield lo, hi
        lo = hi + 1


def candidate_tag(data):
    return hashlib.md5(data).hexdigest()[:8]


def split(args):
    if args.pmin < 1:
        raise Refusal("PMIN must be at least 1 (a new candidate file is not made on BOINC)")
    if args.pmax < args.pmin or args.pmax > HIGHEST_P:
        raise Refusal("PMAX must lie between PMIN and %d" % HIGHEST_P)
    if args.width < 1:
        raise Refusal("WIDTH must be at least 1")
    read_candidates(args.zud)       # refuse a file the program would refuse
    with open(args.zud, "rb") as f:
        data = f.read()
    tag = candidate_tag(data)
    zud_name = "Zud_%s.dat" % tag
    os.makedirs(os.path.join(args.outdir, "templates"), exist_ok=True)
    replace_file(os.path.join(args.outdir, zud_name), data.decode("latin-1"))
    # Estimates from ~300,000 primes a second at 10^5 operations each.
    primes = args.width / max(math.log(max(args.pmax, 3)), 1.0)
    fpops_est = max(primes * 1e5, 1e9)
    values = {"fpops_est": fpops_est, "fpops_bound": fpops_est * 100,
              "disk_bound": max(64 << 20, 4 * len(data)), "delay_bound": 14 * 86400,
              "max_nbytes": 64 << 20}
    replace_file(os.path.join(args.outdir, "templates", "zud_in.xml"), INPUT_TEMPLATE % values)
    replace_file(os.path.join(args.outdir, "templates", "zud_out.xml"), OUTPUT_TEMPLATE % values)
    script = [CREATE_WORK_HEAD % {"pmin": args.pmin, "pmax": args.pmax, "zud": zud_name}]
    units = 0
    for lo, hi in unit_ranges(args.pmin, args.pmax, args.width):
        name = "zud_%s_%d_%d" % (tag, lo, hi)
        range_name = name + ".range"
        replace_file(os.path.join(args.outdir, range_name), "%d %d\n" % (lo, hi))
        script.append(CREATE_WORK_UNIT % {"range": range_name, "app": args.app, "name": name,
                                          "zud": zud_name})
        units += 1
    script_path = os.path.join(args.outdir, "create_work.sh")
    replace_file(script_path, "".join(script))
    os.chmod(script_path, 0o755)
    print("%d work units of %d..%d in %s" % (units, args.pmin, args.pmax, args.outdir))
    return VALID


# -------------------------------------------------------------- validation

def unit_of(path, wu_name):
    """(tag, pmin, pmax) of the work unit a result belongs to."""
    match = UNIT_NAME.match(wu_name if wu_name else os.path.basename(path))
    if not match:
        raise Refusal("%s: no work unit 'zud_TAG_PMIN_PMAX' in its name (give --wu)" % path)
    return match.group(1), int(match.group(2)), int(match.group(3))


def load_unit_candidates(folder, tag, cache):
    if tag not in cache:
        cache[tag] = read_candidates(os.path.join(folder, "Zud_%s.dat" % tag))
    return cache[tag]


def validate_init(args):
    cache = {}
    for path in args.files:
        tag, pmin, pmax = unit_of(path, args.wu)
        check_result(path, pmin, pmax, load_unit_candidates(args.dir, tag, cache))
    return VALID


def validate_compare(args):
    if len(args.files) % 2 != 0 or not args.files:
        raise Refusal("validate-compare takes the files of two results")
    half = len(args.files) // 2
    first, second = args.files[:half], args.files[half:]
    for a, b in zip(first, second):
        if set(factor_lines_of(a)) != set(factor_lines_of(b)):
            print("%s and %s record different factors" % (a, b), file=sys.stderr)
            return INVALID
    return VALID


# -------------------------------------------------------------- assimilate

def assimilate(args):
    status = args.status or os.path.join(args.dir, "ZudStatus.dat")
    zud = args.zud or os.path.join(args.dir, "Zud.dat")
    next_zud = args.next or os.path.join(args.dir, "next", "Zud.dat")
    candidates = read_candidates(zud)
    new = []
    for path in args.files:
        new.extend(factor_lines_of(path))
    merged = set(new)
    if os.path.exists(status):
        merged.update(factor_lines_of(status))
    ordered = sorted(merged)
    replace_file(status, "".join("%d | %d*2^%d+1\n" % f for f in ordered))
    candidates.remove((k, n) for _, k, n in ordered)
    replace_file(next_zud, candidates.text())
    print("%d factors in %s; the next candidate file is %s" % (len(ordered), status, next_zud))
    return VALID


# -------------------------------------------------------------- commands

def parser():
    top = argparse.ArgumentParser(prog="zudsieve-project",
                                  description="The project's side of ZudSieve on BOINC.")
    commands = top.add_subparsers(dest="command", required=True)

    p = commands.add_parser("split", help="make the work units of a range")
    p.add_argument("zud", metavar="Zud.dat")
    p.add_argument("pmin", metavar="PMIN", type=int)
    p.add_argument("pmax", metavar="PMAX", type=int)
    p.add_argument("width", metavar="WIDTH", type=int, help="p per work unit")
    p.add_argument("outdir", metavar="OUTDIR")
    p.add_argument("--app", default=APP_NAME, help="the BOINC application's name")
    p.set_defaults(run=split)

    p = commands.add_parser("validate-init", help="check results (script_validator's init_script)")
    p.add_argument("files", metavar="FILE", nargs="+")
    p.add_argument("--dir", default=".", help="the folder split wrote (with Zud_TAG.dat)")
    p.add_argument("--wu", help="the work unit's name, when the files' names do not begin with it")
    p.set_defaults(run=validate_init)

    p = commands.add_parser("validate-compare", help="compare two results (compare_script)")
    p.add_argument("files", metavar="FILE", nargs="+")
    p.set_defaults(run=validate_compare)

    p = commands.add_parser("assimilate", help="merge valid results, write the next Zud.dat")
    p.add_argument("files", metavar="FILE", nargs="*")
    p.add_argument("--dir", default=".", help="holds Zud.dat, ZudStatus.dat and next/Zud.dat")
    p.add_argument("--zud", help="the candidate file (default DIR/Zud.dat)")
    p.add_argument("--status", help="the project's status file (default DIR/ZudStatus.dat)")
    p.add_argument("--next", help="the next candidate file (default DIR/next/Zud.dat)")
    p.set_defaults(run=assimilate)
    return top


def main(argv=None):
    args = parser().parse_args(argv)
    try:
        return args.run(args)
    except Transient as e:
        if not args.command.startswith("validate"):
            print("zudsieve-project: %s" % e, file=sys.stderr)
            return INVALID
        print("zudsieve-project: %s; try again later" % e, file=sys.stderr)
        return RETRY
    except Refusal as e:
        print("zudsieve-project: %s" % e, file=sys.stderr)
        return INVALID
    except OSError as e:
        print("zudsieve-project: %s" % e, file=sys.stderr)
        return RETRY if args.command.startswith("validate") else INVALID


if __name__ == "__main__":
    sys.exit(main())
