#!/usr/bin/env python3
"""Mutation runner: how many one-line faults in the product's sources do the tests catch?

It makes one-line mutants from the C++ sources (a relational operator turned
into its neighbour, an integer constant moved by one, && swapped with ||, a
guard's return dropped, a subscript moved by one), picks a sample of them by
seed, and runs each in a scratch clone of the repository: apply the mutant,
build incrementally, run the tests, restore the file byte for byte.  A mutant
the tests catch is killed; one they pass with survived; one that does not
compile failed to build.  The score is the share of killed among the mutants
that built, leaving out those that tools/mutate-equivalent.txt lists as unable
to change any behaviour.

    python3 tools/mutate.py --list --count 20 --seed 1    # the sample only
    python3 tools/mutate.py --count 20 --seed 1           # run it
    python3 tools/mutate.py --files btree/datum.cpp --count 0

Python 3 standard library only.  Nothing in the build depends on it.
"""

import argparse
import hashlib
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

DEFAULT_FOLDERS = ["btree/", "support/", "platform/", "viewer/", "journal/", "tools/jbbtool/", "tools/jbbgen/"]
SOURCE_SUFFIXES = (".cpp", ".h", ".hpp", ".cc")
EQUIVALENTS = "tools/mutate-equivalent.txt"

# Mutant kinds.  Comparisons and guards get more weight in the sample than
# constants on lines without a comparison or subscript, which are mostly
# table data and sizes.
RELATIONAL, LOGICAL, CONSTANT, GUARD, INDEX = "relational", "logical", "constant", "guard", "index"
BOUND_WEIGHT, PLAIN_WEIGHT = 3.0, 1.0

SWAP_RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
SWAP_LOGICAL = {"&&": "||", "||": "&&"}
# An operator counts only between blanks, as clang-format writes binary
# operators: that keeps template brackets, <<, >> and -> out.
OPERATOR_RE = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>|&&|\|\|)(?=\s)")
COMPARISON_RE = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)")
INTEGER_RE = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")
RAW_STRING_RE = re.compile(r'(?<![\w])(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(')
# Trace calls only say what the code does; their arguments are not worth a build.
TRACE_LINE_RE = re.compile(r"^\s*[A-Z_]*TRACE[A-Z_]*\s*\(")
# Sources only the Windows build compiles: a mutant there cannot fail a Linux test.
NOT_BUILT_RE = re.compile(r"_win32\.[a-z]+$")
ONE_LINE_GUARD_RE = re.compile(r"^\s*(?:\}\s*)?(?:else\s+)?if\s*\(.*\)\s*(return\b[^;]*;)\s*$")
IF_HEAD_RE = re.compile(r"^\s*(?:\}\s*)?(?:else\s+)?if\s*\(.*\)\s*$")
RETURN_LINE_RE = re.compile(r"^\s*(return\b[^;]*;)\s*$")
DECLARATION_KEYWORDS = {"return", "case", "else", "do", "throw", "co_return", "co_yield"}


@dataclass
class Mutant:
    path: str  # relative to the repository, with forward slashes
    line: int  # 1-based
    column: int  # 0-based, in the line's text
    kind: str
    old: str  # the text replaced
    new: str  # the text put in its place
    original: str  # the whole line, without its line end
    mutated: str
    weight: float
    ident: str = ""

    def where(self):
        return f"{self.path}:{self.line}"

    def describe(self):
        old = self.old.strip() or "(nothing)"
        new = self.new.strip() or "(nothing)"
        context = "" if self.mutated.strip() == self.new.strip() else f" in: {self.mutated.strip()}"
        return f"{self.where()}: '{old}' -> '{new}'{context}"


# ----------------------------------------------------------------------------
# Reading sources


