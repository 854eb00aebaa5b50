"""Scaling out: tarvel's tools inside the tasks of a process-based engine.

When data outgrows one process, split it into partitions, run tarvel on each partition in a
worker process, and combine the partial results, also in workers. The engine here is the
standard library's process pool with the "spawn" start method: no worker shares memory with
the driver, so every function object and every value a task carries crosses the process
boundary by pickling, tarvel's own callables (compose, curry, merge_with, ...) included.
ray_wordcount.py runs the same jobs (wordcount_jobs.py) on a Ray cluster.

Both jobs are checked against the same computation done in one process:

- a word count over the standard library's sources in many partitions: `frequencies` per
  partition, then the partial counts merged with `merge_with(sum)` in a tree of merge tasks;
- per-region sales: `groupby` (records per region) and `reduceby` (total per region) on each
  partition, then merged with `merge_with`.

    python examples/parallel_wordcount.py [--workers 2] [--partitions 48]
"""

import argparse
import concurrent.futures
import multiprocessing
import os
import sys
import time

import tarvel as tv

import wordcount_jobs as jobs


def distributed(pool, text, sales, count=jobs.count_files, fan_in=8):
    """The three jobs on the pool's workers: ((words, groups, totals), worker pids)."""
    pids = set()

    def value(future):
        pid, result = future.result()
        pids.add(pid)
        return result

    def merger(combine):
        # A merge task is submitted once its chunk's inputs are done; the map tasks of every
        # job are queued before the first merge waits.
        return lambda chunk: pool.submit(jobs.in_worker, tv.merge_with, combine,
                                         *map(value, chunk))

    queued = [(combine, [pool.submit(jobs.in_worker, task, part) for part in parts])
              for task, combine, parts in jobs.plan(text, sales, count)]
    results = []
    for combine, futures in queued:
        top = jobs.tree_merge(merger(combine), futures, fan_in)
        results.append({} if top is None else value(top))
    return tuple(results), pids


def run(workers=2, partitions=48, records=300, root=None):
    """Both jobs on `workers` spawned processes and in this one: (spread, local, pids,
    seconds the pool took)."""
    text = jobs.text_partitions(partitions, root)
    sales = jobs.make_sales(partitions, records)
    ctx = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers, mp_context=ctx) as pool:
        start = time.perf_counter()
        spread, pids = distributed(pool, text, sales)
        seconds = time.perf_counter() - start
    return spread, jobs.single_process(text, sales), pids, seconds


def report(spread, local, pids, partitions, engine):
    """Prints the results and where they were computed; True when they match one process."""
    words, groups, totals = spread
    print(f"{sum(words.values())} words ({len(words)} distinct) in {partitions} partitions "
          f"on {engine}; most common:")
    for word, n in sorted(words.items(), key=lambda kv: -kv[1])[:5]:
        print(f"  {word:<10} {n}")
    print("sales per region:")
    for name in sorted(totals):
        print(f"  {name:<10} {len(groups[name]):>6} sales, total {totals[name]}")
    others = sorted(pids - {os.getpid()})
    print(f"tasks ran in {len(others)} other processes (driver {os.getpid()}):",
          " ".join(map(str, others)))
    same = spread == local
    print("same as one process:", "yes" if same else "NO")
    return same and bool(others) and os.getpid() not in pids


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--workers", type=int, default=2)
    ap.add_argument("--partitions", type=int, default=48)
    ap.add_argument("--source", help="directory of .py files to count (default: the "
                    "standard library's)")
    args = ap.parse_args(argv)
    spread, local, pids, seconds = run(args.workers, args.partitions, root=args.source)
    print(f"jobs on the process pool: {seconds:.2f} s")
    ok = report(spread, local, pids, args.partitions, f"{args.workers} pool workers")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
