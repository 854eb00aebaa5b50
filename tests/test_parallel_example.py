"""examples/parallel_wordcount.py: the tools inside tasks on spawned worker processes give
what one process gives, and both agree with a plain Python model."""

import collections
import json
import concurrent.futures
import multiprocessing
import os
import subprocess
import sys

import pytest

import tarvel

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
NEEDED = ("merge_with", "groupby", "reduceby")


@pytest.fixture(scope="module")
def example():
    missing = [name for name in NEEDED if not hasattr(tarvel, name)]
    if missing:
        pytest.skip(f"tarvel has no {', '.join(missing)} yet")
    if not os.path.isdir(EXAMPLES):
        pytest.skip("examples/ not shipped")
    # Spawned workers get the parent's sys.path, so they import the job module by this name.
    sys.path.insert(0, EXAMPLES)
    try:
        import parallel_wordcount
        import wordcount_jobs
        yield parallel_wordcount, wordcount_jobs
    finally:
        sys.path.remove(EXAMPLES)


@pytest.fixture(scope="module")
def pool(example):
    ctx = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(max_workers=2, mp_context=ctx) as p:
        yield p


def model(text, sales):
    words = collections.Counter(w for part in text for line in part for w in line.split())
    groups, totals = {}, {}
    for rec in (r for part in sales for r in part):
        groups.setdefault(rec[0], []).append(rec)
        totals[rec[0]] = totals.get(rec[0], 0) + rec[2]
    return dict(words), groups, totals


@pytest.mark.parametrize("partitions, lines, records, fan_in", [
    (1, 30, 40, 8),
    (13, 40, 60, 2),     # several merge rounds, a ragged last chunk
    (24, 60, 80, 8),
    (9, 0, 0, 3),        # empty partitions merge to empty results
])
def test_workers_match_one_process_and_model(example, pool, partitions, lines, records, fan_in):
    driver, jobs = example
    text = jobs.make_text(partitions, lines, seed=partitions)
    sales = jobs.make_sales(partitions, records, seed=partitions + 1)
    spread, pids = driver.distributed(pool, text, sales, jobs.count_words, fan_in)
    local = jobs.single_process(text, sales, jobs.count_words)
    assert spread == local == model(text, sales)
    assert pids and os.getpid() not in pids
    # first-occurrence order survives the partitioning and the merge tree
    for spread_dict, local_dict in zip(spread, local):
        assert list(spread_dict) == list(local_dict)


def test_script_end_to_end(example):
    # As a script the task functions live in __main__: the workers must find them there too.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        p for p in (os.path.dirname(os.path.dirname(tarvel.__file__)),
                    os.environ.get("PYTHONPATH")) if p))
    out = subprocess.run(
        [sys.executable, os.path.join(EXAMPLES, "parallel_wordcount.py"), "--partitions", "6",
         "--source", os.path.dirname(json.__file__)],
        capture_output=True, text=True, timeout=300, env=env)
    assert out.returncode == 0, out.stderr
    assert "same as one process: yes" in out.stdout
