# A typed Iter chain: mypy --strict accepts it; the revealed types follow the chain.
import operator

from tarvel._tarvel import Iter, NothingType, Some

words: Iter[str] = Iter(["a", "bb", "a"])
shown: list[str] = Iter(range(10)).filter(lambda x: x % 2).map(str).take(2).collect()
total: int = words.map(len).reduce(operator.add)
joined: str = words.reduce(lambda acc, w: acc + w, "")
pairs: dict[str, int] = Iter([("a", 1), ("b", 2)]).to_dict()
counts: dict[str, int] = words.flat_map(list).unique().frequencies()
head: Some[str] | NothingType = words.nth(1)
reveal_type(Iter[int]([1]).map(str))
reveal_type(words.map(len).sliding_window(2))
reveal_type(words.group_by(len))
reveal_type(words.first())
