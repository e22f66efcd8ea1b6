"""The project's tools: work units that tile a range, results checked with
exact arithmetic, replicas compared, results merged into the next Zud.dat."""

import json
import math
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "project"))
import zudsieve_project as zp  # noqa: E402

TEST_DATA = os.environ.get("ZUD_TEST_DATA", os.path.join(HERE, "..", "testdata"))
SMALL_ZUD = os.path.join(TEST_DATA, "small_Zud.dat")
# The BOINC application, where the build made one (the sanitizer builds
# that leave it out skip the checks against the program's own result).
BOINC_APP = os.environ.get("ZUD_BOINC_BINARY", "")
BOINC_MODE = os.path.isfile(BOINC_APP)
# The desktop program, whose console measures the rate.
SIEVE_APP = os.environ.get("ZUD_SIEVE_BINARY", "")
TOOL = os.path.join(HERE, "..", "..", "project", "zudsieve_project.py")
SMALL_NMIN = 100


def tool(*args, cwd=None):
    done = subprocess.run([sys.executable, TOOL, *args], cwd=cwd, capture_output=True, text=True)
    return done.returncode, done.stderr


def tool_output(*args):
    done = subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def reference_factors(candidates, pmin, pmax):
    """The first factor of every candidate in [pmin, pmax], found by trial
    of every prime: what one sieve pass records."""
    found, factored = [], set()
    for p in range(max(pmin, 3), pmax + 1):
        if not zp.is_prime(p):
            continue
        for k, ns in zip(candidates.ks, candidates.ns):
            for n in sorted(ns):
                if (k, n) not in factored and zp.divides(p, k, n):
                    factored.add((k, n))
                    found.append((p, k, n))
    return found


def reference_digest(pmin, below, nmin=SMALL_NMIN):
    """The digest line the sieve writes for the primes of [pmin, below):
    2^-nmin mod p of each, mixed with p, summed."""
    total, count = 0, 0
    for p in range(max(pmin, 3), below):
        if zp.is_prime(p):
            total = (total + zp.mix64(zp.mix64(p) ^ pow(pow(2, nmin, p), -1, p))) % 2**64
            count += 1
    return "digest=%016x primes=%d below=%d\n" % (total, count, below)


def status_text(pmin, pmax, factors, tail="Done\n", checkpoints=(), digest=None):
    """A result as the BOINC mode writes it; before a final "Done" the
    digest line of the whole range (or `digest`)."""
    lines = ["pmax=%d\n" % pmax, "pmin=%d\n" % pmin]
    for i, (p, k, n) in enumerate(factors):
        if i in checkpoints:
            lines.append("pmin=%d\n" % p)
        lines.append("%d | %d*2^%d+1\n" % (p, k, n))
    if tail.endswith("Done\n"):
        tail = tail[:-5] + (digest if digest is not None else reference_digest(pmin, pmax + 1)) + "Done\n"
    return "".join(lines) + tail


def boinc_run(folder, zud, pmin, pmax, threads=1, isa=None):
    """The BOINC mode, standalone, on a unit: its ZudStatus.dat."""
    os.makedirs(folder)
    shutil.copy(zud, os.path.join(folder, "Zud.dat"))
    with open(os.path.join(folder, "range"), "w") as f:
        f.write("%d %d\n" % (pmin, pmax))
    env = dict(os.environ)
    env.pop("ZUDSIEVE_ISA", None)
    if isa:
        env["ZUDSIEVE_ISA"] = isa
    done = subprocess.run([BOINC_APP, "--nthreads", str(threads)], cwd=folder, env=env,
                          capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=300)
    assert done.returncode == 0, done.stderr
    with open(os.path.join(folder, "ZudStatus.dat")) as f:
        return f.read()


class Folder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zudproject-")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)
        return self.path(name)


