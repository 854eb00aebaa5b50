"""Scaling out: tarvel's tools inside the tasks of a process-based engine.

When data outgrows one process, split it into partitions, run tarvel on each partition in a
worker process, and combine the partial results, also in workers. The engine here is the
standard library's process pool with the "spawn" start method: no worker shares memory with
the driver, so every function object and every value a task carries crosses the process
boundary by pickling, tarvel's own callables (compose, curry, merge_with, ...) included.

Two jobs, each checked against the same computation done in one process:

- a word count over many text partitions: `frequencies` per partition, then the partial
  counts merged with `merge_with(sum)` in a tree of merge tasks;
- per-region sales: `groupby` (records per region) and `reduceby` (total per region) on each
  partition, then merged with `merge_with`.

    python examples/parallel_wordcount.py [--workers 2] [--partitions 48]
"""

import argparse
import concurrent.futures
import multiprocessing
import operator
import random
import sys

import tarvel as tv

WORDS = ("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron "
         "pi rho sigma tau upsilon phi chi psi omega").split()
REGIONS = ("north", "south", "east", "west", "centre")

# What the tasks run: built from tarvel's callables and the standard library's, so that each
# one pickles by value and is rebuilt in the worker.
count_words = tv.compose(tv.frequencies, tv.curry(tv.mapcat)(str.split))
region = operator.itemgetter(0)
concat_lists = tv.compose(list, tv.concat)


def add_amount(total, record):
    """reduceby's step: the running total of a region plus one sale's amount."""
    return total + record[2]


def group_by_region(records):
    return tv.groupby(region, records)


def total_by_region(records):
    return tv.reduceby(region, add_amount, records, 0)


def make_text(n_partitions, lines_per_partition, seed=0):
    """Text partitions: lists of lines of words drawn from a skewed vocabulary."""
    rng = random.Random(seed)
    weights = [1.0 / (rank + 1) for rank in range(len(WORDS))]
    return [[" ".join(rng.choices(WORDS, weights, k=rng.randint(0, 12)))
             for _ in range(lines_per_partition)]
            for _ in range(n_partitions)]


def make_sales(n_partitions, records_per_partition, seed=1):
    """Sales partitions: lists of (region, product id, amount) records."""
    rng = random.Random(seed)
    return [[(rng.choice(REGIONS), rng.randrange(100), rng.randrange(1, 500))
             for _ in range(records_per_partition)]
            for _ in range(n_partitions)]


def tree_merge(pool, combine, parts, fan_in=8):
    """Merges the partial dictionaries with merge_with(combine), fan_in at a time, in the
    workers, until one is left. Chunks stay in partition order, so order-sensitive merges
    (concatenating lists) give what one process would."""
    parts = list(parts)
    if not parts:
        return {}
    while len(parts) > 1:
        futures = [pool.submit(tv.merge_with, combine, *parts[i:i + fan_in])
                   for i in range(0, len(parts), fan_in)]
        parts = [f.result() for f in futures]
    return parts[0]


def distributed(pool, text, sales):
    words = tree_merge(pool, sum, pool.map(count_words, text))
    groups = tree_merge(pool, concat_lists, pool.map(group_by_region, sales))
    totals = tree_merge(pool, sum, pool.map(total_by_region, sales))
    return words, groups, totals


def single_process(text, sales):
    all_lines = [line for part in text for line in part]
    all_sales = [rec for part in sales for rec in part]
    return (tv.frequencies(w for line in all_lines for w in line.split()),
            tv.groupby(region, all_sales),
            tv.reduceby(region, add_amount, all_sales, 0))


def run(workers=2, partitions=48, lines=200, records=300):
    """Both jobs on `workers` spawned processes and in this one; returns both results as
    (words, groups, totals) triples."""
    text = make_text(partitions, lines)
    sales = make_sales(partitions, records)
    ctx = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers, mp_context=ctx) as pool:
        spread = distributed(pool, text, sales)
    return spread, single_process(text, sales)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--workers", type=int, default=2)
    ap.add_argument("--partitions", type=int, default=48)
    args = ap.parse_args(argv)
    spread, local = run(args.workers, args.partitions)
    words, groups, totals = spread
    print(f"{sum(words.values())} words in {args.partitions} partitions on "
          f"{args.workers} worker processes; most common:")
    for word, n in sorted(words.items(), key=lambda kv: -kv[1])[:5]:
        print(f"  {word:<10} {n}")
    print("sales per region:")
    for name in sorted(totals):
        print(f"  {name:<10} {len(groups[name]):>6} sales, total {totals[name]}")
    same = spread == local
    print("same as one process:", "yes" if same else "NO")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
