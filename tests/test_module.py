"""The module frame: import, registration order, exported symbols, internal errors."""

import os
import subprocess
import sys
import sysconfig
import textwrap

import pytest

import tarvel
import tarvel._tarvel as m

# The order of __all__ is stated once, by the module's own registration table; these tests
# take it from the module.


def test_all_lists_exactly_the_public_attributes():
    assert isinstance(m.__all__, list)
    assert len(set(m.__all__)) == len(m.__all__)
    public = [k for k in vars(m) if not k.startswith("_")]
    assert sorted(public) == sorted(m.__all__)


def test_every_listed_name_is_an_attribute():
    for name in m.__all__:
        obj = getattr(m, name)
        if isinstance(obj, type):
            assert obj.__module__ == "tarvel._tarvel"
            assert obj.__name__ == name


def test_package_metadata():
    assert tarvel.__version__
    assert tarvel.__all__ == list(m.__all__)


def test_internal_types_are_not_exported():
    for hidden in ("PanicException", "InterposeIter", "SlidingWindowIter", "UniqueIter",
                   "UniqueIntIter", "PluckIter", "empty_iter"):
        assert not hasattr(m, hidden)


def test_native_iter_cannot_be_constructed():
    assert m.NativeIter.__module__ == "tarvel._tarvel"
    with pytest.raises(TypeError):
        m.NativeIter()


def test_only_init_symbol_is_exported():
    nm = subprocess.run(["nm", "-D", "--defined-only", m.__file__], capture_output=True,
                        text=True)
    if nm.returncode != 0:
        pytest.skip("nm not available")
    symbols = {line.split()[-1] for line in nm.stdout.splitlines() if line.strip()}
    assert symbols == {"PyInit__tarvel"}


def test_reimport_in_fresh_interpreter_and_gil_state():
    code = textwrap.dedent("""
        import sys
        import tarvel._tarvel as m
        assert m.__doc__ == ""
        first = m.take
        del sys.modules["tarvel._tarvel"], sys.modules["tarvel"]
        import tarvel._tarvel as m2
        assert m2.take is not first
        assert list(m2.take(2, [1, 2, 3])) == [1, 2]
        gil = getattr(sys, "_is_gil_enabled", lambda: True)()
        print("ok", gil)
    """)
    # A free-threaded interpreter keeps the lock off for this module, and says nothing
    # about it; a build with the lock keeps it on. An inherited PYTHON_GIL would decide
    # for the interpreter instead, so it is left out.
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    out = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True,
                         text=True, env=env)
    assert out.returncode == 0, out.stderr
    assert out.stderr == ""
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    assert out.stdout.split() == ["ok", str(not free_threaded)]


def test_type_stubs_declare_every_name_and_list_them_in_module_order():
    import ast
    import os

    stub = os.path.join(os.path.dirname(tarvel.__file__), "_tarvel.pyi")
    if not os.path.exists(stub):
        pytest.skip("stubs not installed")
    tree = ast.parse(open(stub).read())
    declared = []
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            declared.append(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            declared.append(node.target.id)
    assert set(m.__all__) <= set(declared), sorted(set(m.__all__) - set(declared))
    # A base class must come before its subclasses, so the stub states the order in its own
    # __all__ rather than by where things are declared.
    listed = [ast.literal_eval(node.value) for node in tree.body
              if isinstance(node, (ast.Assign, ast.AnnAssign))
              and any(isinstance(t, ast.Name) and t.id == "__all__"
                      for t in getattr(node, "targets", [getattr(node, "target", None)]))]
    assert listed == [m.__all__]
