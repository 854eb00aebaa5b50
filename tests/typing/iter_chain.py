# A typed use of Iter: mypy --strict must accept it and infer the element types that
# follow the chain (checked with reveal_type in the test that runs mypy).
import operator

from tarvel._tarvel import Iter, NothingType, Some

words: Iter[str] = Iter(["a", "bb", "a"])
lengths: Iter[int] = words.map(len)
shown: list[str] = Iter(range(10)).filter(lambda x: x % 2).map(str).take(2).collect()
windows: Iter[tuple[int, ...]] = lengths.sliding_window(2)
groups: dict[int, list[str]] = words.group_by(len)
head: Some[str] | NothingType = words.first()
total: int = lengths.reduce(operator.add)
joined: str = words.reduce(lambda acc, w: acc + w, "")
pairs: dict[str, int] = Iter([("a", 1), ("b", 2)]).to_dict()
flat: list[int] = Iter([[1], [2, 3]]).flat_map(lambda xs: xs).collect()
counts: dict[str, int] = words.unique().frequencies()
reveal_type(Iter[int]([1]).map(str))
reveal_type(lengths.sliding_window(2))
reveal_type(words.group_by(len))
reveal_type(words.first())
