"""examples/ray_wordcount.py on a local Ray cluster with worker processes: the tasks give
what one process gives, and both agree with a plain Python model.

Ray is heavy, so only one environment has it (dev/test.sh's Ray stage, which sets
TARVEL_RAY=1). Elsewhere these tests skip; in that stage under CI=true a missing Ray fails.
"""

import collections
import faulthandler
import json
import operator
import os
import re
import subprocess
import sys

import pytest

import tarvel as tv

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
# Small real text: a few of the standard library's packages.
SOURCES = os.path.dirname(json.__file__)
WAIT = 120  # seconds for any one batch of results; a hung cluster fails, it does not stall

try:
    import ray
except ImportError as exc:
    ray = None
    MISSING = f"ray is not installed in this environment ({exc})"
else:
    MISSING = None


@pytest.fixture(scope="module")
def examples():
    if MISSING:
        if os.environ.get("CI") == "true" and os.environ.get("TARVEL_RAY") == "1":
            pytest.fail(f"{MISSING}: the Ray stage could not install it")
        pytest.skip(f"{MISSING}; dev/test.sh runs these in its Ray stage")
    sys.path.insert(0, EXAMPLES)
    try:
        import ray_wordcount
        import wordcount_jobs
        yield ray_wordcount, wordcount_jobs
    finally:
        sys.path.remove(EXAMPLES)


def pythonpath():
    """PYTHONPATH for a child that must import this tarvel (and whatever else we see)."""
    return os.pathsep.join(p for p in (os.path.dirname(os.path.dirname(tv.__file__)),
                                       os.environ.get("PYTHONPATH")) if p)


# Runs before the in-process cluster exists: the script starts and stops one of its own.
def test_script_end_to_end(examples, tmp_path):
    env = dict(os.environ, PYTHONPATH=pythonpath())
    out = subprocess.run(
        [sys.executable, os.path.join(EXAMPLES, "ray_wordcount.py"), "--partitions", "5",
         "--source", SOURCES, "--timeout", str(WAIT)],
        capture_output=True, text=True, timeout=300, env=env, cwd=tmp_path)
    assert out.returncode == 0, out.stdout + out.stderr
    assert "same as one process: yes" in out.stdout
    assert re.search(r"^tasks ran in [1-9]\d* other processes", out.stdout, re.M), out.stdout


@pytest.fixture(scope="module")
def cluster(examples):
    driver, _ = examples
    # Bounds the whole module: a cluster that never comes up, or never answers, ends the
    # run with every thread's traceback instead of hanging it.
    faulthandler.dump_traceback_later(600, exit=True)
    try:
        driver.start()
        yield examples
    finally:
        ray.shutdown()
        faulthandler.cancel_dump_traceback_later()


def lines_of(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.readlines()


def model(text, sales, from_files):
    lines = [line for part in text for item in part
             for line in (lines_of(item) if from_files else [item])]
    words = collections.Counter(w for line in lines for w in line.split())
    groups, totals = {}, {}
    for rec in (r for part in sales for r in part):
        groups.setdefault(rec[0], []).append(rec)
        totals[rec[0]] = totals.get(rec[0], 0) + rec[2]
    return dict(words), groups, totals


@pytest.mark.parametrize("partitions, size, fan_in, from_files", [
    (1, 30, 8, False),
    (13, 40, 2, False),    # several merge rounds, a ragged last chunk of one
    (48, 20, 8, False),
    (9, 0, 3, False),      # empty partitions merge to empty results
    (0, 10, 8, False),     # no partitions at all
    (7, 50, 3, True),      # real text, read in the workers
    (48, 50, 8, True),     # more partitions than some packages have files: empty ones too
])
def test_tasks_match_one_process_and_model(cluster, partitions, size, fan_in, from_files):
    driver, jobs = cluster
    if from_files:
        text, count = jobs.text_partitions(partitions, SOURCES), jobs.count_files
    else:
        text, count = jobs.make_text(partitions, size, seed=partitions), jobs.count_words
    sales = jobs.make_sales(partitions, size, seed=partitions + 1)
    spread, pids = driver.distributed(text, sales, count, fan_in, timeout=WAIT)
    local = jobs.single_process(text, sales, count)
    assert spread == local == model(text, sales, from_files)
    # first-occurrence order survives the partitioning and the merge tree
    for spread_dict, local_dict in zip(spread, local):
        assert list(spread_dict) == list(local_dict)
    if partitions:
        assert pids and os.getpid() not in pids


@pytest.mark.parametrize("tool, args", [
    (tv.compose(sum, tv.curry(tv.take)(3)), (range(10, 20),)),
    (tv.curry(tv.get_in)(["a", "b"]), ({"a": {"b": 7}},)),
    (tv.memoize(operator.add), (2, 3)),
    (tv.flip(operator.sub), (1, 10)),
    (tv.juxt(min, max, len), ([4, 1, 9],)),
    (operator.methodcaller("map", str), (tv.Some(4),)),
    (operator.methodcaller("and_then", tv.Ok), (tv.Ok([1, 2]),)),
    (operator.methodcaller("unwrap_or", 0), (tv.Nothing,)),
    (tv.merge_with, (sum, {"a": 1}, {"a": 2, "b": 3})),
    # an Iter is an iterator and stays where it was made; its pipelines run in the task
    (tv.compose_left(tv.Iter, operator.methodcaller("unique"),
                     operator.methodcaller("collect")), ("abca",)),
])
def test_callables_and_values_cross_to_workers(cluster, tool, args):
    driver, _ = cluster
    pid, result = ray.get(list(driver.in_worker.remote(tool, *args)), timeout=WAIT)
    assert pid != os.getpid()
    assert result == tool(*args)
