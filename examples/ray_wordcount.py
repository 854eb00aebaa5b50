"""Scaling out on Ray: the jobs of parallel_wordcount.py (wordcount_jobs.py) as Ray tasks.

Without --address the driver starts a local cluster of its own (two CPUs, bound to
loopback, no dashboard, its files under build/ray) and shuts it down at the end; with
--address it joins a running cluster instead, and that cluster's worker processes run the
tasks. Each partial result is an object reference: the merge tasks take references as
arguments, so the whole tree of tasks is submitted at once and Ray runs each task as soon
as its inputs exist. Results are checked against one process.

    python examples/ray_wordcount.py [--partitions 48] [--address HOST:PORT]
"""

import argparse
import logging
import os
import sys
import tempfile
import time

import ray

import tarvel as tv

import parallel_wordcount
import wordcount_jobs as jobs

HERE = os.path.dirname(os.path.abspath(__file__))

# ray.remote(tv.frequencies) is refused ("The @ray.remote decorator must be applied to either
# a function or a class"): tarvel's tools are built-in functions. A plain Python function
# that calls the tool it is given makes a task of any of them, and of tarvel's callables
# (curry, compose, memoize objects) too. Its two results, the worker's process id and the
# tool's result, become two object references.
in_worker = ray.remote(num_returns=2)(jobs.in_worker)


def temp_dir():
    """build/ray beside the examples. Ray puts Unix sockets under it, and a socket path is
    limited to about 107 bytes, so a deep checkout falls back to a short directory."""
    path = os.path.join(os.path.dirname(HERE), "build", "ray")
    if len(path) > 40:
        path = tempfile.mkdtemp(prefix="tarvel-ray-")
    os.makedirs(path, exist_ok=True)
    return path


def start(address=None, num_cpus=2):
    """Joins the cluster at `address`, or starts a local one; returns the seconds it took."""
    began = time.perf_counter()
    # Tasks refer to the job module's functions by name, so every worker imports it: Ray
    # ships the workers a copy (they need not share the driver's files or sys.path).
    common = dict(logging_level=logging.WARNING, runtime_env={"py_modules": [jobs]})
    if address:
        ray.init(address=address, **common)
    else:
        ray.init(num_cpus=num_cpus, include_dashboard=False, _node_ip_address="127.0.0.1",
                 _temp_dir=temp_dir(), **common)
    return time.perf_counter() - began


def distributed(text, sales, count=jobs.count_files, fan_in=8, timeout=None):
    """The three jobs as Ray tasks: ((words, groups, totals), worker pids)."""
    pid_refs = []

    def submit(tool, *args):
        pid, result = in_worker.remote(tool, *args)
        pid_refs.append(pid)
        return result

    tops = []
    for task, combine, parts in jobs.plan(text, sales, count):
        def merge(chunk, combine=combine):
            return submit(tv.merge_with, combine, *chunk)
        tops.append(jobs.tree_merge(merge, [submit(task, part) for part in parts], fan_in))
    done = iter(ray.get([top for top in tops if top is not None], timeout=timeout))
    results = tuple({} if top is None else next(done) for top in tops)
    return results, set(ray.get(pid_refs, timeout=timeout))


def run(partitions=48, records=300, root=None, address=None, timeout=None):
    """(spread, local, pids, cluster start seconds, job seconds); the cluster is shut
    down before it returns."""
    text = jobs.text_partitions(partitions, root)
    sales = jobs.make_sales(partitions, records)
    started = start(address)
    try:
        began = time.perf_counter()
        spread, pids = distributed(text, sales, timeout=timeout)
        seconds = time.perf_counter() - began
    finally:
        ray.shutdown()
    return spread, jobs.single_process(text, sales), pids, started, seconds


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--partitions", type=int, default=48)
    ap.add_argument("--source", help="directory of .py files to count (default: the "
                    "standard library's)")
    ap.add_argument("--address", help="a running cluster to join, e.g. 10.0.0.5:6379 "
                    "(default: start a local one)")
    ap.add_argument("--timeout", type=float, default=600,
                    help="seconds to wait for the results")
    args = ap.parse_args(argv)
    spread, local, pids, started, seconds = run(args.partitions, root=args.source,
                                                address=args.address, timeout=args.timeout)
    print(f"cluster {'joined' if args.address else 'started'} in {started:.2f} s; "
          f"jobs on Ray: {seconds:.2f} s")
    ok = parallel_wordcount.report(spread, local, pids, args.partitions, "Ray workers")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