class CandidateFileTest(Folder):
    def test_reads_and_writes_as_the_program_does(self):
        with open(SMALL_ZUD) as f:
            original = f.read()
        self.assertEqual(zp.read_candidates(SMALL_ZUD).text(), original)
        # Absolute n, blank lines that reset the running value, a k left
        # without n, surplus headers: the program's reading rules.
        odd = self.write("odd.dat", "2\n10\n90\nk=3\n12\n+6\n\n+30\n50\nk=7\nk=9\n11\n")
        c = zp.read_candidates(odd)
        self.assertEqual((c.ks, c.ns), ([3, 7], [{12, 18, 30, 50}, set()]))
        self.assertEqual(c.text(), "2\n10\n90\nk=3\n12\n+6\n+12\n+20\nk=7\n")

    def test_refuses_what_the_program_refuses(self):
        for text, words in [("-2\n1\n9\nk=3\n", "bad first line"), ("1\n9\n1\nk=3\n", "bad range of n"),
                            ("1\n1\n9\n5\n", "bad k value at line 4"), ("2\n1\n9\nk=3\n4\n", "insufficient k's"),
                            ("1\n1\n9\nk=3\n10\n", "for k=3, there is n=10")]:
            with self.assertRaisesRegex(zp.Refusal, words):
                zp.read_candidates(self.write("bad.dat", text))


class SplitTest(Folder):
    def test_units_tile_the_range_and_carry_their_templates(self):
        cases = [(1000, 1000, 7), (3, 100, 7), (10**12, 10**12 + 99, 25), (5, 2**62 - 1, 2**61)]
        for index, (pmin, pmax, width) in enumerate(cases):
            out = self.path("units-%d" % index)
            self.assertEqual(tool("split", SMALL_ZUD, str(pmin), str(pmax), str(width), out)[0], 0)
            ranges = []
            for name in sorted(os.listdir(out)):
                if name.endswith(".range"):
                    with open(os.path.join(out, name)) as f:
                        lo, hi = map(int, f.read().split())
                    self.assertEqual(name, "zud_%s_%d_%d.range" % (name[4:12], lo, hi))
                    ranges.append((lo, hi))
            ranges.sort()
            self.assertEqual(ranges[0][0], pmin)
            self.assertEqual(ranges[-1][1], pmax)
            for (lo, hi), (next_lo, _) in zip(ranges, ranges[1:]):
                self.assertEqual(next_lo, hi + 1)
            self.assertTrue(all(hi - lo + 1 <= width for lo, hi in ranges))
            with open(os.path.join(out, "create_work.sh")) as f:
                script = f.read()
            self.assertEqual(script.count("bin/create_work"), len(ranges))
            self.assertEqual(script.count("--rsc_fpops_est "), len(ranges))
        with open(os.path.join(out, "templates", "zud_in.xml")) as f:
            wu = f.read()
        self.assertEqual(wu.count("<copy_file/>"), 2)
        self.assertIn("<min_quorum>2</min_quorum>", wu)
        self.assertIn("<open_name>range</open_name>", wu)
        self.assertNotIn("rsc_fpops", wu)
        with open(os.path.join(out, "templates", "zud_out.xml")) as f:
            self.assertIn("<open_name>ZudStatus.dat</open_name>\n            <copy_file/>", f.read())
        with open(SMALL_ZUD, "rb") as f:
            tag = zp.candidate_tag(f.read())
        self.assertTrue(os.path.exists(os.path.join(out, "Zud_%s.dat" % tag)))

    def test_refuses_ranges_the_program_cannot_sieve(self):
        for args in [("0", "100", "10"), ("100", "99", "10"), ("1", str(2**62), "10"), ("1", "100", "0")]:
            code, error = tool("split", SMALL_ZUD, *args, self.path("out"))
            self.assertEqual(code, 1, args)
            self.assertTrue(error.startswith("zudsieve-project: "))


class UnitFolder(Folder):
    """A work unit of small_Zud.dat and the factors of its range."""
    PMIN, PMAX = 1000, 4000

    def setUp(self):
        super().setUp()
        self.assertEqual(tool("split", SMALL_ZUD, str(self.PMIN), str(self.PMAX), "3001", self.path("wu"))[0], 0)
        self.unit = [n[:-6] for n in os.listdir(self.path("wu")) if n.endswith(".range")][0]
        self.candidates = zp.read_candidates(SMALL_ZUD)
        self.factors = reference_factors(self.candidates, self.PMIN, self.PMAX)
        self.assertGreater(len(self.factors), 20)

    def result(self, text, index=0):
        return self.write("%s_%d_r1234_0" % (self.unit, index), text)

    def init(self, *files):
        return tool("validate-init", "--dir", self.path("wu"), *files)


