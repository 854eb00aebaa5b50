"""Allocation-failure sweep, run as a program in its own process (a crash must not take
the test run with it): every public entry (the `sweep` call of its tool_table row) is
called with its Nth allocation failing, for N over a bounded range. Each call must give its
normal result or raise MemoryError. Prints one line per entry before running it, so a crash
names its entry.

    python fault_sweep.py [max_n] [rounds] [name ...]

Cold, the Nth allocation of each entry's very first call in the process fails, and the
call after it must give the normal result: whatever an entry caches on first use must not
be left half-made. Prints the outcome of both calls per entry, for the caller to compare
with a run where nothing fails (N = 0).

    python fault_sweep.py --cold N [name ...]
"""

import gc
import sys

import _testcapi

from tool_table import TOOLS, prepare


CALLS = {name: row.sweep for name, row in TOOLS.items()}


def classify(result, raised):
    """("raised", type) for a call that raised; ("raised", MemoryError) for a result that
    carries one (an Err made from it is a correct outcome); ("ok", repr) otherwise."""
    if raised is not None:
        return "raised", type(raised)
    text = repr(result)
    return ("raised", MemoryError) if "MemoryError" in text else ("ok", text)


def sweep(max_n, names):
    for name in names:
        call = CALLS[name]
        print(name, file=sys.stderr, flush=True)
        call()
        expected = classify(call(), None)
        for n in range(1, max_n + 1):
            result = raised = None
            _testcapi.set_nomemory(n, n + 1)
            try:
                result = call()
            except Exception as e:
                raised = e
            finally:
                _testcapi.remove_mem_hooks()
            got = classify(result, raised)
            del result, raised
            if got != expected and got != ("raised", MemoryError):
                sys.exit(f"{name}: allocation {n} failing gave {got!r}, not {expected!r}")


def cold(n, names):
    for name in names:
        call = CALLS[name]
        print(name, file=sys.stderr, flush=True)
        result = raised = None
        if n:
            _testcapi.set_nomemory(n, n + 1)
        try:
            result = call()
        except Exception as e:
            raised = e
        finally:
            _testcapi.remove_mem_hooks()
        first = classify(result, raised)
        del result, raised
        try:
            second = classify(call(), None)
        except Exception as e:
            second = classify(None, e)
        print(name, repr(first), repr(second), sep="\t", flush=True)


def main():
    prepare()
    if sys.argv[1:2] == ["--cold"]:
        cold(int(sys.argv[2]), sys.argv[3:] or list(CALLS))
        return
    max_n = int(sys.argv[1]) if len(sys.argv) > 1 else 60
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    names = sys.argv[3:] or list(CALLS)
    totals = [0] * rounds  # filled in place: growing the list would count as a leak
    for i in range(rounds):
        sweep(max_n, names)
        gc.collect()
        if hasattr(sys, "gettotalrefcount"):
            totals[i] = sys.gettotalrefcount()
    print("names", *CALLS)
    print("totals", *totals)


if __name__ == "__main__":
    main()