def scrub(lines):
    """Returns each line with comments and the contents of string and character
    literals blanked out (same length, quotes kept), or None for preprocessor
    lines, so that mutants are made from code only."""
    out = []
    in_comment = False
    raw_end = None  # the ')delim"' that closes an open raw string literal
    continued_directive = False
    for text in lines:
        if continued_directive or (not in_comment and raw_end is None and text.lstrip().startswith("#")):
            continued_directive = text.endswith("\\")
            out.append(None)
            continue
        chars = list(text)
        i, n = 0, len(text)
        while i < n:
            raw = None if in_comment or raw_end else RAW_STRING_RE.match(text, i)
            if raw_end is not None or raw:
                if raw:
                    raw_end = ")" + raw.group(1) + '"'
                    i = raw.end()
                j = text.find(raw_end, i)
                end = n if j < 0 else j
                chars[i:end] = " " * (end - i)
                i = n if j < 0 else j + len(raw_end)
                raw_end = raw_end if j < 0 else None
            elif in_comment:
                j = text.find("*/", i)
                end = n if j < 0 else j + 2
                chars[i:end] = " " * (end - i)
                in_comment = j < 0
                i = end
            elif text.startswith("//", i):
                chars[i:n] = " " * (n - i)
                break
            elif text.startswith("/*", i):
                in_comment = True
                chars[i : i + 2] = "  "
                i += 2
            elif text[i] in "\"'":
                quote, j = text[i], i + 1
                while j < n and text[j] != quote:
                    j += 2 if text[j] == "\\" else 1
                j = min(j, n)
                chars[i + 1 : j] = " " * (j - i - 1)
                i = j + 1
            else:
                i += 1
        out.append("".join(chars))
    return out


def block_openers(code):
    """For each line, the code before the '{' of the innermost block open at
    its start ('' outside any block)."""
    openers, stack, previous = [], [], ""
    for s in code:
        openers.append(stack[-1] if stack else "")
        if s is None:
            continue
        for m in re.finditer(r"[{}]", s):
            if m.group() == "{":
                before = s[: m.start()]
                stack.append(before if before.strip() else previous)
            elif stack:
                stack.pop()
        if s.strip():
            previous = s
    return openers


def split_lines(data):
    """Splits bytes into (text, line end) pairs; the text is decoded so that
    any byte comes back unchanged."""
    pieces = []
    for raw in data.splitlines(keepends=True):
        body = raw.rstrip(b"\r\n")
        pieces.append((body.decode("utf-8", "surrogateescape"), raw[len(body) :]))
    return pieces


def join_lines(pieces):
    return b"".join(text.encode("utf-8", "surrogateescape") + end for text, end in pieces)


# ----------------------------------------------------------------------------
# Making mutants


def replace(text, start, end, new):
    return text[:start] + new + text[end:]


def constant_variants(literal):
    digits, _ = literal
    value = int(digits, 16) if digits[:2] in ("0x", "0X") else int(digits)
    for moved in (value + 1, value - 1):
        if moved < 0:
            continue
        if digits[:2] in ("0x", "0X"):
            hexdigits = digits[2:]
            text = format(moved, "X" if hexdigits.upper() == hexdigits else "x")
            yield digits[:2] + text.zfill(len(hexdigits))
        else:
            yield str(moved)


def is_declaration(s, name_start):
    """True when the subscripted name is being declared ('uint8_t buf[16]'),
    or allocated ('new T[n]'): moving its size is not a bound check."""
    before = s[:name_start].rstrip()
    if not before:
        return False
    m = re.search(r"([\w:>*&]+)$", before)
    if not m:
        return False
    word = m.group(1)
    return word == "new" or (word not in DECLARATION_KEYWORDS and not word.isdigit())


def index_mutants(s, text):
    for m in re.finditer(r"(?<=[\w)\]])\[(?!\[)", s):
        open_at = m.start()
        depth, close_at = 0, -1
        for k in range(open_at, len(s)):
            if s[k] == "[":
                depth += 1
            elif s[k] == "]":
                depth -= 1
                if depth == 0:
                    close_at = k
                    break
        inner = s[open_at + 1 : close_at] if close_at > 0 else ""
        if not inner.strip() or '"' in inner or "'" in inner:
            continue
        name = re.search(r"[\w.>:-]*$", s[:open_at])
        if s[open_at - 1] not in ")]" and is_declaration(s, name.start()):
            continue
        expr = text[open_at + 1 : close_at].strip()
        if INTEGER_RE.fullmatch(expr):
            continue  # a constant subscript is moved as a constant
        simple = re.fullmatch(r"[\w.]+(?:->[\w.]+)*", expr)
        base = expr if simple else f"({expr})"
        for step in (" + 1", " - 1"):
            yield open_at + 1, close_at, text[open_at + 1 : close_at], base + step