class ValidateTest(UnitFolder):
    def test_a_sound_result_is_valid_with_its_restarts(self):
        self.assertEqual(self.init(self.result(status_text(self.PMIN, self.PMAX, self.factors)))[0], 0)
        restarted = status_text(self.PMIN, self.PMAX, self.factors, checkpoints=(3, 4, 10), tail="pmin=4001\nDone\n")
        self.assertEqual(self.init(self.result(restarted, 1))[0], 0)
        # Named elsewhere: the work unit comes from --wu.
        other = self.write("upload.dat", restarted)
        self.assertEqual(tool("validate-init", "--dir", self.path("wu"), "--wu", self.unit, other)[0], 0)
        self.assertEqual(tool("validate-init", "--dir", self.path("wu"), other)[0], 1)

    def test_each_fault_makes_it_invalid(self):
        f = self.factors
        p, k, n = f[5]
        non_candidate = next(n for n in range(1, 3000) if not self.candidates.has(k, n))
        composite = next(q for q in range(self.PMIN, self.PMAX) if not zp.is_prime(q))
        # A true factor of a number that already has a lower one: each
        # (k, n) is removed once, by its lowest factor.
        second = next((q, k2, n2) for p2, k2, n2 in f for q in range(p2 + 1, self.PMAX + 1)
                      if (k2 * pow(2, n2, q) + 1) % q == 0 and zp.is_prime(q))
        cases = {
            "one (k, n) under two primes": status_text(self.PMIN, self.PMAX, sorted(f + [second])),
            "other range": status_text(self.PMIN + 1, self.PMAX, f),
            "no Done": status_text(self.PMIN, self.PMAX, f, tail=""),
            "Done twice": "pmax=%d\npmin=%d\nDone\n" % (self.PMAX, self.PMIN) + status_text(self.PMIN, self.PMAX, f)[20:],
            "stopped": status_text(self.PMIN, self.PMAX, f, tail="pmin=3999\n"),
            "descending": status_text(self.PMIN, self.PMAX, f[:5] + [f[6], f[5]] + f[7:]),
            "twice": status_text(self.PMIN, self.PMAX, f + [f[-1]]),
            "false factor": status_text(self.PMIN, self.PMAX, f[:5] + [(p + 2, k, n)] + f[6:]),
            "composite": status_text(self.PMIN, self.PMAX, [(composite, 1, 1)]),
            "not a candidate": status_text(self.PMIN, self.PMAX, f[:5] + [(p, k, non_candidate)] + f[6:]),
            "outside": status_text(self.PMIN, self.PMAX, f + [(4001, 5, 1)]),
            "garbage": status_text(self.PMIN, self.PMAX, f).replace("Done", "hello\nDone"),
            "resume point outside": status_text(self.PMIN, self.PMAX, f).replace("Done", "pmin=4002\nDone"),
            # Lazy: nothing sieved, or a digest that stops short of pmax.
            "nothing sieved": "pmax=%d\npmin=%d\nDone\n" % (self.PMAX, self.PMIN),
            "no digest": status_text(self.PMIN, self.PMAX, f, digest=""),
            "digest stops short": status_text(self.PMIN, self.PMAX, f[:3], tail="pmin=1999\nDone\n",
                                              digest=reference_digest(self.PMIN, 2000)),
            "number of a million digits": status_text(self.PMIN, self.PMAX, f).replace(
                "Done", "1" * 10**6 + " | 3*2^5+1\nDone"),
        }
        for index, (fault, text) in enumerate(cases.items()):
            code, error = self.init(self.result(text, index))
            self.assertEqual(code, 1, fault)
            self.assertTrue(error.startswith("zudsieve-project: "), (fault, error[-300:]))

    def test_what_may_pass_is_retried(self):
        self.assertEqual(self.init(self.path(self.unit + "_0_r1_0"))[0], 3)
        for suffix in ("dat", "idx"):
            os.remove(os.path.join(self.path("wu"), "Zud_%s.%s" % (self.unit[4:12], suffix)))
        self.assertEqual(self.init(self.result(status_text(self.PMIN, self.PMAX, self.factors)))[0], 3)

    def test_replicas_agree_on_the_same_factors_in_any_order(self):
        a = self.result(status_text(self.PMIN, self.PMAX, self.factors), 0)
        b = self.result(status_text(self.PMIN, self.PMAX, self.factors, checkpoints=(2, 7)), 1)
        c = self.result(status_text(self.PMIN, self.PMAX, self.factors[:-1]), 2)
        # The same factors with a made-up digest: a host that skipped primes.
        lazy = self.result(status_text(self.PMIN, self.PMAX, self.factors,
                                       digest="digest=%016x primes=420 below=%d\n" % (12345, self.PMAX + 1)), 3)
        compare = ("validate-compare", "--dir", self.path("wu"))
        self.assertEqual(tool(*compare, a, b)[0], 0)
        self.assertEqual(tool(*compare, a, c)[0], 1)
        self.assertEqual(tool(*compare, a, lazy)[0], 1)
        self.assertEqual(tool(*compare, a, self.path(self.unit + "_9_r1_0"))[0], 3)

    @unittest.skipUnless(BOINC_MODE, "no zudsieve-boinc built: the program's own result is not checked")
    def test_the_programs_result_is_valid_and_matches_the_reference(self):
        # The same digest on every instruction set and worker count, and
        # the one the reference computes.
        texts = [boinc_run(self.path("run-%s-%d" % (isa or "native", threads)), SMALL_ZUD, self.PMIN, self.PMAX,
                           threads, isa) for isa in (None, "generic") for threads in (1, 2)]
        digests = [re.findall(r"^digest=.*$", text, re.M)[-1] + "\n" for text in texts]
        self.assertEqual(digests, [reference_digest(self.PMIN, self.PMAX + 1)] * 4)
        for index, text in enumerate(texts):
            self.assertEqual(self.init(self.result(text, index))[0], 0)
            recorded = [tuple(map(int, m)) for m in re.findall(r"^(\d+) \| (\d+)\*2\^(\d+)\+1$", text, re.M)]
            self.assertEqual(sorted(recorded), sorted(self.factors))
        self.assertEqual(tool("validate-compare", "--dir", self.path("wu"), self.result(texts[0], 0),
                              self.result(texts[3], 3))[0], 0)


