"""The README's first script runs as written."""
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def test_the_first_script_runs(tmp_path, monkeypatch, capsys):
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        script = re.search(r"## A first script\n\n```python\n(.*?)```", f.read(), re.S).group(1)
    monkeypatch.chdir(tmp_path)
    exec(compile(script, "README.md", "exec"), {})
    assert (tmp_path / "frame.png").exists()
    assert "Invalid Red Intensity." in capsys.readouterr().out
