"""The job code that both scaling-out drivers run: parallel_wordcount.py on the standard
library's process pool and ray_wordcount.py on a Ray cluster. Only the engine differs; the
data, the tasks and the way partial results are combined live here once.

Two jobs over partitioned data:

- a word count: `frequencies` per partition of text, then the partial counts merged with
  `merge_with(sum)` in a tree of merge tasks;
- per-region sales: `groupby` (records per region) and `reduceby` (total per region) per
  partition, merged the same way.

Every task is built from tarvel's callables and the standard library's, or is a plain
module-level function, so it pickles and is rebuilt in a worker process.
"""

import operator
import os
import random
import sysconfig

import tarvel as tv

REGIONS = ("north", "south", "east", "west", "centre")
WORDS = ("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron "
         "pi rho sigma tau upsilon phi chi psi omega").split()

# Lines in, counts out: a composition of tarvel callables pickles by value.
count_words = tv.compose(tv.frequencies, tv.curry(tv.mapcat)(str.split))
region = operator.itemgetter(0)
concat_lists = tv.compose(list, tv.concat)


def read_lines(paths):
    """The lines of the files, read in the worker: tasks carry file names, not text."""
    for path in paths:
        with open(path, encoding="utf-8", errors="replace") as f:
            yield from f


# File names in, counts out.
count_files = tv.compose(count_words, read_lines)


def add_amount(total, record):
    """reduceby's step: the running total of a region plus one sale's amount."""
    return total + record[2]


def group_by_region(records):
    return tv.groupby(region, records)


def total_by_region(records):
    return tv.reduceby(region, add_amount, records, 0)


def in_worker(tool, *args):
    """Runs one tool in a task and says where: (process id, result). A plain function, so
    engines that accept only Python functions as tasks can run any of tarvel's tools."""
    return os.getpid(), tool(*args)


def source_files(root=None):
    """The Python sources under root (by default the standard library's, without
    site-packages), in a fixed order: real text that every machine with Python has."""
    root = root or sysconfig.get_paths()["stdlib"]
    found = []
    for top, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in ("site-packages", "__pycache__"))
        found += [os.path.join(top, name) for name in sorted(files) if name.endswith(".py")]
    return found


def text_partitions(n_partitions, root=None):
    """n_partitions tuples of file names, dealt round-robin so their sizes are alike."""
    files = source_files(root)
    return [tuple(files[i::n_partitions]) for i in range(n_partitions)]


def make_text(n_partitions, lines_per_partition, seed=0):
    """Synthetic text partitions: lists of lines of words drawn from a skewed vocabulary
    (small and reproducible, for trying the engines out)."""
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


def plan(text, sales, count=count_files):
    """The three jobs as (task per partition, combine for merge_with, partitions); `count`
    is count_files for partitions of file names, count_words for partitions of lines."""
    return ((count, sum, text),
            (group_by_region, concat_lists, sales),
            (total_by_region, sum, sales))


def tree_merge(merge, parts, fan_in=8):
    """Combines parts fan_in at a time with merge(chunk) until one is left, and returns it
    (None when there are no parts). What a part is (a value, a future, an object
    reference) is the engine's business. Chunks stay in partition order, so
    order-sensitive merges (concatenating lists) give what one process would."""
    if fan_in < 2:
        raise ValueError("fan_in must be at least 2")
    parts = list(parts)
    while len(parts) > 1:
        parts = [merge(parts[i:i + fan_in]) for i in range(0, len(parts), fan_in)]
    return parts[0] if parts else None


def single_process(text, sales, count=count_files):
    """The same three jobs in this process, over all partitions at once."""
    all_sales = list(tv.concat(sales))
    return (count(tv.concat(text)),
            tv.groupby(region, all_sales),
            tv.reduceby(region, add_amount, all_sales, 0))
