"""Runs one share of a test module's cases, so that the cases of a module
that mostly waits (for bounds, for other processes) run beside each other
as CTest tests of their own:

    python3 run_shard.py MODULE K N

runs every N-th case of MODULE, sorted by name, from the K-th on (0 <= K < N):
the N shares hold every case once, whatever cases the module has."""

import sys
import unittest


def cases(suite):
    for test in suite:
        if isinstance(test, unittest.TestSuite):
            yield from cases(test)
        else:
            yield test


def main():
    module, k, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    everything = sorted(cases(unittest.defaultTestLoader.loadTestsFromName(module)),
                        key=lambda test: test.id())
    # Module and class fixtures still run once per share, around its cases.
    result = unittest.TextTestRunner(verbosity=2).run(unittest.TestSuite(everything[k::n]))
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
