"""The project's tools: work units that tile a range, results checked with
exact arithmetic, replicas compared, results merged into the next Zud.dat."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "project"))
import zudsieve_project as zp  # noqa: E402

TEST_DATA = os.environ.get("ZUD_TEST_DATA", os.path.join(HERE, "..", "testdata"))
SMALL_ZUD = os.path.join(TEST_DATA, "small_Zud.dat")
SIEVE = os.environ.get("ZUD_SIEVE_BINARY")
TOOL = os.path.join(HERE, "..", "..", "project", "zudsieve_project.py")


def tool(*args, cwd=None):
    done = subprocess.run([sys.executable, TOOL, *args], cwd=cwd, capture_output=True, text=True)
    return done.returncode, done.stderr


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


def status_text(pmin, pmax, factors, tail="Done\n", checkpoints=()):
    lines = ["pmax=%d\n" % pmax, "pmin=%d\n" % pmin]
    for i, (p, k, n) in enumerate(factors):
        if i in checkpoints:
            lines.append("pmin=%d\n" % p)
        lines.append("%d | %d*2^%d+1\n" % (p, k, n))
    return "".join(lines) + tail


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
        with open(os.path.join(out, "templates", "zud_in.xml")) as f:
            wu = f.read()
        self.assertEqual(wu.count("<copy_file/>"), 2)
        self.assertIn("<min_quorum>2</min_quorum>", wu)
        self.assertIn("<open_name>range</open_name>", wu)
        with open(os.path.join(out, "templates", "zud_out.xml")) as f:
            self.assertIn("<open_name>ZudStatus.dat</open_name>\n            <copy_file/>", f.read())
        tag = zp.candidate_tag(open(SMALL_ZUD, "rb").read())
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
        cases = {
            "other range": status_text(self.PMIN + 1, self.PMAX, f),
            "no Done": status_text(self.PMIN, self.PMAX, f, tail=""),
            "stopped": status_text(self.PMIN, self.PMAX, f, tail="pmin=3999\n"),
            "descending": status_text(self.PMIN, self.PMAX, f[:5] + [f[6], f[5]] + f[7:]),
            "twice": status_text(self.PMIN, self.PMAX, f + [f[-1]]),
            "false factor": status_text(self.PMIN, self.PMAX, f[:5] + [(p + 2, k, n)] + f[6:]),
            "composite": status_text(self.PMIN, self.PMAX, [(composite, 1, 1)]),
            "not a candidate": status_text(self.PMIN, self.PMAX, f[:5] + [(p, k, non_candidate)] + f[6:]),
            "outside": status_text(self.PMIN, self.PMAX, f + [(4001, 5, 1)]),
            "garbage": status_text(self.PMIN, self.PMAX, f).replace("Done", "hello\nDone"),
            "resume point outside": status_text(self.PMIN, self.PMAX, f).replace("Done", "pmin=4002\nDone"),
        }
        for index, (fault, text) in enumerate(cases.items()):
            code, error = self.init(self.result(text, index))
            self.assertEqual(code, 1, fault)
            self.assertTrue(error, fault)

    def test_what_may_pass_is_retried(self):
        self.assertEqual(self.init(self.path(self.unit + "_0_r1_0"))[0], 3)
        os.remove(os.path.join(self.path("wu"), "Zud_%s.dat" % self.unit[4:12]))
        self.assertEqual(self.init(self.result(status_text(self.PMIN, self.PMAX, self.factors)))[0], 3)

    def test_replicas_agree_on_the_same_factors_in_any_order(self):
        a = self.result(status_text(self.PMIN, self.PMAX, self.factors), 0)
        b = self.result(status_text(self.PMIN, self.PMAX, self.factors[::-1], checkpoints=(2,)), 1)
        c = self.result(status_text(self.PMIN, self.PMAX, self.factors[:-1]), 2)
        self.assertEqual(tool("validate-compare", a, b)[0], 0)
        self.assertEqual(tool("validate-compare", a, c)[0], 1)
        self.assertEqual(tool("validate-compare", a, self.path("missing"))[0], 3)

    @unittest.skipUnless(SIEVE, "ZUD_SIEVE_BINARY not set: the program's own result is not checked")
    def test_the_programs_result_is_valid_and_matches_the_reference(self):
        run = self.path("run")
        os.mkdir(run)
        shutil.copy(SMALL_ZUD, os.path.join(run, "Zud.dat"))
        done = subprocess.run([SIEVE, "--console", "--workers", "2", "--range", str(self.PMIN), str(self.PMAX), run],
                              capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(run, "ZudStatus.dat")) as f:
            text = f.read()
        self.assertEqual(self.init(self.result(text))[0], 0)
        recorded = [tuple(map(int, m)) for m in re.findall(r"^(\d+) \| (\d+)\*2\^(\d+)\+1$", text, re.M)]
        self.assertEqual(sorted(recorded), sorted(self.factors))


class AssimilateTest(UnitFolder):
    def test_results_merge_in_order_and_leave_the_rest_as_candidates(self):
        shutil.copy(SMALL_ZUD, self.path("Zud.dat"))
        half = len(self.factors) // 2
        first = self.result(status_text(self.PMIN, self.PMAX, self.factors[half:]), 0)
        second = self.result(status_text(self.PMIN, self.PMAX, self.factors[:half + 3]), 1)
        self.assertEqual(tool("assimilate", "--dir", self.dir, first)[0], 0)
        self.assertEqual(tool("assimilate", "--dir", self.dir, second, first)[0], 0)
        with open(self.path("ZudStatus.dat")) as f:
            self.assertEqual(f.read(), "".join("%d | %d*2^%d+1\n" % t for t in sorted(self.factors)))
        expected = zp.read_candidates(SMALL_ZUD)
        expected.remove((k, n) for _, k, n in self.factors)
        after = zp.read_candidates(self.path("next", "Zud.dat"))
        self.assertEqual((after.ks, after.ns), (expected.ks, expected.ns))
        self.assertEqual(after.text(), open(self.path("next", "Zud.dat")).read())
        # A false factor merges nothing.
        bad = self.result(status_text(self.PMIN, self.PMAX, [(1009, 5, 2)]), 2)
        self.assertEqual(tool("assimilate", "--dir", self.dir, bad)[0], 1)
        with open(self.path("ZudStatus.dat")) as f:
            self.assertEqual(len(f.read().splitlines()), len(self.factors))


if __name__ == "__main__":
    unittest.main()
