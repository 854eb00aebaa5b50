"""Many threads on one object at once. On a free-threaded build with the lock off these run
truly in parallel; with the lock they interleave at its switch points. Either way no run may
crash, and what the threads get together must be what some interleaving of whole steps
gives: every element of a shared iterator exactly once, in order within each thread."""

import os
import threading
import time
from collections import Counter

import pytest

from leakcheck import FREE_THREADED

THREADS = 8
N = 6000
# Seconds each mutation test runs for; a sanitizer run slows everything and may lower it.
SECONDS = float(os.environ.get("TARVEL_STRESS_SECONDS", "1.5"))


def run_threads(target, n=THREADS):
    """Runs target(i) in n threads released together; re-raises the first failure."""
    barrier = threading.Barrier(n)
    errors = []

    def body(i):
        try:
            barrier.wait()
            target(i)
        except BaseException as e:  # noqa: BLE001 - handed to the main thread
            errors.append(e)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert not any(t.is_alive() for t in threads), "a thread is stuck"
    if errors:
        raise errors[0]


def drain_shared(it):
    """Each thread's elements, read from one shared iterator by THREADS threads."""
    got = [[] for _ in range(THREADS)]
    busy = [0]

    def reader(i):
        mine = got[i]
        while True:
            try:
                x = next(it)
            except StopIteration:
                return
            except ValueError as e:
                # Two threads at one step: one of them is told so and tries again.
                assert "already executing" in str(e)
                busy[0] += 1
                continue
            mine.append(x)

    run_threads(reader)
    return got


def in_order(part, expected):
    """Whether `part` is a subsequence of `expected` (elements may repeat)."""
    pos = iter(expected)
    return all(any(x == y for y in pos) for x in part)


def inc(x):
    return x + 1


def odd(x):
    return x % 2


