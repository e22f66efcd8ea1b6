#!/usr/bin/python3
"""zudsieve-project: the server side of a BOINC project that runs ZudSieve.

install      lays out a BOINC project for the search: the programs BOINC's
             daemons call (bin/zud_*), the templates, the application's
             version and the project's own folder (zudsieve/);
work-generator, validate-init, validate-compare, assimilate
             what those programs do;
status       the ranges done, the gaps and the failures, the factors found
             against those expected, and where sieving stops paying;
next-zud     the candidate file without the factored n, for the next search;
split        cuts a range into work units by hand.

Every factor is checked here with Python's exact integers, independently of
the sieve that found it, and every result must carry the work digest of its
range: a sum over every prime of it that only a search of each prime gives
cheaply.
"""

import argparse
import bisect
import errno
import fcntl
import hashlib
import json
import math
import mmap
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET
from array import array

INT32_MAX = 2**31 - 1
INT64_MAX = 2**63 - 1
HIGHEST_P = 2**62 - 1          # the sieve's limit
APP_NAME = "zudsieve"
PLATFORM = "x86_64-pc-linux-gnu"

VALID, INVALID, RETRY = 0, 1, 3

# Numbers in results have at most 19 digits: a longer one is refused before
# it is converted, whatever its length.
FACTOR_LINE = re.compile(r"^([0-9]{1,19}) \| ([0-9]{1,10})\*2\^([0-9]{1,10})\+1$")
CHECKPOINT_LINE = re.compile(r"^pmin=(-?[0-9]{1,19})$")
DIGEST_LINE = re.compile(r"^digest=([0-9a-f]{16}) primes=([0-9]{1,19}) below=([0-9]{1,19})$")
LONGEST_LINE = 100
# Work-unit names carry the candidate file's tag and the range, and "_rN"
# when the range is issued again; BOINC's result and output file names
# start with the work unit's name.
UNIT_NAME = re.compile(r"zud_([0-9a-f]{8})_([0-9]+)_([0-9]+)(_r[0-9]+)?")

# BOINC's measure: a cobblestone is 1/200 of a day of a 1 GFLOPS processor.
CREDIT_PER_FPOP = 200.0 / 86400e9
# The floating-point speed BOINC's benchmark gives one core of the machines
# the rates below were measured on.
REFERENCE_FLOPS = 4e9
# Seconds of one such core per prime and per square root of the candidate
# count (the baby-step giant-step search costs about that): measured with
# the 2.4M-candidate benchmark file, see the README.
SECONDS_PER_PRIME_PER_ROOT = 1.9e-9


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


# ------------------------------------------------------------ plain files

