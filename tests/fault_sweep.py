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
import re
import sys
import sysconfig

import _testcapi

from tool_table import TOOLS, prepare


CALLS = {name: row.sweep for name, row in TOOLS.items()}


STDLIB = sysconfig.get_paths()["stdlib"]
PY_FUNCTION_LOST = re.compile(
    r"<function [\w.<>]+ at 0x[0-9a-f]+> returned NULL without setting an exception")


def lost_by_the_interpreter(e):
    """The interpreter's own eval loop can drop the MemoryError of an allocation it makes
    for a Python frame (seen in inspect's bind at some stack depths, with no native code
    involved) and then reports "error return without exception set" from that frame, or,
    to the native caller of that Python function, that the function "returned NULL without
    setting an exception" (which Python code cannot do by itself). Such a failure is an
    allocation failure that the interpreter lost, not ours."""
    if type(e) is not SystemError:
        return False
    if PY_FUNCTION_LOST.fullmatch(str(e)):
        return True
    if str(e) != "error return without exception set":
        return False
    tb = e.__traceback__
    while tb is not None and tb.tb_next is not None:
        tb = tb.tb_next
    return tb is not None and tb.tb_frame.f_code.co_filename.startswith(STDLIB)


def classify(result, raised):
    """("raised", type) for a call that raised; ("raised", MemoryError) for a result that
    carries one (an Err made from it is a correct outcome) or for an allocation failure the
    interpreter itself lost; ("ok", repr) otherwise."""
    if raised is not None:
        return "raised", MemoryError if lost_by_the_interpreter(raised) else type(raised)
    text = repr(result)
    return ("raised", MemoryError) if "MemoryError" in text else ("ok", text)


def outcome_failing(call, n):
    """The classified outcome of call() with its Nth allocation failing (none when n is 0)."""
    result = raised = None
    if n:
        _testcapi.set_nomemory(n, n + 1)
    try:
        result = call()
    except Exception as e:
        raised = e
    finally:
        _testcapi.remove_mem_hooks()
    return classify(result, raised)


def sweep(max_n, names):
    for name in names:
        call = CALLS[name]
        print(name, file=sys.stderr, flush=True)
        call()
        expected = classify(call(), None)
        for n in range(1, max_n + 1):
            got = outcome_failing(call, n)
            if got != expected and got != ("raised", MemoryError):
                sys.exit(f"{name}: allocation {n} failing gave {got!r}, not {expected!r}")


def cold(n, names):
    for name in names:
        call = CALLS[name]
        print(name, file=sys.stderr, flush=True)
        first = outcome_failing(call, n)
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
