"""zudsieve-project status on sieve depth: the factors found per stretch of
p against those expected, where sieving stops paying, and the plot."""

import math
import os
import time
import unittest

from test_zudsieve_project import ProjectFolder, reference_factors, tool_output, zp


def has_matplotlib():
    try:
        import matplotlib  # noqa: F401
        return True
    except ImportError:
        return False


class DepthTest(ProjectFolder):
    def test_status_reports_factors_per_stretch_and_where_sieving_stops_paying(self):
        # Two units done, an hour apart.
        for _ in range(2):
            self.assertEqual(self.daemon("zud_work_generator")[0], 0)
        units = self.ledger().in_state("issued")
        for unit in units:
            self.assertEqual(self.daemon("zud_assimilate", "7", self.honest(unit))[0], 0)
        spans = [self.ledger().units[u][:2] for u in units]
        now = int(time.time())
        with open(os.path.join(self.project, "zudsieve", "throughput"), "w") as f:
            f.write("%d %d %d\n%d %d %d\n" % (now - 3600, *spans[0], now, *spans[1]))

        code, text = tool_output("status", self.project, "--test-seconds", "1000")
        self.assertEqual(code, 0, text)
        # Per unit: the factors the reference finds, the expected count from
        # the candidates left before it (1 - ln lo / ln (hi + 1)), the rest.
        left = 679
        for lo, hi in spans:
            found = len(reference_factors(self.candidates, lo, hi))
            expected = left * (1 - math.log(lo) / math.log(hi + 1))
            left -= found
            self.assertIn("  %d..%d: %d found, %.1f expected, %d left\n" % (lo, hi, found, expected, left), text)
        # A factor costs seconds_per_prime * p / survivors; it passes 1000 s
        # where the survivors of `left` at the top of the units have thinned.
        below = spans[1][1] + 1
        per_prime = 1 / 0.0804
        depth = int(text.split("sieving pays up to about p=")[1].split()[0])
        survivors = left * math.log(below) / math.log(depth)
        self.assertAlmostEqual(per_prime * depth / survivors, 1000, delta=1)
        # At the recent throughput: the second unit's primes in an hour.
        rate = zp.expected_primes(*spans[1]) / 3600
        self.assertIn("at the recent throughput (%.3g primes a second) that takes about %s\n"
                      % (rate, zp.duration_words(zp.expected_primes(below, depth) / rate)), text)
        # A test quicker than a factor already: sieving has stopped paying.
        code, text = tool_output("status", self.project, "--test-seconds", "10")
        self.assertIn("sieving has stopped paying: a factor costs more than a test from about p=%d on" % below, text)
        self.assertEqual(tool_output("status", self.project, "--test-seconds", "0")[0], 1)

        png = self.path("depth.png")
        code, text = tool_output("status", self.project, "--plot", png)
        if has_matplotlib():
            self.assertEqual(code, 0, text)
            with open(png, "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        else:
            self.assertEqual(code, 1)
            self.assertIn("--plot needs matplotlib, which is not installed: on Debian, "
                          "apt-get install python3-matplotlib", text)
            self.assertFalse(os.path.exists(png))


if __name__ == "__main__":
    unittest.main()