def replace_file(path, data):
    """All of the new text (or bytes) or the old file: a temporary beside
    it, flushed to disk, renamed over it."""
    if isinstance(data, str):
        data = data.encode("ascii")
    folder = os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    fd, temporary = tempfile.mkstemp(prefix=".zud-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, path)
        directory = os.open(folder, os.O_RDONLY)
        try:
            os.fsync(directory)
        finally:
            os.close(directory)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def file_md5(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


# ------------------------------------------------------ candidate index

INDEX_MAGIC = b"ZUDIDX1\n"
INDEX_HEADER = len(INDEX_MAGIC) + 32 + 32     # magic, MD5, kcount nmin nmax count


def build_index(zud_path, index_path):
    """The candidates of a file as sorted 64-bit keys k*2^32+n, so that a
    validator looks a (k, n) up without reading the file."""
    md5 = file_md5(zud_path)
    candidates = read_candidates(zud_path)
    keys = set()
    for k, ns in zip(candidates.ks, candidates.ns):
        keys.update((k << 32) | n for n in ns)
    packed = array("Q", sorted(keys))
    header = array("Q", [candidates.kcount, candidates.nmin, candidates.nmax, len(packed)])
    replace_file(index_path, INDEX_MAGIC + md5.encode("ascii") + header.tobytes() + packed.tobytes())
    return md5


class CandidateIndex:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.map = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        if self.map[:len(INDEX_MAGIC)] != INDEX_MAGIC or len(self.map) < INDEX_HEADER:
            raise Refusal("%s is not a candidate index" % path)
        self.md5 = self.map[len(INDEX_MAGIC):len(INDEX_MAGIC) + 32].decode("ascii")
        head = memoryview(self.map)[len(INDEX_MAGIC) + 32:INDEX_HEADER].cast("Q")
        self.kcount, self.nmin, self.nmax, count = head
        self.keys = memoryview(self.map)[INDEX_HEADER:INDEX_HEADER + 8 * count].cast("Q")

    def __len__(self):
        return len(self.keys)

    def position(self, k, n):
        """The candidate's place in the index, -1 when it is none."""
        if k > INT32_MAX or n > INT32_MAX:
            return -1
        key = (k << 32) | n
        i = bisect.bisect_left(self.keys, key)
        return i if i < len(self.keys) and self.keys[i] == key else -1


def load_index(folder, tag):
    """The index of Zud_TAG.dat in `folder`, made once and kept beside it."""
    zud_path = os.path.join(folder, "Zud_%s.dat" % tag)
    index_path = os.path.join(folder, "Zud_%s.idx" % tag)
    if not os.path.exists(index_path):
        if not os.path.exists(zud_path):
            raise Transient("the candidate file '%s' cannot be found" % zud_path)
        try:
            md5 = build_index(zud_path, index_path)
        except OSError as e:
            raise Transient("the candidate index '%s' cannot be written (%s)" % (index_path, e.strerror))
        if not md5.startswith(tag):
            os.unlink(index_path)
            raise Refusal("'%s' is not the candidate file of tag %s (its MD5 is %s)" % (zud_path, tag, md5))
    try:
        return CandidateIndex(index_path)
    except OSError as e:
        raise Transient("the candidate index '%s' cannot be read (%s)" % (index_path, e.strerror))


# ---------------------------------------------------------- exact checks

SMALL_PRIMES = (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41)
# The first prime bases for which Miller-Rabin is exact below each bound.
MR_BASES = ((3215031751, 4), (341550071728321, 7), (3825123056546413051, 9), (3317044064679887385961981, 13))


def is_prime(p):
    """Deterministic Miller-Rabin below 3.3 * 10^24, with as few bases as
    the size of p needs: a dense result has a hundred thousand factors."""
    if p < 2:
        return False
    for q in SMALL_PRIMES:
        if p % q == 0:
            return p == q
    if p > MR_BASES[-1][0]:
        return False    # beyond any p a result may hold
    d, s = p - 1, 0
    while d % 2 == 0:
        d, s = d // 2, s + 1
    bases = next(count for bound, count in MR_BASES if p < bound)
    for a in SMALL_PRIMES[:bases]:
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


def mix64(x):
    x = (x + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
    x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
    x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
    return x ^ (x >> 31)


def expected_primes(lo, hi):
    """About how many primes [lo, hi] holds (the density 1/ln p)."""
    if hi < 3:
        return 0.0
    lo = max(lo, 3)
    return (hi - lo + 1) / math.log((lo + hi) / 2)


# ----------------------------------------------------------- status files

class ResultFile:
    """A result's lines, read as a stream: refused when the file is larger
    than the output template allows, when a line is longer than any record,
    when it is not plain text."""

    def __init__(self, path, limit):
        self.path, self.limit = path, limit

    def __iter__(self):
        try:
            f = open(self.path, "rb")
        except FileNotFoundError:
            raise Transient("the result '%s' is not there" % self.path)
        except OSError as e:
            raise Transient("the result '%s' cannot be read (%s)" % (self.path, e.strerror))
        with f:
            size = os.fstat(f.fileno()).st_size
            if self.limit and size > self.limit:
                raise Refusal("%s: %d bytes, more than a result may have (%d)" % (self.path, size, self.limit))
            number = 0
            while True:
                raw = f.readline(LONGEST_LINE + 2)
                if not raw:
                    return
                number += 1
                if len(raw) > LONGEST_LINE + 1 or (len(raw) == LONGEST_LINE + 1 and not raw.endswith(b"\n")):
                    raise Refusal("%s line %d: longer than any record" % (self.path, number))
                try:
                    line = raw.decode("ascii").rstrip("\n")
                except UnicodeDecodeError:
                    raise Refusal("%s line %d: not plain text" % (self.path, number))
                if line.endswith("\r"):
                    line = line[:-1]
                yield number, line


class Summary:
    """What a valid result says: its factors (kept on request), an
    order-free hash of them and the work digest of the whole range."""

    def __init__(self):
        self.factors = []
        self.count = 0
        self.factor_hash = 0
        self.digest = None      # (hex, primes)


def check_result(path, pmin, pmax, index, limit=0, keep=False):
    """The Summary of a valid result for the range [pmin, pmax]; Refusal
    with the first fault otherwise."""
    summary = Summary()
    found = bytearray(len(index) // 8 + 1)
    last_p = 0
    # A checkpoint names the first prime not yet sieved, a stop one less,
    # so the last resume points may lie a little past pmax.
    highest_resume = pmax + 1
    while not is_prime(highest_resume):
        highest_resume += 1
    previous, last = None, None
    number = done_lines = 0
    for number, line in ResultFile(path, limit):
        previous, last = last, (number, line)
        if number == 1:
            if line != "pmax=%d" % pmax:
                raise Refusal("%s: the range header is not 'pmax=%d', 'pmin=%d'" % (path, pmax, pmin))
            continue
        if number == 2:
            if line != "pmin=%d" % pmin:
                raise Refusal("%s: the range header is not 'pmax=%d', 'pmin=%d'" % (path, pmax, pmin))
            continue
        where = "%s line %d" % (path, number)
        if line == "Done":
            done_lines += 1     # only the last line may be one: checked below
            continue
        checkpoint = CHECKPOINT_LINE.match(line)
        if checkpoint:
            value = int(checkpoint.group(1))
            if value < pmin - 1 or value > highest_resume:
                raise Refusal("%s: the resume point %d lies outside the range" % (where, value))
            continue
        digest = DIGEST_LINE.match(line)
        if digest:
            below = int(digest.group(3))
            if below < pmin or below > highest_resume:
                raise Refusal("%s: the work digest ends outside the range" % where)
            continue
        factor = FACTOR_LINE.match(line)
        if not factor:
            raise Refusal("%s: '%s' is not a record" % (where, line[:80]))
        p, k, n = (int(g) for g in factor.groups())
        if p < pmin or p > pmax:
            raise Refusal("%s: %d lies outside the range" % (where, p))
        if p < last_p:
            raise Refusal("%s: %d comes after %d" % (where, p, last_p))
        position = index.position(k, n)
        if position < 0:
            raise Refusal("%s: %d*2^%d+1 is not a candidate" % (where, k, n))
        if found[position >> 3] >> (position & 7) & 1:
            raise Refusal("%s: %d*2^%d+1 has a factor already" % (where, k, n))
        fault = factor_fault(p, k, n)
        if fault:
            raise Refusal("%s: %s" % (where, fault))
        found[position >> 3] |= 1 << (position & 7)
        last_p = p
        summary.count += 1
        summary.factor_hash = (summary.factor_hash + mix64(mix64(p) ^ (k << 32 | n))) & 0xFFFFFFFFFFFFFFFF
        if keep:
            summary.factors.append((p, k, n))
    if number < 2:
        raise Refusal("%s: the range header is not 'pmax=%d', 'pmin=%d'" % (path, pmax, pmin))
    if last[1] != "Done" or number < 3 or done_lines != 1:
        raise Refusal("%s: it does not end with 'Done', or has another 'Done' before" % path)
    digest = DIGEST_LINE.match(previous[1]) if previous else None
    if not digest or int(digest.group(3)) != pmax + 1:
        raise Refusal("%s: no work digest of the whole range before 'Done' (a digest=... below=%d line)"
                      % (path, pmax + 1))
    primes = int(digest.group(2))
    expected = expected_primes(pmin, pmax)
    # Prime counts stray from the density by far less than this once the
    # range holds a thousand primes; below that the replica decides.
    if expected >= 1000 and abs(primes - expected) > 0.1 * expected:
        raise Refusal("%s: the work digest counts %d primes, but the range holds about %.0f"
                      % (path, primes, expected))
    summary.digest = (digest.group(1), primes)
    return summary


# ------------------------------------------------------------------ units

def unit_of(path, wu_name=None):
    """(name, tag, pmin, pmax) of the work unit a result belongs to."""
    match = UNIT_NAME.match(wu_name if wu_name else os.path.basename(path))
    if not match:
        raise Refusal("%s: no work unit 'zud_TAG_PMIN_PMAX' in its name (give --wu)" % path)
    return match.group(0), match.group(1), int(match.group(2)), int(match.group(3))


def read_header_range(path):
    """The range header of a result, to name its unit when its file name
    does not."""
    lines = []
    for _, line in ResultFile(path, 0):
        lines.append(line)
        if len(lines) == 2:
            break
    values = [CHECKPOINT_LINE.match(lines[1]) if len(lines) == 2 else None,
              re.match(r"^pmax=([0-9]{1,19})$", lines[0]) if lines else None]
    if not all(values):
        raise Refusal("%s: no range header" % path)
    return int(values[0].group(1)), int(values[1].group(1))


# ---------------------------------------------------------------- project

class Project:
    """A BOINC project's folder and the search's own folder in it."""

    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.folder = os.path.join(self.root, "zudsieve")
        self.settings_path = os.path.join(self.folder, "settings.json")
        self.ledger_path = os.path.join(self.folder, "ledger")
        self.status_path = os.path.join(self.folder, "ZudStatus.dat")
        self._settings = None

    @property
    def settings(self):
        if self._settings is None:
            try:
                with open(self.settings_path) as f:
                    self._settings = json.load(f)
            except FileNotFoundError:
                raise Refusal("%s holds no search (run 'zudsieve-project install' first)" % self.root)
            except (OSError, ValueError) as e:
                raise Transient("the settings '%s' cannot be read (%s)" % (self.settings_path, e))
        return self._settings

    def lock(self):
        """Held while the ledger or the status file is read and replaced:
        the assimilator and the work generator run at the same time."""
        os.makedirs(self.folder, exist_ok=True)
        handle = open(os.path.join(self.folder, "lock"), "a")
        fcntl.flock(handle, fcntl.LOCK_EX)
        return handle

    def unit_width(self, lo):
        s = self.settings
        seconds_per_prime = s["seconds_per_prime"]
        width = s["unit_seconds"] / seconds_per_prime * math.log(max(lo, 3))
        return max(int(width), 1000)

    def unit_costs(self, lo, hi):
        """(rsc_fpops_est, credit) of a unit: its primes, the time one
        reference core takes for each, its floating-point speed."""
        fpops = expected_primes(lo, hi) * self.settings["seconds_per_prime"] * REFERENCE_FLOPS
        fpops = max(fpops, 1e9)
        return fpops, fpops * CREDIT_PER_FPOP


class Ledger:
    """Every unit issued and what became of it: issued, done (with its
    canonical result), failed (its range waits to be issued again) or
    reissued (under another name); and failures BOINC named only by id."""

    HEAD = "# zudsieve-project ledger: NAME PMIN PMAX STATE DETAIL\n"

    def __init__(self, path):
        self.path = path
        self.units = {}          # name -> [lo, hi, state, detail]
        self.order = []
        self.lost = []           # (wu id, error mask)
        try:
            with open(path) as f:
                text = f.read()
        except FileNotFoundError:
            return
        for number, line in enumerate(text.splitlines(), start=1):
            if not line or line.startswith("#"):
                continue
            words = line.split()
            if words[0] == "lost" and len(words) == 3:
                self.lost.append((words[1], words[2]))
            elif len(words) == 5:
                self.add(words[0], int(words[1]), int(words[2]), words[3], words[4])
            else:
                raise Refusal("%s line %d is damaged" % (path, number))

    def add(self, name, lo, hi, state, detail="-"):
        if name not in self.units:
            self.order.append(name)
        self.units[name] = [lo, hi, state, detail]

    def save(self):
        lines = [self.HEAD]
        lines.extend("%s %d %d %s %s\n" % (name, *self.units[name]) for name in self.order)
        lines.extend("lost %s %s\n" % entry for entry in self.lost)
        replace_file(self.path, "".join(lines))

    def in_state(self, state):
        return [name for name in self.order if self.units[name][2] == state]

    def covered(self):
        """The ranges done, merged."""
        spans = sorted((lo, hi) for lo, hi, state, _ in self.units.values() if state == "done")
        merged = []
        for lo, hi in spans:
            if merged and lo <= merged[-1][1] + 1:
                merged[-1][1] = max(merged[-1][1], hi)
            else:
                merged.append([lo, hi])
        return merged

    def highest_issued(self):
        return max((hi for lo, hi, state, _ in self.units.values()), default=None)


def gaps_of(covered, pmin, pmax):
    gaps, at = [], pmin
    for lo, hi in covered:
        if lo > at:
            gaps.append((at, min(lo - 1, pmax)))
        at = max(at, hi + 1)
    if at <= pmax:
        gaps.append((at, pmax))
    return gaps


def read_project_status(path):
    """(k, n) -> lowest p of the project's own status file."""
    lowest = {}
    try:
        f = open(path)
    except FileNotFoundError:
        return lowest
    with f:
        for line in f:
            factor = FACTOR_LINE.match(line.rstrip("\n"))
            if factor:
                p, k, n = (int(g) for g in factor.groups())
                if lowest.get((k, n), p + 1) > p:
                    lowest[(k, n)] = p
    return lowest


def write_project_status(project, lowest, complete):
    s = project.settings
    out = ["pmax=%d\npmin=%d\n" % (s["pmax"], s["pmin"])]
    out.extend("%d | %d*2^%d+1\n" % (p, k, n) for p, (k, n) in sorted((p, kn) for kn, p in lowest.items()))
    if complete:
        out.append("Done\n")
    replace_file(project.status_path, "".join(out))


# ---------------------------------------------------------------- install

# No <rsc_fpops_est> or <rsc_fpops_bound> here: create_work reads the
# template after its command line, and the template's would replace the
# generator's estimate of each unit.
INPUT_TEMPLATE = """<input_template>
    <file_info>
        <number>0</number>
        <sticky/>
        <no_delete/>
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

VERSION_XML = """<version>
    <file>
        <physical_name>%(physical)s</physical_name>
        <main_program/>
    </file>
</version>
"""

# The generator is a daemon that loops rather than a <task>: BOINC runs
# tasks only from "bin/start --cron" in a crontab, which a project started
# with bin/start alone does not have; a daemon starts and stops with the
# project's other daemons.
DAEMONS = """<!-- in config.xml, inside <daemons> -->
<daemon>
    <cmd>script_validator --app %(app)s --credit_from_wu --init_script zud_validate_init --compare_script zud_validate_compare</cmd>
</daemon>
<daemon>
    <cmd>script_assimilator --app %(app)s --script zud_assimilate</cmd>
</daemon>
<daemon>
    <cmd>zud_work_generator --loop %(period)d</cmd>
</daemon>
<!-- inside <config>: an extra replica never goes to a host that returned
     one already, so that two results of different volunteers decide a
     unit (a lazy host cannot confirm itself) -->
<one_result_per_user_per_wu>1</one_result_per_user_per_wu>
"""
# The generator's period, in seconds: a round that finds the queue full
# reads the ledger and nothing more.
GENERATOR_PERIOD = 60

PROGRAMS = {"zud_validate_init": "validate-init", "zud_validate_compare": "validate-compare",
            "zud_assimilate": "assimilate", "zud_work_generator": "work-generator"}


def result_limit(candidates):
    """The most an honest result can hold: a factor line per candidate and
    room for its checkpoints."""
    return 48 * candidates + (1 << 20)


def program_version(program):
    try:
        done = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=30,
                              stdin=subprocess.DEVNULL)
    except OSError as e:
        raise Refusal("'%s' cannot be run (%s)" % (program, e.strerror))
    match = re.search(r"([0-9]+)\.([0-9]+)", done.stdout)
    if not match:
        raise Refusal("'%s --version' names no version (give --app-version)" % program)
    return int(match.group(1)) * 100 + int(match.group(2))


def install(args):
    project = Project(args.project)
    pmin, pmax = args.range
    if pmin < 3 or pmax < pmin or pmax > HIGHEST_P:
        raise Refusal("the range must lie between 3 and %d, PMIN not above PMAX" % HIGHEST_P)
    if args.unit_hours <= 0 or args.queue < 1:
        raise Refusal("--unit-hours must be above 0 and --queue at least 1")
    if not os.path.isdir(args.project):
        raise Refusal("%s is not a folder (make the BOINC project first)" % args.project)
    if os.path.exists(project.settings_path) and not args.force:
        raise Refusal("%s already holds a search (--force replaces its settings; the ledger is kept)"
                      % project.root)
    program = args.program or shutil.which("zudsieve-boinc") or "/usr/bin/zudsieve-boinc"
    if not os.path.isfile(program):
        raise Refusal("the application '%s' is not there (give --program)" % program)
    version = args.app_version or program_version(program)
    md5 = file_md5(args.zud)
    tag = md5[:8]
    candidates = read_candidates(args.zud)     # refuse a file the program would refuse
    os.makedirs(project.folder, exist_ok=True)
    zud_copy = os.path.join(project.folder, "Zud_%s.dat" % tag)
    if not os.path.exists(zud_copy):
        shutil.copyfile(args.zud, zud_copy + ".part")
        os.replace(zud_copy + ".part", zud_copy)
    index = os.path.join(project.folder, "Zud_%s.idx" % tag)
    if not os.path.exists(index):
        build_index(zud_copy, index)
    count = sum(len(ns) for ns in candidates.ns)
    rate = args.rate
    if not rate:
        rate = measure_rate(args.measure_with or shutil.which("zudsieve") or "/usr/bin/zudsieve", zud_copy,
                            args.rate_at)
        print("Measured: %.0f p per second on one core at p=%.0f (give --rate to set it instead)."
              % (rate, args.rate_at))
    seconds_per_prime = 1.0 / rate * math.log(args.rate_at)
    settings = {"app": args.app, "tag": tag, "md5": md5, "zud": "Zud_%s.dat" % tag, "pmin": pmin, "pmax": pmax,
                "candidates": count, "nmin": candidates.nmin, "queue": args.queue,
                "unit_seconds": args.unit_hours * 3600.0, "seconds_per_prime": seconds_per_prime,
                "max_nbytes": result_limit(count), "version": version, "staged": False}
    replace_file(project.settings_path, json.dumps(settings, indent=1, sort_keys=True) + "\n")
    project._settings = settings
    # The programs BOINC's daemons call: ../bin/NAME from the working
    # folder, with nothing after NAME but what BOINC adds.
    tool = os.path.abspath(args.tool or sys.argv[0])
    bin_folder = os.path.join(project.root, "bin")
    os.makedirs(bin_folder, exist_ok=True)
    for name, command in PROGRAMS.items():
        script = ("#!/bin/sh\n# Written by zudsieve-project install: BOINC's daemons call it by this name.\n"
                  "exec %s %s %s --project %s \"$@\"\n"
                  % (shell_word(sys.executable), shell_word(tool), command, shell_word(project.root)))
        path = os.path.join(bin_folder, name)
        replace_file(path, script)
        os.chmod(path, 0o755)
    values = {"fpops_est": 1e12, "fpops_bound": 1e14, "disk_bound": max(64 << 20, 4 * os.path.getsize(args.zud)),
              "delay_bound": 14 * 86400, "max_nbytes": settings["max_nbytes"]}
    replace_file(os.path.join(project.root, "templates", "zud_in.xml"), INPUT_TEMPLATE % values)
    replace_file(os.path.join(project.root, "templates", "zud_out.xml"), OUTPUT_TEMPLATE % values)
    # The application's versions, for BOINC's update_versions: the plan
    # class "mt" (threads as --nthreads N) is the folder name's suffix.
    # BOINC's "mt" refuses hosts with fewer than two usable processors, so
    # a version without a plan class (one thread: the client's <ncpus> is
    # its 1) stands beside it; the scheduler sends a larger host the faster.
    # Two versions rather than a plan_class_spec.xml: that file would
    # replace BOINC's own "mt" for every application of the project.
    physical = "%s_%d_%s" % (args.app, version, PLATFORM)
    versions = os.path.join(project.root, "apps", args.app, "%d.%02d" % (version // 100, version % 100))
    for suffix in ("__mt", ""):
        version_folder = os.path.join(versions, PLATFORM + suffix)
        os.makedirs(version_folder, exist_ok=True)
        shutil.copyfile(program, os.path.join(version_folder, physical))
        os.chmod(os.path.join(version_folder, physical), 0o755)
        replace_file(os.path.join(version_folder, "version.xml"), VERSION_XML % {"physical": physical})
    with project.lock():
        ledger = Ledger(project.ledger_path)
        ledger.save()
        if not os.path.exists(project.status_path):
            write_project_status(project, {}, False)
    print("The search of %d..%d on %s (%d candidates) is set up in %s." % (pmin, pmax, args.zud, count,
                                                                           project.folder))
    print("The application's versions are in %s (one thread, and mt); run bin/update_versions." % versions)
    print(DAEMONS % {"app": args.app, "period": GENERATOR_PERIOD}, end="")
    return VALID


RATE_LINE = re.compile(r"Rate: ([0-9,]+) p/sec")


def measure_rate(program, zud, at, limit=120):
    """p per second of one worker of `program` (the desktop program's
    console) on the candidate file at p = `at`: the first rate it shows
    after a few seconds of sieving."""
    if not os.path.isfile(program):
        raise Refusal("no '%s' to measure the rate with (install zudsieve, give --measure-with or --rate)"
                      % program)
    with tempfile.TemporaryDirectory(prefix="zud-rate-") as folder:
        os.symlink(os.path.abspath(zud), os.path.join(folder, "Zud.dat"))
        words = [program, "--console", "--yes", "--workers", "1", "--range", "%d" % at,
                 "%d" % min(HIGHEST_P, int(at) * 2), folder]
        try:
            # Its settings (the folder chosen last) stay in the temporary
            # folder, not the admin's own.
            run = subprocess.Popen(words, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True, start_new_session=True,
                                   env=dict(os.environ, HOME=folder, XDG_CONFIG_HOME=os.path.join(folder, ".config")))
        except OSError as e:
            raise Refusal("'%s' cannot be run (%s)" % (program, e.strerror))
        rate = None
        # A program that shows nothing is stopped all the same.
        timer = threading.Timer(limit, run.terminate)
        timer.start()
        try:
            for line in run.stdout:
                match = RATE_LINE.search(line)
                if match:
                    rate = float(match.group(1).replace(",", ""))
                    break
        finally:
            timer.cancel()
            run.terminate()
            try:
                run.wait(timeout=30)
            except subprocess.TimeoutExpired:
                run.kill()
                run.wait()
    if not rate:
        raise Refusal("'%s' showed no rate within %d seconds (give --rate)" % (program, limit))
    return rate


def shell_word(text):
    return "'" + text.replace("'", "'\\''") + "'"


# ----------------------------------------------------------- work generator

def run_boinc_tool(project, words):
    done = subprocess.run(words, cwd=project.root, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        raise Transient("%s failed (%d): %s" % (" ".join(words[:2]), done.returncode,
                                                (done.stderr or done.stdout).strip()[:400]))


def stage(project, path):
    """Puts a file where the download server hands it out, under its own
    name: BOINC's bin/dir_hier_path names the place (and makes its folder).
    Not bin/stage_file: a PHP tool that some servers ship broken."""
    done = subprocess.run(["bin/dir_hier_path", os.path.basename(path)], cwd=project.root, capture_output=True,
                          text=True, stdin=subprocess.DEVNULL)
    target = done.stdout.strip()
    if done.returncode != 0 or not target:
        raise Transient("bin/dir_hier_path failed (%d): %s" % (done.returncode,
                                                              (done.stderr or done.stdout).strip()[:400]))
    target = os.path.join(project.root, target)
    if os.path.exists(target) and file_md5(target) == file_md5(path):
        return
    # A download never sees half a file: a copy beside it, renamed.
    partial = target + ".zud-part"
    shutil.copyfile(path, partial)
    os.chmod(partial, 0o644)
    os.replace(partial, target)


def create_unit(project, name, lo, hi):
    s = project.settings
    units = os.path.join(project.folder, "units")
    os.makedirs(units, exist_ok=True)
    range_path = os.path.join(units, name + ".range")
    replace_file(range_path, "%d %d\n" % (lo, hi))
    if not s.get("staged"):
        stage(project, os.path.join(project.folder, s["zud"]))
        s["staged"] = True
        replace_file(project.settings_path, json.dumps(s, indent=1, sort_keys=True) + "\n")
    stage(project, range_path)
    fpops, credit = project.unit_costs(lo, hi)
    run_boinc_tool(project, ["bin/create_work", "--appname", s["app"], "--wu_name", name,
                             "--wu_template", "templates/zud_in.xml", "--result_template", "templates/zud_out.xml",
                             "--rsc_fpops_est", "%.0f" % fpops, "--rsc_fpops_bound", "%.0f" % (fpops * 20),
                             "--credit", "%.2f" % credit, s["zud"], name + ".range"])


def work_generator(args):
    if args.loop:
        return generator_daemon(args)
    project = Project(args.project)
    s = project.settings
    queue = args.queue if args.queue else s["queue"]
    made = 0
    with project.lock():
        ledger = Ledger(project.ledger_path)
        while len(ledger.in_state("issued")) < queue:
            failed = ledger.in_state("failed")
            if failed:
                old = failed[0]
                lo, hi = ledger.units[old][:2]
                base = "zud_%s_%d_%d" % (UNIT_NAME.match(old).group(1), lo, hi)
                again = 1 + sum(1 for name in ledger.order if name.startswith(base + "_r"))
                name = "%s_r%d" % (base, again)
            else:
                top = ledger.highest_issued()
                lo = s["pmin"] if top is None else top + 1
                if lo > s["pmax"]:
                    break
                hi = min(lo + project.unit_width(lo) - 1, s["pmax"])
                # No sliver of a unit at the end of the search.
                if s["pmax"] - hi < project.unit_width(lo) // 4:
                    hi = s["pmax"]
                name, old = "zud_%s_%d_%d" % (s["tag"], lo, hi), None
            create_unit(project, name, lo, hi)
            if old:
                ledger.units[old][2:] = ["reissued", name]
            ledger.add(name, lo, hi, "issued")
            ledger.save()
            made += 1
    print("%d work units made; %d waiting" % (made, len(Ledger(project.ledger_path).in_state("issued"))))
    return VALID


def generator_daemon(args):
    """The generator as one of the project's daemons: a round every
    --loop seconds, until bin/stop (SIGHUP, or its stop_daemons file). A
    round that fails is logged and tried again next time."""
    project = Project(args.project)
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(0))
    while not os.path.exists(os.path.join(project.root, "stop_daemons")):
        try:
            project._settings = None
            work_generator(argparse.Namespace(project=args.project, queue=args.queue, loop=None))
        except (Refusal, Transient, OSError) as e:
            print("zudsieve-project: %s" % e, file=sys.stderr)
        sys.stdout.flush()
        sys.stderr.flush()
        time.sleep(args.loop)
    return VALID


# -------------------------------------------------------------- validation

def index_and_limit(args, tag):
    if args.project:
        project = Project(args.project)
        return load_index(project.folder, tag), project.settings["max_nbytes"]
    return load_index(args.dir, tag), args.limit


def validate_init(args):
    for path in args.files:
        name, tag, pmin, pmax = unit_of(path, args.wu)
        index, limit = index_and_limit(args, tag)
        check_result(path, pmin, pmax, index, limit)
    return VALID


def validate_compare(args):
    if len(args.files) % 2 != 0 or not args.files:
        raise Refusal("validate-compare takes the files of two results")
    half = len(args.files) // 2
    for a, b in zip(args.files[:half], args.files[half:]):
        summaries = []
        for path in (a, b):
            name, tag, pmin, pmax = unit_of(path, args.wu)
            index, limit = index_and_limit(args, tag)
            summaries.append(check_result(path, pmin, pmax, index, limit))
        first, second = summaries
        if (first.count, first.factor_hash) != (second.count, second.factor_hash):
            print("%s and %s record different factors" % (a, b), file=sys.stderr)
            return INVALID
        if first.digest != second.digest:
            print("%s and %s have different work digests (%s, %s): one of them did not search every prime"
                  % (a, b, first.digest, second.digest), file=sys.stderr)
            return INVALID
    return VALID


# -------------------------------------------------------------- assimilate

def unit_name_by_id(project, wu_id):
    """Older servers name a failed unit only by its database id; the
    project's own database, whose access config.xml holds, knows its name.
    None when it cannot be asked or does not answer with a unit's name."""
    try:
        config = ET.parse(os.path.join(project.root, "config.xml")).getroot().find("config")
    except (OSError, ET.ParseError):
        return None
    if config is None or not wu_id.isdigit():
        return None

    def field(tag):
        node = config.find(tag)
        return (node.text or "").strip() if node is not None else ""

    if not field("db_name"):
        return None
    env = dict(os.environ)
    if field("db_passwd"):
        env["MYSQL_PWD"] = field("db_passwd")   # not on the command line, where ps shows it
    command = ["mysql", "--batch", "--skip-column-names", "-h", field("db_host") or "localhost",
               "-u", field("db_user") or "root", field("db_name"),
               "-e", "select name from workunit where id=%d" % int(wu_id)]
    try:
        done = subprocess.run(command, capture_output=True, text=True, env=env, timeout=60,
                              stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        return None
    name = done.stdout.strip()
    return name if done.returncode == 0 and UNIT_NAME.fullmatch(name) else None


def assimilate_failure(project, words):
    """--error N WU_ID, or --error N WU_NAME WU_ID BATCH: the unit's range
    goes back to be issued again."""
    mask = words[0] if words else "?"
    name = next((w for w in words[1:] if UNIT_NAME.fullmatch(w)), None)
    if name is None and len(words) == 2:
        name = unit_name_by_id(project, words[1])
    with project.lock():
        ledger = Ledger(project.ledger_path)
        if name is None:
            # An id the database could not name is kept, and the unit
            # stays "issued" in the ledger, shown by status as waiting.
            ledger.lost.append((words[1] if len(words) > 1 else "?", mask))
            print("work unit %s failed (error mask %s); its name is not known" % (ledger.lost[-1][0], mask))
        else:
            match = UNIT_NAME.fullmatch(name)
            lo, hi = int(match.group(2)), int(match.group(3))
            done = any(a <= lo and hi <= b for a, b in ledger.covered())
            if not done and (name not in ledger.units or ledger.units[name][2] == "issued"):
                ledger.add(name, lo, hi, "failed", mask)
                print("work unit %s failed (error mask %s): %d..%d will be issued again" % (name, mask, lo, hi))
            else:
                print("work unit %s failed (error mask %s); its range is done or issued again" % (name, mask))
        ledger.save()
    return VALID


def assimilate(args):
    project = Project(args.project)
    words = list(args.words)
    if words and words[0] == "--error":
        return assimilate_failure(project, words[1:])
    if words and re.fullmatch(r"[0-9]+", words[0]) and not os.path.exists(words[0]):
        words = words[1:]       # the work unit's id
    if not words:
        raise Refusal("assimilate takes WU_ID and the canonical result's files, or --error N ...")
    s = project.settings
    found = []
    for path in words:
        try:
            name, tag, pmin, pmax = unit_of(path)
        except Refusal:
            try:
                pmin, pmax = read_header_range(path)
            except (Refusal, Transient) as e:
                print("zudsieve-project: %s" % e, file=sys.stderr)
                return assimilate_failure(project, ["unreadable", os.path.basename(path)])
            name, tag = "zud_%s_%d_%d" % (s["tag"], pmin, pmax), s["tag"]
        try:
            summary = check_result(path, pmin, pmax, load_index(project.folder, tag), s["max_nbytes"], keep=True)
        except (Refusal, Transient) as e:
            # A canonical result that does not hold up is a failed unit:
            # recorded, and its range issued again.
            print("zudsieve-project: %s" % e, file=sys.stderr)
            return assimilate_failure(project, ["invalid", name])
        found.append((name, pmin, pmax, os.path.basename(path), summary.factors))
    with project.lock():
        ledger = Ledger(project.ledger_path)
        lowest = read_project_status(project.status_path)
        for name, pmin, pmax, result, factors in found:
            for p, k, n in factors:
                if lowest.get((k, n), p + 1) > p:
                    lowest[(k, n)] = p
            ledger.add(name, pmin, pmax, "done", result)
        complete = not gaps_of(ledger.covered(), s["pmin"], s["pmax"])
        write_project_status(project, lowest, complete)
        ledger.save()
        record_throughput(project, [(pmin, pmax) for _, pmin, pmax, _, _ in found])
    for name, pmin, pmax, _, factors in found:
        print("work unit %s (%d..%d): %d factors" % (name, pmin, pmax, len(factors)))
    return VALID


# ------------------------------------------------------------- sieve depth
#
# A candidate with no factor below p1 has one in [p1, p2] with probability
# about 1 - ln p1 / ln p2 (Mertens' third theorem: the product of 1 - 1/q
# over the primes q up to x is about e^-gamma / ln x, and the quotient of two
# such products leaves ln p1 / ln p2). A stretch dp at p holds dp / ln p
# primes and survivors * dp / (p ln p) factors, so a factor costs
# seconds_per_prime * p / survivors seconds of one core: the program's own
# estimate (run/sieve_depth.h), here for the whole search.

THROUGHPUT_NAME = "throughput"      # "EPOCH LO HI" per unit assimilated
RECENT_SECONDS = 7 * 86400
MOST_STRETCHES = 8
PLOT_HINT = ("--plot needs matplotlib, which is not installed: on Debian, "
             "apt-get install python3-matplotlib (or pip install matplotlib)")


def factor_probability(p1, p2):
    if p2 <= p1:
        return 0.0
    return 1.0 - math.log(max(p1, 3)) / math.log(max(p2, 3))


def seconds_per_factor(seconds_per_prime, survivors, p):
    return seconds_per_prime * p / survivors if survivors > 0 else float("inf")


def depth_where_factor_takes(seconds, seconds_per_prime, candidates, p1):
    """The p at which a factor costs `seconds` of one core, for the
    candidates left at p1; p1 when it costs that already."""
    def cost(p):
        return seconds_per_factor(seconds_per_prime, candidates * (1 - factor_probability(p1, p)), p)
    if cost(p1) >= seconds:
        return p1
    if cost(HIGHEST_P) < seconds:
        return HIGHEST_P
    lo, hi = math.log(max(p1, 1)), math.log(HIGHEST_P)
    for _ in range(100):
        mid = (lo + hi) / 2
        lo, hi = (mid, hi) if cost(int(math.exp(mid))) < seconds else (lo, mid)
    return int(math.exp(hi))


def record_throughput(project, units, now=None):
    """Appends the units just assimilated, with the time, for the recent
    throughput that status reports."""
    now = int(time.time() if now is None else now)
    with open(os.path.join(project.folder, THROUGHPUT_NAME), "a") as f:
        f.writelines("%d %d %d\n" % (now, lo, hi) for lo, hi in units)


def recent_throughput(project, now=None):
    """Primes a second over the units assimilated in the last week, from
    the first of them to the last; None with fewer than two."""
    now = time.time() if now is None else now
    entries = []
    try:
        with open(os.path.join(project.folder, THROUGHPUT_NAME)) as f:
            for line in f:
                words = line.split()
                if len(words) == 3 and all(w.isdigit() for w in words):
                    entries.append(tuple(int(w) for w in words))
    except FileNotFoundError:
        return None
    entries = sorted(e for e in entries if now - e[0] <= RECENT_SECONDS)
    if len(entries) < 2 or entries[-1][0] <= entries[0][0]:
        return None
    primes = sum(expected_primes(lo, hi) for _, lo, hi in entries[1:])
    return primes / (entries[-1][0] - entries[0][0])


def depth_stretches(project, ledger, below):
    """Per stretch of the part done without a gap: (lo, hi, found, expected,
    left), up to MOST_STRETCHES stretches of whole units."""
    s = project.settings
    units = sorted((lo, hi) for lo, hi, state, _ in ledger.units.values() if state == "done" and hi < below)
    if not units:
        return []
    per = -(-len(units) // MOST_STRETCHES)
    bounds = [(units[i][0], units[min(i + per, len(units)) - 1][1]) for i in range(0, len(units), per)]
    found_at = sorted(read_project_status(project.status_path).values())
    left = s["candidates"]
    stretches = []
    for lo, hi in bounds:
        found = bisect.bisect_right(found_at, hi) - bisect.bisect_left(found_at, lo)
        expected = left * factor_probability(lo, hi + 1)
        left -= found
        stretches.append((lo, hi, found, expected, left))
    return stretches


def duration_words(seconds):
    minutes = seconds / 60
    if minutes < 1:
        return "less than a minute"
    if minutes < 1.5:
        return "a minute"
    if minutes < 90:
        return "%.0f minutes" % minutes
    if minutes < 48 * 60:
        return "%.0f hours" % (minutes / 60)
    if minutes < 730 * 24 * 60:
        return "{:,.0f} days".format(minutes / 1440)
    return "{:,.0f} years".format(minutes / (365.25 * 1440))


def report_depth(project, ledger, below, test_seconds, plot):
    s = project.settings
    if test_seconds is not None and not test_seconds > 0:
        raise Refusal("--test-seconds needs the seconds a test takes, above 0")
    stretches = depth_stretches(project, ledger, below)
    if stretches:
        print("factors per stretch of p (found, expected, candidates left after it):")
        for lo, hi, found, expected, left in stretches:
            print("  %d..%d: %d found, %.1f expected, %d left" % (lo, hi, found, expected, left))
    left = stretches[-1][4] if stretches else s["candidates"]
    if test_seconds is not None:
        depth = depth_where_factor_takes(test_seconds, s["seconds_per_prime"], left, below)
        cost = seconds_per_factor(s["seconds_per_prime"], left, below)
        print("a factor costs about %.3g s of one core at p=%d; a test takes %g s" % (cost, below, test_seconds))
        if depth <= below:
            print("sieving has stopped paying: a factor costs more than a test from about p=%d on" % depth)
        else:
            rate = recent_throughput(project)
            primes = expected_primes(below, depth)
            print("sieving pays up to about p=%d (%.3g primes more)" % (depth, primes))
            print("at the recent throughput (%s) that takes about %s" % (
                "%.3g primes a second" % rate, duration_words(primes / rate)) if rate else
                "no recent throughput yet (fewer than two units done in the last week)")
    if plot:
        return plot_depth(plot, stretches, s["pmin"])
    return VALID


def plot_depth(path, stretches, pmin):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print(PLOT_HINT, file=sys.stderr)
        return INVALID
    ends, found, expected = [pmin], [0], [0.0]
    for lo, hi, f, e, _ in stretches:
        ends.append(hi)
        found.append(found[-1] + f)
        expected.append(expected[-1] + e)
    figure, axes = plt.subplots(figsize=(7, 4))
    axes.plot(ends, found, marker="o", label="factors found")
    axes.plot(ends, expected, marker=".", linestyle="--", label="factors expected")
    axes.set_xlabel("p")
    axes.set_ylabel("factors, from the start of the search")
    axes.legend()
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)
    print("plot written to %s" % path)
    return VALID


# ------------------------------------------------------------ status, next

def status(args):
    project = Project(args.project)
    s = project.settings
    ledger = Ledger(project.ledger_path)
    covered = ledger.covered()
    gaps = gaps_of(covered, s["pmin"], s["pmax"])
    print("search: %d..%d, candidate file %s" % (s["pmin"], s["pmax"], s["zud"]))
    print("done: " + (", ".join("%d..%d" % (lo, hi) for lo, hi in covered) or "nothing"))
    print("gaps: " + (", ".join("%d..%d" % gap for gap in gaps) or "none"))
    below = gaps[0][0] if gaps else s["pmax"] + 1
    print("everything below p=%d is done" % below)
    for state in ("issued", "failed"):
        names = ledger.in_state(state)
        print("%s: %d%s" % ("waiting" if state == "issued" else "failed, to issue again", len(names),
                           "".join("\n  %s %d..%d" % (n, *ledger.units[n][:2]) for n in names)))
    if ledger.lost:
        print("failed, name unknown (BOINC's work unit ids): " + ", ".join(i for i, _ in ledger.lost))
    if not one_result_per_host(project):
        print("warning: config.xml lacks <one_result_per_user_per_wu>1</one_result_per_user_per_wu>: an extra "
              "replica may go to a host that returned one already, and two results of one host then decide "
              "a unit", file=sys.stderr)
    return report_depth(project, ledger, below, args.test_seconds, args.plot)


def one_result_per_host(project):
    """Whether the project's config.xml gives each volunteer one replica
    of a unit at most."""
    try:
        config = ET.parse(os.path.join(project.root, "config.xml")).getroot().find("config")
    except (OSError, ET.ParseError):
        return False
    node = config.find("one_result_per_user_per_wu") if config is not None else None
    return node is not None and (node.text or "").strip() != "0"     # <one_result_per_user_per_wu/> is 1


def reissue(args):
    """For servers that name a failed unit only by its id: the admin puts
    a waiting unit's range back by name."""
    project = Project(args.project)
    with project.lock():
        ledger = Ledger(project.ledger_path)
        for name in args.units:
            if name not in ledger.units or ledger.units[name][2] != "issued":
                raise Refusal("%s is not a waiting work unit of the ledger" % name)
            ledger.units[name][2:] = ["failed", "admin"]
        ledger.save()
    print("%d work units will be issued again" % len(args.units))
    return VALID


def next_zud(args):
    project = Project(args.project)
    candidates = read_candidates(os.path.join(project.folder, project.settings["zud"]))
    candidates.remove(read_project_status(project.status_path).keys())
    replace_file(args.output, candidates.text().encode("latin-1"))
    print("%s: the search's candidate file without the factored n" % args.output)
    return VALID


# ------------------------------------------------------------------ split

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
    --result_template templates/zud_out.xml --rsc_fpops_est %(fpops_est).0f --rsc_fpops_bound %(fpops_bound).0f \\
    %(zud)s %(range)s
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
    candidates = read_candidates(args.zud)       # refuse a file the program would refuse
    with open(args.zud, "rb") as f:
        data = f.read()
    tag = candidate_tag(data)
    zud_name = "Zud_%s.dat" % tag
    os.makedirs(os.path.join(args.outdir, "templates"), exist_ok=True)
    replace_file(os.path.join(args.outdir, zud_name), data)
    build_index(os.path.join(args.outdir, zud_name), os.path.join(args.outdir, "Zud_%s.idx" % tag))
    primes = expected_primes(args.pmin, min(args.pmax, args.pmin + args.width - 1))
    count = sum(len(ns) for ns in candidates.ns)
    fpops_est = max(primes * SECONDS_PER_PRIME_PER_ROOT * math.sqrt(max(count, 1)) * REFERENCE_FLOPS, 1e9)
    values = {"fpops_est": fpops_est, "fpops_bound": fpops_est * 20,
              "disk_bound": max(64 << 20, 4 * len(data)), "delay_bound": 14 * 86400,
              "max_nbytes": result_limit(count)}
    replace_file(os.path.join(args.outdir, "templates", "zud_in.xml"), INPUT_TEMPLATE % values)
    replace_file(os.path.join(args.outdir, "templates", "zud_out.xml"), OUTPUT_TEMPLATE % values)
    script = [CREATE_WORK_HEAD % {"pmin": args.pmin, "pmax": args.pmax, "zud": zud_name}]
    units = 0
    for lo, hi in unit_ranges(args.pmin, args.pmax, args.width):
        name = "zud_%s_%d_%d" % (tag, lo, hi)
        range_name = name + ".range"
        replace_file(os.path.join(args.outdir, range_name), "%d %d\n" % (lo, hi))
        script.append(CREATE_WORK_UNIT % {"range": range_name, "app": args.app, "name": name,
                                          "zud": zud_name, "fpops_est": fpops_est, "fpops_bound": fpops_est * 20})
        units += 1
    script_path = os.path.join(args.outdir, "create_work.sh")
    replace_file(script_path, "".join(script))
    os.chmod(script_path, 0o755)
    print("%d work units of %d..%d in %s" % (units, args.pmin, args.pmax, args.outdir))
    return VALID


# -------------------------------------------------------------- commands

def parser():
    top = argparse.ArgumentParser(prog="zudsieve-project",
                                  description="The project's side of ZudSieve on BOINC.")
    commands = top.add_subparsers(dest="command", required=True)

    p = commands.add_parser("install", help="set a BOINC project up for a search")
    p.add_argument("project", metavar="PROJECT_DIR")
    p.add_argument("--zud", required=True, metavar="Zud.dat", help="the search's candidate file")
    p.add_argument("--range", required=True, nargs=2, type=int, metavar=("PMIN", "PMAX"))
    p.add_argument("--app", default=APP_NAME, help="the BOINC application's name")
    p.add_argument("--program", help="the BOINC application to hand out (default: zudsieve-boinc on PATH)")
    p.add_argument("--app-version", type=int, help="its version as BOINC numbers it (124 for 1.24)")
    p.add_argument("--queue", type=int, default=20, help="work units kept waiting")
    p.add_argument("--unit-hours", type=float, default=4.0, help="run time of a unit on one reference core")
    p.add_argument("--rate", type=float,
                   help="p per second of one reference core (default: measured with zudsieve for a few seconds)")
    p.add_argument("--measure-with", metavar="PROGRAM", help="the zudsieve that measures the rate (default: PATH's)")
    p.add_argument("--rate-at", type=float, default=1e12, help="the p at which --rate was measured")
    p.add_argument("--force", action="store_true", help="replace the settings of a search set up before")
    p.add_argument("--tool", help=argparse.SUPPRESS)
    p.set_defaults(run=install)

    p = commands.add_parser("work-generator", help="keep units waiting (bin/zud_work_generator)")
    p.add_argument("--project", required=True, metavar="PROJECT_DIR")
    p.add_argument("--queue", type=int, help="units to keep waiting (default: the project's setting)")
    p.add_argument("--loop", type=float, metavar="SECONDS", help="run as a daemon: a round every SECONDS")
    p.set_defaults(run=work_generator)

    for name, run, text in [("validate-init", validate_init, "check results (bin/zud_validate_init)"),
                            ("validate-compare", validate_compare, "compare two results (bin/zud_validate_compare)")]:
        p = commands.add_parser(name, help=text)
        p.add_argument("files", metavar="FILE", nargs="+")
        p.add_argument("--project", metavar="PROJECT_DIR", help="the project install set up")
        p.add_argument("--dir", default=".", help="without --project: the folder split wrote")
        p.add_argument("--limit", type=int, default=0, help="without --project: the largest result, in bytes")
        p.add_argument("--wu", help="the work unit's name, when the files' names do not begin with it")
        p.set_defaults(run=run)

    p = commands.add_parser("assimilate", help="record a unit's canonical result or its failure (bin/zud_assimilate)")
    p.add_argument("--project", required=True, metavar="PROJECT_DIR")
    p.add_argument("words", metavar="WU_ID FILE... | --error N [WU_NAME] WU_ID [BATCH]", nargs="*")
    p.set_defaults(run=assimilate)

    p = commands.add_parser("status", help="the ranges done, the gaps, the failures, the factors per stretch")
    p.add_argument("project", metavar="PROJECT_DIR")
    p.add_argument("--test-seconds", type=float, metavar="S",
                   help="seconds one primality test takes on one reference core: where sieving stops paying")
    p.add_argument("--plot", metavar="FILE.png", help="draw the factors found and expected over p (matplotlib)")
    p.set_defaults(run=status)

    p = commands.add_parser("reissue", help="put waiting units back, to be issued again")
    p.add_argument("project", metavar="PROJECT_DIR")
    p.add_argument("units", metavar="WU_NAME", nargs="+")
    p.set_defaults(run=reissue)

    p = commands.add_parser("next-zud", help="write the candidate file without the factored n")
    p.add_argument("project", metavar="PROJECT_DIR")
    p.add_argument("output", metavar="OUTPUT")
    p.set_defaults(run=next_zud)

    p = commands.add_parser("split", help="make the work units of a range by hand")
    p.add_argument("zud", metavar="Zud.dat")
    p.add_argument("pmin", metavar="PMIN", type=int)
    p.add_argument("pmax", metavar="PMAX", type=int)
    p.add_argument("width", metavar="WIDTH", type=int, help="p per work unit")
    p.add_argument("outdir", metavar="OUTDIR")
    p.add_argument("--app", default=APP_NAME, help="the BOINC application's name")
    p.set_defaults(run=split)
    return top


# Servers before 2024 take any exit but 0 for "invalid": a fault that may
# pass is tried again here before it is reported as one.
TRANSIENT_WAITS = (1.0, 2.0)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    # What follows the assimilator's options is BOINC's, "--error" too.
    if len(argv) >= 3 and argv[0] == "assimilate" and argv[1] == "--project":
        argv = argv[:3] + ["--"] + argv[3:]
    args = parser().parse_args(argv)
    validating = args.command.startswith("validate")
    try:
        for wait in TRANSIENT_WAITS if validating else ():
            try:
                return args.run(args)
            except Transient:
                time.sleep(wait)
        return args.run(args)
    except Transient as e:
        if not validating:
            print("zudsieve-project: %s" % e, file=sys.stderr)
            return INVALID
        print("zudsieve-project: %s; try again later" % e, file=sys.stderr)
        return RETRY
    except Refusal as e:
        print("zudsieve-project: %s" % e, file=sys.stderr)
        return INVALID
    except OSError as e:
        print("zudsieve-project: %s" % e, file=sys.stderr)
        return RETRY if validating else INVALID


if __name__ == "__main__":
    sys.exit(main())