def line_mutants(path, number, text, s, opener, previous_code, next_code):
    """Yields the mutants of one line: text is the line, s its scrubbed code."""
    if s is None or not s.strip():
        return
    bound = bool(COMPARISON_RE.search(" " + s + " ")) or bool(re.search(r"[\w)\]]\[", s))

    def make(kind, start, end, new, weight):
        old = text[start:end]
        return Mutant(path, number, start, kind, old, new, text, replace(text, start, end, new), weight)

    padded = " " + s + " "
    for m in OPERATOR_RE.finditer(padded):
        op, at = m.group(), m.start() - 1
        if op in SWAP_LOGICAL:
            yield make(LOGICAL, at, at + len(op), SWAP_LOGICAL[op], BOUND_WEIGHT)
        else:
            yield make(RELATIONAL, at, at + len(op), SWAP_RELATIONAL[op], BOUND_WEIGHT)
    for m in INTEGER_RE.finditer(s):
        for moved in constant_variants(m.groups()):
            yield make(CONSTANT, m.start(1), m.end(1), moved, BOUND_WEIGHT if bound else PLAIN_WEIGHT)
    guard = ONE_LINE_GUARD_RE.match(s)
    if not guard:
        lone = RETURN_LINE_RE.match(s)
        in_if_block = re.search(r"\bif\s*\(", opener) and next_code is not None and next_code.lstrip().startswith("}")
        after_if_head = previous_code is not None and IF_HEAD_RE.match(previous_code)
        if lone and (in_if_block or after_if_head):
            guard = lone
    if guard:
        yield make(GUARD, guard.start(1), guard.end(1), "{}", BOUND_WEIGHT)
    for start, end, _, new in index_mutants(s, text):
        yield make(INDEX, start, end, new, BOUND_WEIGHT)


def file_mutants(repo, path):
    pieces = split_lines((repo / path).read_bytes())
    texts = [text for text, _ in pieces]
    code = scrub(texts)
    openers = block_openers(code)
    code_lines = [i for i, s in enumerate(code) if s is not None and s.strip()]
    neighbours = {}
    for k, i in enumerate(code_lines):
        prev_line = code[code_lines[k - 1]] if k > 0 else None
        next_line = code[code_lines[k + 1]] if k + 1 < len(code_lines) else None
        neighbours[i] = (prev_line, next_line)
    seen = {}
    in_trace = False
    for i in code_lines:
        if in_trace or TRACE_LINE_RE.match(code[i]):
            in_trace = not code[i].rstrip().endswith(";")
            continue
        previous_code, next_code = neighbours[i]
        for mutant in line_mutants(path, i + 1, texts[i], code[i], openers[i], previous_code, next_code):
            # The id names the change, not the line number, so that it stays
            # the same when lines above move.
            key = (mutant.original.strip(), mutant.mutated.strip())
            seen[key] = seen.get(key, -1) + 1
            digest = hashlib.sha1("\n".join([path, *key, str(seen[key])]).encode("utf-8", "surrogateescape"))
            mutant.ident = digest.hexdigest()[:10]
            yield mutant


# ----------------------------------------------------------------------------
# Sampling


def source_files(repo, folders, files):
    """The product's sources under the folders, or the given files among them."""
    folders = [f.rstrip("/") + "/" for f in folders]
    found = []
    if files:
        for name in files:
            p = Path(name) if Path(name).exists() else repo / name
            try:
                rel = p.resolve().relative_to(repo).as_posix()
            except ValueError:
                rel = None
            if rel is None or not p.is_file() or not rel.endswith(SOURCE_SUFFIXES):
                print(f"mutate: skipped {name}: not a C++ source file of the repository", file=sys.stderr)
            elif not any(rel.startswith(f) for f in folders):
                print(f"mutate: skipped {name}: not in the product's folders", file=sys.stderr)
            else:
                found.append(rel)
    else:
        for folder in folders:
            for dirpath, dirnames, filenames in os.walk(repo / folder):
                dirnames.sort()
                for f in filenames:
                    if f.endswith(SOURCE_SUFFIXES) and not NOT_BUILT_RE.search(f):
                        found.append((Path(dirpath) / f).relative_to(repo).as_posix())
    return sorted(set(found))


def folder_of(path, folders):
    """The named folder a file falls in: the longest one that holds it."""
    holding = [f for f in folders if path.startswith(f.rstrip("/") + "/")]
    return max(holding, key=len) if holding else path.rsplit("/", 1)[0]


def sample_key(seed, mutant):
    """Exponential key of weighted sampling without replacement: smaller wins.
    It depends on the seed and the mutant alone, so adding or removing other
    mutants does not change which of these are picked."""
    digest = hashlib.sha256(f"{seed}:{mutant.ident}".encode()).digest()
    u = (int.from_bytes(digest[:8], "big") + 1) / (2**64 + 2)
    return -math.log(u) / mutant.weight