# name -> a fresh lazy result of the module's own kinds (each is made twice: once read by
# one thread for the expected output, once shared).
LAZY = {
    "interpose": lambda tv: tv.interpose(-1, range(N)),
    "interleave": lambda tv: tv.interleave([range(N), iter(range(N, 2 * N)), [-1] * 50]),
    "sliding_window": lambda tv: tv.sliding_window(3, list(range(N))),
    "sliding_window_iter": lambda tv: tv.sliding_window(4, iter(range(N))),
    "partition": lambda tv: tv.partition(3, range(N)),
    "partition_pad": lambda tv: tv.partition(7, list(range(N)), None),
    "partition_all": lambda tv: tv.partition_all(5, list(range(N))),
    "merge_sorted": lambda tv: tv.merge_sorted(range(0, N, 2), list(range(1, N, 2))),
    "merge_sorted_key": lambda tv: tv.merge_sorted(range(N), range(N), key=lambda x: -x),
    "diff": lambda tv: tv.diff(range(N), [x if x % 7 else -x for x in range(N)]),
    "pluck": lambda tv: tv.pluck(0, [(x, -x) for x in range(N)]),
    "pluck_list": lambda tv: tv.pluck([1, 0], [[x, -x] for x in range(N)]),
    "remove": lambda tv: tv.remove(odd, range(N)),
    "accumulate": lambda tv: tv.accumulate(lambda a, b: a + b, range(N)),
    "accumulate_list": lambda tv: tv.accumulate(max, list(range(N)), -1),
    "unique": lambda tv: tv.unique([x % 1000 for x in range(N)]),
    "unique_str": lambda tv: tv.unique([str(x % 500) for x in range(N)]),
    "unique_key": lambda tv: tv.unique(range(N), key=lambda x: x // 3),
    "join": lambda tv: tv.join(0, [(x % 100,) for x in range(N)], 0, [(x, -x) for x in range(100)]),
    "iter_windows": lambda tv: iter(tv.Iter(list(range(N))).sliding_window(2)),
    "iter_unique": lambda tv: iter(tv.Iter(range(N)).unique(lambda x: x // 2)),
}

# Results that are standard-library iterators (chains, slices, map and filter): how they
# behave when shared is the interpreter's business, and on a free-threaded build some of
# them repeat, skip or misplace elements, or crash (those builds skip them). Where they run,
# they must not crash, nor give anything that is not an element of their input. name -> (a fresh result, the elements of its input).
STDLIB = {
    "take": (lambda tv: tv.take(N, range(2 * N)), range(2 * N)),
    "drop": (lambda tv: tv.drop(10, list(range(N))), range(N)),
    "take_nth": (lambda tv: tv.take_nth(3, iter(range(N))), range(N)),
    "cons": (lambda tv: tv.cons(-1, range(N)), range(-1, N)),
    "concat": (lambda tv: tv.concat([range(N), list(range(N, 2 * N))]), range(2 * N)),
    "mapcat": (lambda tv: tv.mapcat(lambda x: [x, -x], range(N)), range(1 - N, N)),
    "iter_chain": (lambda tv: iter(tv.Iter(range(N)).map(inc).filter(odd)), range(1, N + 1)),
}


@pytest.mark.parametrize("kind", sorted(STDLIB))
@pytest.mark.skipif(FREE_THREADED, reason="a free-threaded 3.13's own iterators are not safe to "
                    "share: a shared range iterator runs past its end, a shared list iterator "
                    "can release its list twice and abort the process")
def test_shared_standard_library_result_stays_whole(tv, kind):
    make, universe = STDLIB[kind]
    got = drain_shared(make(tv))
    assert {x for part in got for x in part} <= set(universe)


@pytest.mark.parametrize("kind", sorted(LAZY))
def test_shared_lazy_result_gives_each_element_once(tv, kind):
    expected = list(LAZY[kind](tv))
    got = drain_shared(LAZY[kind](tv))
    assert Counter(x for part in got for x in part) == Counter(expected)
    for part in got:
        assert in_order(part, expected)


def test_shared_endless_iterate(tv):
    it = tv.iterate(inc, 0)
    got = [[] for _ in range(THREADS)]

    def reader(i):
        while len(got[i]) < N // THREADS:
            try:
                got[i].append(next(it))
            except ValueError:
                continue

    run_threads(reader)
    values = sorted(x for part in got for x in part)
    assert values == list(range(len(values)))
    assert all(part == sorted(part) for part in got)


def test_shared_memoize_keeps_whole_entries(tv):
    calls = Counter()
    lock = threading.Lock()

    cache = {}

    def raw(x):
        with lock:
            calls[x] += 1
        return x * x

    square = tv.memoize(raw, cache)

    def caller(i):
        for k in range(3000):
            x = (k * 7 + i) % 200
            assert square(x) == x * x

    run_threads(caller)
    # A miss two threads meet at once may run the function twice, never more than once
    # per thread; every entry ends up whole.
    assert set(calls) == set(range(200))
    assert max(calls.values()) <= THREADS
    assert cache == {x: x * x for x in range(200)}


def test_shared_curry_object(tv):
    c = tv.curry(lambda a, b, c=0, *, d=1: (a, b, c, d))
    part = c(1)

    def caller(i):
        for k in range(1500):
            assert c(i)(k) == (i, k, 0, 1)
            assert c(i, k, c=k) == (i, k, k, 1)
            assert part(k, d=i) == (1, k, 0, i)
            assert part(c=i)(k) == (1, k, i, 1)

    run_threads(caller)


def mutate_until(stop, list_=None, dict_=None, make=int):
    """Grows and shrinks the shared containers until `stop` is set."""
    k = 0
    while not stop.is_set():
        k += 1
        if list_ is not None:
            list_.append(make(k % 50))
            if len(list_) > 400:
                del list_[:200]
            if k % 97 == 0:
                list_.clear()
        if dict_ is not None:
            dict_[k % 300] = 2 * (k % 300)
            dict_.pop((k * 7) % 300, None)


def with_mutator(reader, list_=None, dict_=None, readers=4, make=int):
    """Runs `reader` in a loop in several threads while one thread mutates the containers."""
    stop = threading.Event()
    deadline = time.monotonic() + SECONDS
    rounds = Counter()

    def body(i):
        if i == 0:
            mutate_until(stop, list_, dict_, make)
            return
        try:
            while time.monotonic() < deadline:
                try:
                    reader()
                except RuntimeError as e:
                    # What a dict's own iterator says when another thread resizes it.
                    assert "changed" in str(e), e
                rounds[i] += 1
        finally:
            stop.set()

    run_threads(body, readers + 1)
    assert sum(rounds.values()) > 0


# Small ints and strs are each read by a path of their own in the counting tools.
@pytest.mark.parametrize("make", [int, str])
def test_list_readers_while_the_list_changes(tv, make):
    shared = [make(x) for x in range(50)]
    universe = set(shared)

    def reader():
        f = tv.frequencies(shared)
        assert set(f) <= universe and all(n > 0 for n in f.values())
        g = tv.groupby(lambda x: int(x) % 2, shared)
        assert set(g) <= {0, 1} and all(set(v) <= universe for v in g.values())
        assert set(tv.unique(shared)) <= universe
        assert set(tv.pluck(0, [shared, shared], None)) <= universe | {None}
        assert tv.get([0, 1], shared, None) is not None
        assert tv.first_opt(shared).unwrap_or(make(0)) in universe
        assert tv.nth_opt(3, shared).unwrap_or(make(0)) in universe
        assert set(tv.topk(3, shared)) <= universe
        assert set(tv.sliding_window(2, shared)) <= {(a, b) for a in universe for b in universe}

    with_mutator(reader, list_=shared, make=make)


def test_dict_readers_while_the_dict_changes(tv):
    shared = {k: 2 * k for k in range(300)}

    def reader():
        v = tv.valmap(inc, shared)
        assert all(val == 2 * k + 1 for k, val in v.items())
        m = tv.merge(shared, {1000: 0})
        assert m.pop(1000) == 0 and all(val == 2 * k for k, val in m.items())
        m = tv.merge(shared, {1000: 0}, factory=dict)
        assert m.pop(1000) == 0 and all(val == 2 * k for k, val in m.items())
        assert tv.keyfilter(odd, shared).keys() <= set(range(1, 300, 2))
        for k in (0, 7, 150, 299):
            assert tv.get_in([k], shared, None) in (None, 2 * k)
            assert tv.get_in_opt([k], shared).unwrap_or(2 * k) == 2 * k
        assert tv.merge_with(sum, shared, shared).keys() <= set(range(300))

    with_mutator(reader, dict_=shared)


def test_nested_reads_while_inner_containers_change(tv):
    inner = {k: 2 * k for k in range(300)}
    shared = {"a": inner, "b": [inner]}

    def reader():
        for k in (3, 100):
            assert tv.get_in(["a", k], shared, None) in (None, 2 * k)
            assert tv.get_in(["b", 0, k], shared, None) in (None, 2 * k)
        out = tv.assoc_in(shared, ["a", 5], -1)
        assert out["a"][5] == -1

    with_mutator(reader, dict_=inner)


@pytest.mark.parametrize("n", [1, 3])
def test_windows_held_by_another_thread_stay_whole(tv, n):
    # A window may be shifted in place only while nobody else holds it. Here the producer's
    # own references are gone by its next step and the one left is the consumer's, which a
    # free-threaded build counts apart from the producer's: it must still be seen.
    size = 2000
    slot = [None]
    ready, taken = threading.Semaphore(0), threading.Semaphore(0)
    kept = []

    def body(i):
        if i == 0:
            for w in tv.sliding_window(n, list(range(size))):
                slot[0] = w
                del w
                ready.release()
                taken.acquire()
                slot[0] = None
            ready.release()
            return
        while True:
            ready.acquire()
            w = slot[0]
            if w is None:
                return
            kept.append(w)
            taken.release()

    run_threads(body, 2)
    assert kept == [tuple(range(k, k + n)) for k in range(size - n + 1)]


def test_keyword_dicts_changing_while_bound(tv):
    # f(**d) hands an exact dict to a constructor as it is: the values bound from it must
    # stay alive however another thread replaces them meanwhile.
    shared = {"value": [0], "y": [0]}
    stop = threading.Event()

    def pick(value, y):
        return value

    def body(i):
        if i == 0:
            k = 0
            while not stop.is_set():
                k += 1
                shared["value"] = [k]
                shared["y"] = [-k]
            return
        try:
            for _ in range(3000):
                assert isinstance(tv.Some(**{"value": shared["value"]}).unwrap(), list)
                got = tv.curry(pick, **shared)()
                assert type(got) is list and got[0] >= 0
                assert type(tv.Ok(value=shared["y"]).unwrap()) is list
                some = tv.Some(**{k: v for k, v in shared.items() if k == "value"})
                assert type(some.unwrap()) is list
        finally:
            stop.set()

    run_threads(body, 4)