class ProjectFolder(Folder):
    """A stand-in BOINC project: bin/ with create_work that records its
    arguments, dir_hier_path that names a place in download/, stage_file
    broken as some servers ship it, the daemons' working folder wk/,
    upload/, and the search of [PMIN, PMAX] installed in it."""
    PMIN, PMAX = 1000, 7000

    def setUp(self):
        super().setUp()
        self.project = self.path("project")
        for sub in ("bin", "wk", "upload/1f", "templates"):
            os.makedirs(os.path.join(self.project, sub))
        self.executable(os.path.join(self.project, "bin", "create_work"),
                        '#!/bin/sh\necho "$(basename "$0") $*" >> "$(dirname "$0")/../calls.log"\n')
        self.executable(os.path.join(self.project, "bin", "stage_file"),
                        "#!/bin/sh\necho 'PHP Fatal error:  Uncaught Error: Call to undefined function "
                        "parse_config()' >&2\nexit 255\n")
        self.executable(os.path.join(self.project, "bin", "dir_hier_path"),
                        '#!/bin/sh\nmkdir -p download/2a && echo "$(pwd)/download/2a/$1"\n')
        program = self.executable(self.path("zudsieve"), '#!/bin/sh\necho "ZudSieve 1.24"\n')
        # Units of about 2,000 p: 0.08 p a second at p = e for an hour.
        done = subprocess.run([sys.executable, TOOL, "install", self.project, "--zud", SMALL_ZUD, "--range",
                               str(self.PMIN), str(self.PMAX), "--program", program, "--queue", "2",
                               "--unit-hours", "1", "--rate", "0.0804", "--rate-at", "2.718281828459045"],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.install_output = done.stdout
        self.candidates = zp.read_candidates(SMALL_ZUD)

    def executable(self, path, text):
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)
        return path

    def daemon(self, name, *words):
        """bin/NAME called as BOINC's script daemons call it: from the
        working folder, as ../bin/NAME and what BOINC substitutes."""
        done = subprocess.run(["../bin/" + name, *words], cwd=os.path.join(self.project, "wk"),
                              capture_output=True, text=True, stdin=subprocess.DEVNULL)
        return done.returncode, done.stdout + done.stderr

    def ledger(self):
        return zp.Ledger(os.path.join(self.project, "zudsieve", "ledger"))

    def upload(self, result_name, text):
        path = os.path.join(self.project, "upload", "1f", result_name + "_0")
        with open(path, "w") as f:
            f.write(text)
        return path

    def honest(self, unit, replica=0):
        lo, hi = self.ledger().units[unit][:2]
        return self.upload("%s_%d" % (unit, replica), status_text(lo, hi, reference_factors(self.candidates, lo, hi)))


