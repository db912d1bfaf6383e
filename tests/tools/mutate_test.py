#!/usr/bin/env python3
"""The mutation runner on a scratch repository, with stand-in build and test
commands: every mutant is put in and taken out byte for byte, comments,
strings and directives are left alone, and the outcomes are reported as the
stand-in test decides them.

Usage: mutate_test.py PATH/TO/mutate.py
"""

import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

# CR LF on one line, a non-ASCII byte and no final newline: restoring must
# keep them all.
SOURCE = (
    b"// i < n in a comment\n"
    b"#if LIMIT > 1\n"
    b"int clampIndex(int i, int n) {\r\n"
    b'    const char* s = "i == n";\n'
    b"    if (i < 0) return 0;\n"
    b"    if (i >= n) return n - 1;\n"
    b"    return i;  // \xc3\xa9\n"
    b"}"
)
# The stand-in test passes while line 5 is intact, so every mutant of line 6
# survives; the stand-in build refuses 'n - 2'.
TEST_CMD = 'cp btree/calc.cpp "$SNAPSHOTS/$(date +%s%N)" && grep -q "if (i < 0) return 0;" btree/calc.cpp'
BUILD_CMD = '! grep -q "n - 2" btree/calc.cpp'

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def git(repo, *args):
    subprocess.run(["git", "-C", str(repo), *args], check=True, stdout=subprocess.DEVNULL)


def mutate(runner, repo, *args, env=None):
    done = subprocess.run(
        [sys.executable, runner, "--repo", str(repo), *args],
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        env=env,
    )
    out = done.stdout.decode()
    check(done.returncode == 0, f"mutate.py {' '.join(args)} exited {done.returncode}:\n{out}")
    return out


def main(runner):
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        repo, work, snapshots = tmp / "repo", tmp / "work", tmp / "snapshots"
        (repo / "btree").mkdir(parents=True)
        snapshots.mkdir()
        (repo / "btree" / "calc.cpp").write_bytes(SOURCE)
        git(repo, "init", "-q")
        identity = ["-c", "user.name=t", "-c", "user.email=t@t", "-c", "commit.gpgsign=false"]
        git(repo, *identity, "commit", "-q", "--allow-empty", "-m", "empty")
        # Uncommitted, as a developer's change is before they stop.
        git(repo, "add", "btree/calc.cpp")

        listing = mutate(runner, repo, "--list", "--count", "0")
        lines = {int(n) for n in re.findall(r"calc\.cpp:(\d+):", listing)}
        check(lines == {5, 6}, f"mutants only on the code lines 5 and 6, got lines {sorted(lines)}:\n{listing}")
        ids = dict(re.findall(r"^(\w+) +\w+ +btree/calc\.cpp:(\d+: '.*?' -> '.*?')", listing, re.M))
        by_change = {change: ident for ident, change in ids.items()}
        check(len(ids) == 8, f"8 mutants (4 a line), got {len(ids)}:\n{listing}")
        check(
            mutate(runner, repo, "--list", "--count", "3", "--seed", "7")
            == mutate(runner, repo, "--list", "--count", "3", "--seed", "7"),
            "the same seed picks the same sample",
        )

        equivalent = by_change.get("6: '1' -> '0'")
        (repo / "tools").mkdir()
        (repo / "tools" / "mutate-equivalent.txt").write_text(f"# listed\n{equivalent} btree/calc.cpp: a test\n")
        env = dict(os.environ, SNAPSHOTS=str(snapshots))
        run_args = ["--count", "0", "--work", str(work), "--build-cmd", BUILD_CMD, "--test-cmd", TEST_CMD]
        out = mutate(runner, repo, *run_args, env=env)

        check((work / "src" / "btree" / "calc.cpp").read_bytes() == SOURCE, "the clone's file is restored")
        check((repo / "btree" / "calc.cpp").read_bytes() == SOURCE, "the repository's file is untouched")
        original = SOURCE.split(b"\n")
        seen = [p.read_bytes() for p in sorted(snapshots.iterdir())]
        check(len(seen) == 7, f"the baseline and the 6 mutants that built were tested, got {len(seen)}")
        for image in seen[1:]:
            lines = image.split(b"\n")
            differ = [k for k in range(len(original)) if k >= len(lines) or lines[k] != original[k]]
            check(len(lines) == len(original) and len(differ) == 1, f"a mutant changes one line only:\n{image!r}")

        def outcome(text):
            m = re.search(r"^\[\d+/\d+\] (\w+(?: to build)?) +\w+ btree/calc\.cpp:" + re.escape(text), out, re.M)
            return m.group(1) if m else None

        for change, expected in [
            ("5: '<' -> '<='", "killed"),
            ("5: 'return 0;' -> '{}'", "killed"),
            ("6: '>=' -> '>'", "survived"),
            ("6: 'return n - 1;' -> '{}'", "survived"),
            ("6: '1' -> '2'", "failed to build"),
            ("6: '1' -> '0'", "equivalent"),
        ]:
            check(outcome(change) == expected, f"{change}: expected {expected}, got {outcome(change)}")
        check("score: 4 of 6 non-equivalent mutants killed (66.7%)" in out, f"the score:\n{out}")

    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