def pick(mutants, count, seed, folders):
    """A deterministic sample of count mutants, spread over the folders: each
    folder gets a share of its weight (at least a little of the sample if it
    has candidates), the rest goes by weight."""
    if count <= 0 or count >= len(mutants):
        chosen = list(mutants)
    else:
        groups = {}
        for m in mutants:
            groups.setdefault(folder_of(m.path, folders), []).append(m)
        for members in groups.values():
            members.sort(key=lambda m: sample_key(seed, m))
        weight = {g: sum(m.weight for m in members) for g, members in groups.items()}
        floor = count // (3 * len(groups))
        quota = {g: min(len(members), floor) for g, members in groups.items()}
        for _ in range(count - sum(quota.values())):
            open_groups = [g for g in groups if quota[g] < len(groups[g])]
            best = max(sorted(open_groups), key=lambda g: weight[g] / (quota[g] + 1))
            quota[best] += 1
        chosen = [m for g, members in groups.items() for m in members[: quota[g]]]
    return sorted(chosen, key=lambda m: (m.path, m.line, m.column, m.new))


def read_equivalents(path):
    """The ids listed as equivalent: the first word of each line that is not
    blank or a comment."""
    ids = set()
    if path.exists():
        for text in path.read_text(encoding="utf-8").splitlines():
            text = text.strip()
            if text and not text.startswith("#"):
                ids.add(text.split()[0])
    return ids


# ----------------------------------------------------------------------------
# Running


def run(cmd, cwd, timeout=None, log=None):
    """Runs a command (a list, or a string for the shell) in its own process
    group; returns (status, output, seconds).  Status None means it ran out
    of time and the whole group was killed."""
    started = time.monotonic()
    proc = subprocess.Popen(
        cmd,
        cwd=cwd,
        shell=isinstance(cmd, str),
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        start_new_session=True,
    )
    try:
        output, _ = proc.communicate(timeout=timeout)
        status = proc.returncode
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        output, _ = proc.communicate()
        if not isinstance(sys.exc_info()[1], subprocess.TimeoutExpired):
            raise
        status = None
    text = output.decode("utf-8", "replace")
    if log is not None:
        log.parent.mkdir(parents=True, exist_ok=True)
        log.write_text(text, encoding="utf-8")
    return status, text, time.monotonic() - started


def git(repo, *args):
    return subprocess.run(["git", "-C", str(repo), *args], check=True, stdout=subprocess.PIPE).stdout.decode()


def sync_clone(repo, clone):
    """Makes the clone hold the working tree as it stands: the commit checked
    out, then every file changed, added or removed since copied over.  The
    clone's build folder is ignored by git and survives, so builds stay
    incremental."""
    head = git(repo, "rev-parse", "HEAD").strip()
    if not (clone / ".git").exists():
        clone.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["git", "clone", "-q", "--shared", "--no-checkout", str(repo), str(clone)], check=True)
    git(clone, "checkout", "-q", "--force", "--detach", head)
    git(clone, "clean", "-q", "-fd")
    fields = git(repo, "status", "--porcelain", "-z", "--untracked-files=all").split("\0")
    changed, k = [], 0
    while k < len(fields):
        entry, k = fields[k], k + 1
        if len(entry) > 3:
            changed.append(entry[3:])
            if entry[0] in "RC" and k < len(fields):
                changed.append(fields[k])  # the name it had before
                k += 1
    for rel in changed:
        source, target = repo / rel, clone / rel
        if source.is_file():
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(source, target)
        elif target.is_file() and not source.exists():
            target.unlink()
    return head, len(changed)


class Mutation:
    """Puts one mutant into a file and takes it out again, checking that the
    file is back byte for byte."""

    def __init__(self, root, mutant):
        self.file = root / mutant.path
        self.mutant = mutant

    def __enter__(self):
        self.original = self.file.read_bytes()
        pieces = split_lines(self.original)
        index = self.mutant.line - 1
        if index >= len(pieces) or pieces[index][0] != self.mutant.original:
            raise RuntimeError(f"{self.mutant.where()} no longer reads as sampled")
        pieces[index] = (self.mutant.mutated, pieces[index][1])
        self.file.write_bytes(join_lines(pieces))
        return self

    def __exit__(self, *exc):
        self.file.write_bytes(self.original)
        if self.file.read_bytes() != self.original:
            raise RuntimeError(f"{self.file} could not be restored")
        return False