class ProjectTest(ProjectFolder):
    def test_a_search_from_install_to_done_under_the_daemons(self):
        out = self.install_output
        self.assertIn("--init_script zud_validate_init --compare_script zud_validate_compare</cmd>", out)
        self.assertIn("--script zud_assimilate</cmd>", out)
        self.assertIn("<daemon>\n    <cmd>zud_work_generator --loop 60</cmd>\n</daemon>", out)
        self.assertIn("\n<one_result_per_user_per_wu>1</one_result_per_user_per_wu>\n", out)
        # A version for hosts of one processor beside the mt one.
        for platform in ("x86_64-pc-linux-gnu__mt", "x86_64-pc-linux-gnu"):
            version = os.path.join(self.project, "apps", "zudsieve", "1.24", platform)
            self.assertTrue(os.access(os.path.join(version, "zudsieve_124_x86_64-pc-linux-gnu"), os.X_OK))
            with open(os.path.join(version, "version.xml")) as f:
                self.assertIn("<physical_name>zudsieve_124_x86_64-pc-linux-gnu</physical_name>\n"
                              "        <main_program/>", f.read())
        with open(os.path.join(self.project, "templates", "zud_in.xml")) as f:
            template = f.read()
        self.assertIn("<number>0</number>\n        <sticky/>", template)
        self.assertNotIn("rsc_fpops", template)     # it would override the generator's

        # The generator keeps two units waiting, each with its cost and credit.
        self.assertEqual(self.daemon("zud_work_generator")[0], 0)
        self.assertEqual(self.daemon("zud_work_generator")[0], 0)
        first, second = self.ledger().in_state("issued")
        with open(os.path.join(self.project, "calls.log")) as f:
            calls = f.read().splitlines()
        creates = [c.split() for c in calls if c.startswith("create_work")]
        self.assertEqual([c[c.index("--wu_name") + 1] for c in creates], [first, second])
        for c in creates:
            fpops, credit = float(c[c.index("--rsc_fpops_est") + 1]), float(c[c.index("--credit") + 1])
            self.assertAlmostEqual(credit, fpops * 200 / 86400e9, delta=0.01)
            self.assertAlmostEqual(float(c[c.index("--rsc_fpops_bound") + 1]), 20 * fpops, delta=20)
            self.assertEqual(c[-2:-1], ["Zud_%s.dat" % first[4:12]])
        # Staged where dir_hier_path says, stage_file broken as it may be.
        download = os.path.join(self.project, "download", "2a")
        self.assertEqual(sorted(os.listdir(download)), sorted(["Zud_%s.dat" % first[4:12], first + ".range",
                                                               second + ".range"]))
        with open(os.path.join(download, first + ".range")) as f:
            self.assertEqual(f.read(), "%d %d\n" % tuple(self.ledger().units[first][:2]))

        # Two replicas of the first unit agree; what a lazy or careless host
        # sends is invalid.
        a, b = self.honest(first, 0), self.honest(first, 1)
        self.assertEqual(self.daemon("zud_validate_init", a), (0, ""))
        self.assertEqual(self.daemon("zud_validate_compare", a, b), (0, ""))
        lo, hi = self.ledger().units[first][:2]
        lazy = self.upload(first + "_2", "pmax=%d\npmin=%d\nDone\n" % (hi, lo))
        with open(self.honest(second, 0)) as f:
            other_unit = self.upload(first + "_3", f.read())
        with open(a) as f:
            honest_text = f.read()
        padded = self.upload(first + "_4", honest_text)
        with open(padded, "r+") as f:
            f.truncate(os.path.getsize(padded) + 48 * 679 + (1 << 20))
        for bad in (lazy, other_unit, padded):
            code, error = self.daemon("zud_validate_init", bad)
            self.assertEqual(code, 1, bad)
            self.assertNotIn("Traceback", error)
            self.assertEqual(self.daemon("zud_validate_compare", a, bad)[0], 1, bad)

        # The first unit is done (older and current form alike: NAME alone);
        # the second fails, named by id only and then by name as well.
        self.assertEqual(self.daemon("zud_assimilate", "101", a)[0], 0)
        self.assertEqual(self.daemon("zud_assimilate", "--error", "16", "102")[0], 0)
        self.assertEqual(self.daemon("zud_assimilate", "--error", "16", second, "102", "0")[0], 0)
        code, text = tool_output("status", self.project)
        self.assertIn("gaps: %d..%d\n" % (hi + 1, self.PMAX), text)
        self.assertIn("everything below p=%d is done" % (hi + 1), text)
        self.assertIn("failed, name unknown (BOINC's work unit ids): 102", text)
        # Its range goes out again, under a name of its own, before new ones.
        self.assertEqual(self.daemon("zud_work_generator")[0], 0)
        again, third = self.ledger().in_state("issued")
        self.assertEqual(again, second + "_r1")
        self.assertEqual(self.ledger().units[again][:2], self.ledger().units[second][:2])
        for unit in (again, third):
            self.assertEqual(self.daemon("zud_validate_init", self.honest(unit))[0], 0)
            self.assertEqual(self.daemon("zud_assimilate", "7", self.honest(unit))[0], 0)
        self.assertEqual(self.ledger().units[third][1], self.PMAX)

        # One line per (k, n) at its lowest p, the range header and Done.
        expected = reference_factors(self.candidates, self.PMIN, self.PMAX)
        with open(os.path.join(self.project, "zudsieve", "ZudStatus.dat")) as f:
            self.assertEqual(f.read(), status_text(self.PMIN, self.PMAX, sorted(expected), digest=""))
        code, text = tool_output("status", self.project)
        self.assertIn("gaps: none\neverything below p=%d is done" % (self.PMAX + 1), text)
        self.assertIn("warning: config.xml lacks <one_result_per_user_per_wu>1</one_result_per_user_per_wu>", text)
        with open(os.path.join(self.project, "config.xml"), "w") as f:
            f.write("<boinc>\n<config>\n<one_result_per_user_per_wu>1</one_result_per_user_per_wu>\n"
                    "</config>\n</boinc>\n")
        self.assertNotIn("warning", tool_output("status", self.project)[1])
        self.assertEqual(tool("next-zud", self.project, self.path("next.dat"))[0], 0)
        after = zp.read_candidates(self.path("next.dat"))
        self.candidates.remove((k, n) for _, k, n in expected)
        self.assertEqual((after.ks, after.ns), (self.candidates.ks, self.candidates.ns))

    def test_a_kill_of_the_assimilator_leaves_the_old_file_or_the_new(self):
        self.assertEqual(self.daemon("zud_work_generator")[0], 0)
        unit = self.ledger().in_state("issued")[1]    # the first has no factor
        result = self.honest(unit)
        status = os.path.join(self.project, "zudsieve", "ZudStatus.dat")
        # Enough recorded factors that writing the file takes a while.
        lines = ["pmax=%d\npmin=%d\n" % (self.PMAX, self.PMIN)]
        lines.extend("%d | %d*2^%d+1\n" % (10**6 + i, 3 + 2 * (i % 5000), 100 + i // 5000) for i in range(400000))
        old = "".join(lines)
        with open(status, "w") as f:
            f.write(old)
        seen = set()
        rng = random.Random(26)
        for _ in range(8):
            # Killed while it writes: once a temporary appears beside the
            # file, or the file itself changes.
            folder = os.path.dirname(status)
            before = (set(os.listdir(folder)), os.stat(status).st_mtime_ns)
            child = subprocess.Popen(["../bin/zud_assimilate", "5", result], cwd=os.path.join(self.project, "wk"),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            while child.poll() is None:
                if set(os.listdir(folder)) - before[0] or os.stat(status).st_mtime_ns != before[1]:
                    time.sleep(rng.uniform(0, 0.03))
                    break
                time.sleep(0.001)
            child.send_signal(signal.SIGKILL)
            child.wait()
            with open(status) as f:
                seen.add(f.read())
            self.ledger()    # whole, or it would not read
        self.assertEqual(self.daemon("zud_assimilate", "5", result)[0], 0)
        with open(status) as f:
            new = f.read()
        self.assertTrue(new != old and re.match(r"pmax=7000\npmin=1000\n[0-9]{4} \| ", new))
        self.assertTrue(seen <= {old, new}, "a kill left a file that is neither the old nor the new")

    def test_a_failure_named_by_id_alone_is_named_by_the_projects_database(self):
        """Older servers give a failed unit's database id alone: the
        project's database (access from config.xml) names it, and its range
        goes out again by itself."""
        self.assertEqual(self.daemon("zud_work_generator")[0], 0)
        first = self.ledger().in_state("issued")[0]
        with open(os.path.join(self.project, "config.xml"), "w") as f:
            f.write("<boinc>\n<config>\n<db_name>zud</db_name>\n<db_user>boincadm</db_user>\n"
                    "<db_passwd>secret</db_passwd>\n</config>\n</boinc>\n")
        fake = self.path("fakebin")
        os.makedirs(fake)
        self.executable(os.path.join(fake, "mysql"), '#!/bin/sh\n[ "$MYSQL_PWD" = secret ] || exit 1\n'
                        'case "$*" in *"where id=102") echo %s ;; esac\n' % first)
        done = subprocess.run(["../bin/zud_assimilate", "--error", "16", "102"],
                              cwd=os.path.join(self.project, "wk"), capture_output=True, text=True,
                              env=dict(os.environ, PATH=fake + os.pathsep + os.environ["PATH"]))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.ledger().units[first][2], "failed")
        self.assertEqual(self.daemon("zud_work_generator")[0], 0)
        self.assertIn(first + "_r1", self.ledger().in_state("issued"))

    def test_the_generator_as_a_daemon_fills_the_queue_until_stopped(self):
        """Started as bin/start starts a daemon, it keeps the queue full by
        itself; bin/stop's stop_daemons file or its SIGHUP ends it."""
        for stop in ("stop_daemons", signal.SIGHUP):
            daemon = subprocess.Popen(["../bin/zud_work_generator", "--loop", "0.1"],
                                      cwd=os.path.join(self.project, "wk"), stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
            self.addCleanup(daemon.kill)
            deadline = time.monotonic() + 60
            while len(self.ledger().in_state("issued")) < 2 and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertEqual(len(self.ledger().in_state("issued")), 2)
            # A unit fails: a later round issues its range again.
            unit = self.ledger().in_state("issued")[0]
            self.assertEqual(self.daemon("zud_assimilate", "--error", "16", unit, "3", "0")[0], 0)
            while unit + "_r1" not in self.ledger().in_state("issued") and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertIn(unit + "_r1", self.ledger().in_state("issued"))
            self.assertEqual(daemon.poll(), None)
            if stop == "stop_daemons":
                open(os.path.join(self.project, "stop_daemons"), "w").close()
                self.assertEqual(daemon.wait(timeout=30), 0)
                os.remove(os.path.join(self.project, "stop_daemons"))
            else:
                daemon.send_signal(stop)
            self.assertEqual(daemon.wait(timeout=30), 0)

    def test_install_without_a_rate_measures_it_with_the_console(self):
        """The rate comes from the console's own rate line in a pipe:
        a stand-in that shows one, then the real program when built."""
        shows = self.executable(self.path("shows_rate"), '#!/bin/sh\necho "Sieving (a while left)"\n'
                                'echo "Sieving (less left)   Rate: 1,234,567 p/sec"\nsleep 600\n')
        programs = [(shows, 1234567)] + ([(SIEVE_APP, None)] if os.path.isfile(SIEVE_APP) else [])
        for program, rate in programs:
            done = subprocess.run([sys.executable, TOOL, "install", self.project, "--force", "--zud", SMALL_ZUD,
                                   "--range", "1000", "7000", "--program", program, "--app-version", "124",
                                   "--measure-with", program], capture_output=True, text=True, timeout=200)
            self.assertEqual(done.returncode, 0, done.stderr)
            measured = float(re.search(r"Measured: ([0-9]+) p per second", done.stdout).group(1))
            if rate:
                self.assertEqual(measured, rate)
            else:
                self.assertGreater(measured, 1000)
            with open(os.path.join(self.project, "zudsieve", "settings.json")) as f:
                settings = json.load(f)
            self.assertAlmostEqual(settings["seconds_per_prime"] * measured, math.log(1e12), places=6)


class ReadmeTest(unittest.TestCase):
    def test_the_readme_quotes_the_steps_the_real_server_test_runs(self):
        top = os.path.join(HERE, "..", "..")
        with open(os.path.join(top, "project", "boinc-project-steps.sh")) as f:
            steps = f.read()
        with open(os.path.join(top, "README.md")) as f:
            self.assertIn("\n```sh\n" + steps + "```\n", f.read())


if __name__ == "__main__":
    unittest.main()
