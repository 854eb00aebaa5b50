"""The typed example is also a working program: its calls and asserts hold at run time."""

import pathlib
import runpy


def test_typed_example_runs(capsys):
    path = pathlib.Path(__file__).parent / "typing" / "example_typed.py"
    runpy.run_path(str(path), run_name="__main__")
    assert capsys.readouterr().out.strip().endswith("typed example ran")