def failed_test(output):
    m = re.search(r"The following tests FAILED:\s*\n\s*\d+\s*-\s*(\S+)", output)
    return m.group(1) if m else ""


KILLERS_KEPT = 8


def remember_killer(killers, name):
    """Keeps the tests that killed the latest mutants, the latest first."""
    if name in killers:
        killers.remove(name)
    killers.insert(0, name)
    del killers[KILLERS_KEPT:]


def name_pattern(names):
    """A ctest regular expression that matches exactly these test names."""
    return "^(" + "|".join(re.sub(r"([^\w/])", r"[\1]", n) for n in names) + ")$"


def run_tests(test_cmd, cwd, limit, killers):
    """Runs the tests; returns (status, output).  The tests that killed the
    latest mutants run first, on their own: neighbouring mutants are mostly
    caught by the same tests, and a failure there settles the outcome
    without waiting for the slowest tests of the whole run.  When they pass,
    the rest of the tests run.  Either way every test runs before a mutant
    counts as survived."""
    if killers:
        status, output, _ = run(test_cmd + ["-R", name_pattern(killers)], cwd, timeout=limit)
        if status != 0:
            return status, output
        test_cmd = test_cmd + ["-E", name_pattern(killers)]
    status, output, _ = run(test_cmd, cwd, timeout=limit)
    return status, output


def run_sample(args, repo, sample, equivalents):
    work = Path(args.work).resolve() if args.work else repo / "build" / "mutate"
    clone, logs = work / "src", work / "logs"
    head, dirty = sync_clone(repo, clone)
    note = f" with {dirty} uncommitted change(s)" if dirty else ""
    print(f"mutate: clone at {clone} holds {head[:12]}{note}", flush=True)

    env_defaults = {"CCACHE_BASEDIR": str(clone), "CCACHE_NOHASHDIR": "1"}
    for name, value in env_defaults.items():
        os.environ.setdefault(name, value)
    build_cmd = args.build_cmd or ["cmake", "--build", "--preset", args.preset, "-j2"]
    test_cmd = args.test_cmd or [
        "ctest", "--preset", args.preset, "-j2", "--timeout", str(args.timeout), "--stop-on-failure",
    ]  # fmt: skip
    if not args.build_cmd and not (clone / "build" / args.preset / "CMakeCache.txt").exists():
        configure = ["cmake", "--preset", args.preset]
        if shutil.which("ccache"):
            configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        # The preset's optimisation without its debug information, linked by
        # lld where it is installed: the same programs, built in half the time.
        configure.append("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG")
        if shutil.which("ld.lld"):
            configure.append("-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld")
        status, output, _ = run(configure, clone, log=logs / "configure.log")
        if status != 0:
            sys.exit(f"mutate: configuring the clone failed; see {logs / 'configure.log'}")

    # Without a mutant the build and every test must pass; the time the tests
    # take bounds each mutant's run.
    print("mutate: building and testing the clone without mutants", flush=True)
    status, _, _ = run(build_cmd, clone, timeout=args.build_timeout, log=logs / "baseline-build.log")
    if status != 0:
        sys.exit(f"mutate: the clone does not build; see {logs / 'baseline-build.log'}")
    status, _, baseline = run(test_cmd, clone, log=logs / "baseline-test.log")
    if status != 0:
        sys.exit(f"mutate: tests fail without any mutant; see {logs / 'baseline-test.log'}")
    test_limit = 2 * baseline + args.timeout
    print(f"mutate: tests take {baseline:.0f} s; a mutant's test run is stopped after {test_limit:.0f} s", flush=True)

    results = {"killed": [], "survived": [], "failed to build": [], "equivalent": []}
    killers = []
    started = time.monotonic()
    try:
        for n, mutant in enumerate(sample, 1):
            t0 = time.monotonic()
            extra = ""
            if mutant.ident in equivalents:
                outcome = "equivalent"
            else:
                with Mutation(clone, mutant):
                    status, _, _ = run(build_cmd, clone, timeout=args.build_timeout, log=logs / "build.log")
                    if status != 0:
                        outcome = "failed to build"
                        shutil.copyfile(logs / "build.log", logs / f"{mutant.ident}.build.log")
                    else:
                        status, output = run_tests(test_cmd, clone, test_limit, killers if not args.test_cmd else [])
                        if status == 0:
                            outcome = "survived"
                        else:
                            outcome = "killed"
                            extra = " (timed out)" if status is None else ""
                            if failed_test(output):
                                extra = f" (by {failed_test(output)})"
                                remember_killer(killers, failed_test(output))
            results[outcome].append(mutant)
            took = time.monotonic() - t0
            line = f"[{n}/{len(sample)}] {outcome:<15} {mutant.ident} {mutant.describe()}{extra} [{took:.0f} s]"
            print(line, flush=True)
    except KeyboardInterrupt:
        print("mutate: interrupted; the file is restored, counting what ran", flush=True)
    report(results, time.monotonic() - started)


