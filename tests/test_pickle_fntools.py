import collections
import concurrent.futures
import copy
import multiprocessing
import operator
import pickle

import pytest

import tarvel._tarvel as T

PROTOCOLS = range(2, pickle.HIGHEST_PROTOCOL + 1)


def add3(a, b, c=0):
    return a + b + c


def pair(a, b):
    return (a, b)


def inc(x):
    return x + 1


def double(x):
    return x * 2


def safe_div(x):
    return 10 / x


def on_error(e):
    return type(e).__name__


def first_arg(args, kwargs):
    return args[0]


# name: (object, calls whose results must survive the round trip)
CASES = {
    "curry": (T.curry(add3), [(1, 2), (1, 2, 3)]),
    "curry partial": (T.curry(add3)(1), [(2,), (2, 3)]),
    "curry keywords": (T.curry(add3, c=10), [(1, 2)]),
    "curry partial keywords": (T.curry(add3, c=10)(1), [(2,)]),
    "curry builtin": (T.curry(operator.sub, 10), [(3,)]),
    "flip": (T.flip, [(pair, 1, 2)]),
    "flip partial": (T.flip(pair), [(1, 2)]),
    "flip partial 2": (T.flip(pair, 1), [(2,)]),
    "flip keyword": (T.flip(pair, b=5), [(1,)]),
    "compose": (T.compose(str, double, inc), [(1,)]),
    "compose_left": (T.compose_left(inc, double, str), [(1,)]),
    "juxt": (T.juxt(inc, double), [(3,)]),
    "juxt empty": (T.juxt(), [()]),
    "complement": (T.complement(bool), [(0,), (1,)]),
    "excepts": (T.excepts(ZeroDivisionError, safe_div), [(0,), (5,)]),
    "excepts handler": (T.excepts((KeyError, ZeroDivisionError), safe_div, on_error), [(0,)]),
    "memoize": (T.memoize(double), [(4,)]),
    "memoize key": (T.memoize(add3, key=first_arg), [(1, 2)]),
    "nested": (T.compose(T.juxt(T.curry(add3, 1), T.complement(bool)), T.memoize(inc)), [(1,)]),
}


@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize("name", list(CASES))
def test_round_trip(name, protocol):
    obj, calls = CASES[name]
    back = pickle.loads(pickle.dumps(obj, protocol))
    assert type(back) is type(obj)
    for args in calls:
        assert back(*args) == obj(*args)


@pytest.mark.parametrize("name", list(CASES))
def test_copy_and_deepcopy(name):
    obj, calls = CASES[name]
    for dup in (copy.copy(obj), copy.deepcopy(obj)):
        for args in calls:
            assert dup(*args) == obj(*args)


def test_curry_copy_stays_partial():
    back = pickle.loads(pickle.dumps(T.curry(add3)(1)))
    step = back(2, c=5)
    assert step == 8
    assert isinstance(back(), T.curry)
    assert repr(back) == f"curry({add3!r}, 1)"


def test_module_flip_pickles_by_reference():
    assert pickle.loads(pickle.dumps(T.flip)) is T.flip


COUNTED = []


def counted(x):
    COUNTED.append(x)
    return x * 2


# The function must pickle by name, so its call log is module-wide: one thread at a time.
@pytest.mark.thread_unsafe
def test_memoize_gets_a_fresh_cache():
    COUNTED.clear()
    cache = collections.OrderedDict()
    m = T.memoize(counted, cache=cache)
    m(3)
    back = pickle.loads(pickle.dumps(m))
    assert back(3) == 6 and back(3) == 6
    assert COUNTED == [3, 3]  # computed once more, in the copy's own cache
    assert cache == {3: 6}


def test_unpicklable_contents_fail():
    with pytest.raises(Exception):
        pickle.dumps(T.compose(lambda x: x))
    with pytest.raises(Exception):
        pickle.dumps(T.curry(lambda x, y: x, 1))


def test_process_pool_map():
    job = T.compose(str, T.curry(add3, 100), double)
    ctx = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(max_workers=2, mp_context=ctx) as pool:
        results = list(pool.map(job, range(20)))
    assert results == [job(i) for i in range(20)]