def report(results, seconds):
    for outcome in ("survived", "failed to build"):
        if results[outcome]:
            print(f"\n{outcome}:")
            for m in results[outcome]:
                print(f"  {m.ident} {m.describe()}")
    killed, survived = len(results["killed"]), len(results["survived"])
    scored = killed + survived
    share = f"{100.0 * killed / scored:.1f}%" if scored else "n/a"
    print(
        f"\nkilled {killed}, survived {survived}, failed to build {len(results['failed to build'])}, "
        f"equivalent {len(results['equivalent'])} ({seconds / 60:.1f} min)"
    )
    print(f"score: {killed} of {scored} non-equivalent mutants killed ({share})")


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Run one-line mutants of the product's sources against the tests.",
        epilog="The score leaves out mutants that failed to build and those listed in " + EQUIVALENTS + ".",
    )
    parser.add_argument("--count", type=int, default=20, help="mutants in the sample (0: every one; default 20)")
    parser.add_argument("--seed", default="1", help="picks the sample (default 1)")
    parser.add_argument("--files", nargs="+", metavar="FILE", help="mutate only these files")
    parser.add_argument("--folders", nargs="+", metavar="DIR", default=DEFAULT_FOLDERS, help="folders to sample from")
    parser.add_argument("--ids", nargs="+", metavar="ID", help="run only these mutants (ids as --list prints them)")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--repo", help="the repository (default: the one holding this script)")
    parser.add_argument("--work", help="scratch folder for the clone and logs (default: REPO/build/mutate)")
    parser.add_argument("--equivalents", help=f"list of equivalent mutants (default: REPO/{EQUIVALENTS})")
    parser.add_argument("--preset", default="linux", help="CMake preset to build and test (default linux)")
    parser.add_argument("--timeout", type=int, default=120, help="seconds a single test may take (default 120)")
    parser.add_argument("--build-timeout", type=int, default=3600, help="seconds a build may take (default 3600)")
    parser.add_argument("--build-cmd", help="shell command that builds the clone, instead of the preset")
    parser.add_argument("--test-cmd", help="shell command that tests the clone, instead of the preset's ctest")
    args = parser.parse_args(argv)

    repo = Path(args.repo or Path(__file__).resolve().parent.parent).resolve()
    repo = Path(git(repo, "rev-parse", "--show-toplevel").strip())
    equivalents_file = Path(args.equivalents) if args.equivalents else repo / EQUIVALENTS
    equivalents = read_equivalents(equivalents_file)

    files = source_files(repo, args.folders, args.files)
    mutants = [m for f in files for m in file_mutants(repo, f)]
    if args.ids:
        sample = [m for m in mutants if m.ident in set(args.ids)]
        for missing in sorted(set(args.ids) - {m.ident for m in sample}):
            print(f"mutate: no mutant has the id {missing}", file=sys.stderr)
    else:
        sample = pick(mutants, args.count, args.seed, args.folders)
    if not args.files and args.folders == DEFAULT_FOLDERS:
        stale = equivalents - {m.ident for m in mutants}
        if stale:
            print(f"mutate: {EQUIVALENTS} lists {len(stale)} id(s) no mutant has: {' '.join(sorted(stale))}")
    if args.list:
        for m in sample:
            mark = "  (equivalent)" if m.ident in equivalents else ""
            print(f"{m.ident} {m.kind:<10} {m.describe()}{mark}")
        print(f"{len(sample)} of {len(mutants)} mutants in {len(files)} files, seed {args.seed}")
        return 0
    if not sample:
        print("mutate: no mutants to run")
        return 0
    run_sample(args, repo, sample, equivalents)
    return 0


if __name__ == "__main__":
    sys.exit(main())
