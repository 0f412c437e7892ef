#!/usr/bin/env python3
"""Plants small faults in the code you changed, one at a time, and runs the tests against each.

A fault the tests do not notice (a survivor) is a place where a real mistake would go unseen:
write the test that fails on it. Run it from the project's root, on a build folder that
scripts/test.sh has built:

    scripts/mutate.py                      # lines changed in the last 4 hours
    scripts/mutate.py --since origin/main  # lines changed since a revision
    scripts/mutate.py --files net/http/NetworkQueue.cpp --count 30
    scripts/mutate.py --files net/http/*.cpp --tests '^(Http|Form)'   # only tests whose names match
    scripts/mutate.py --list               # show the candidate faults, run nothing
    scripts/mutate.py --files analytics/*.cpp --tests '^Analytics' --targets analytics_tests
                                           # build only the test programs that run

Faults planted: a comparison moved by one (< and <=, > and >=), == and != swapped, && and ||
swapped, a condition negated, a whole-number constant moved by one, true and false swapped in a
return, and a call statement removed. Test, bench, fuzz and test-support files are never mutated.
Each fault is built (ninja rebuilds what it touches) and the whole CTest suite runs with
--stop-on-failure (or, with --tests, the tests whose names match; a fault another library's
tests would notice then counts as a survivor, so the figure can only be lower). The file is
restored after each fault, and the build folder is rebuilt clean at the end. A fault that does
not compile is skipped and not counted.

Cost: one compile and relink plus one test run per fault (about 20-60 s on 8 cores); the
default 20 faults take 10-20 minutes. Exit status 0 whatever survives; 2 on a usage error.
"""
import argparse, os, random, re, shutil, subprocess, sys, time

SKIP_DIRS = ("tests/", "/tests/", "bench/", "fuzz/", "testsupport/", "build/", "third_party/")
SOURCE_EXT = (".cpp", ".cc", ".h", ".hpp")


def sh(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def git(*args):
    return sh(["git", *args]).stdout


def mutable_file(path):
    if not path.endswith(SOURCE_EXT):
        return False
    p = "/" + path
    return not any(d in p for d in SKIP_DIRS) and os.path.isfile(path)


def changed_lines(since):
    """{file: set(line numbers)} of lines added or changed since `since` (committed or not)."""
    out, cur, lines = {}, None, None
    for l in git("diff", "--unified=0", "--no-color", since).splitlines():
        if l.startswith("+++ "):
            cur = l[6:] if l.startswith("+++ b/") else None
            lines = out.setdefault(cur, set()) if cur else None
        elif l.startswith("@@") and lines is not None:
            m = re.search(r"\+(\d+)(?:,(\d+))?", l)
            start, count = int(m.group(1)), int(m.group(2) or "1")
            lines.update(range(start, start + count))
    return {f: s for f, s in out.items() if f and s and mutable_file(f)}


def code_part(line):
    """The line with string/char literals blanked and a trailing // comment cut."""
    s = re.sub(r'"(?:\\.|[^"\\])*"', lambda m: '"' + "_" * (len(m.group(0)) - 2) + '"', line)
    s = re.sub(r"'(?:\\.|[^'\\])'", lambda m: "'" + "_" * (len(m.group(0)) - 2) + "'", s)
    i = s.find("//")
    return s if i < 0 else s[:i]


def matching_paren(s, open_at):
    depth = 0
    for i in range(open_at, len(s)):
        if s[i] == "(":
            depth += 1
        elif s[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


SWAPS = [(" <= ", " < "), (" < ", " <= "), (" >= ", " > "), (" > ", " >= "),
         (" == ", " != "), (" != ", " == "), (" && ", " || "), (" || ", " && ")]
CALL_STATEMENT = re.compile(r"^\s*[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*\s*\(.*\)\s*;\s*$")
DECLARATION_START = re.compile(r"^\s*(return|throw|delete|case|goto|using|typedef|static_assert|if|while|for|switch)\b")


def candidates_in(path, wanted):
    text = open(path, encoding="utf-8", errors="replace").read().split("\n")
    in_block_comment = False
    for n, line in enumerate(text, 1):
        stripped = line.strip()
        if in_block_comment:
            if "*/" in stripped:
                in_block_comment = False
            continue
        if stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if wanted is not None and n not in wanted:
            continue
        if not stripped or stripped.startswith(("//", "#", "*")):
            continue
        code = code_part(line)
        for old, new in SWAPS:
            for m in re.finditer(re.escape(old), code):
                # skip template brackets and stream operators: "a < b" with spaces is a comparison
                yield (path, n, m.start(), old, new, f"'{old.strip()}' -> '{new.strip()}'")
        for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", code):
            value = int(m.group(1))
            if value > 1_000_000 or (m.start() > 0 and code[m.start() - 1] in "xX"):
                continue
            yield (path, n, m.start(), m.group(1), str(value + 1), f"{value} -> {value + 1}")
            if value > 0:
                yield (path, n, m.start(), m.group(1), str(value - 1), f"{value} -> {value - 1}")
        for m in re.finditer(r"\breturn (true|false);", code):
            flip = "false" if m.group(1) == "true" else "true"
            yield (path, n, m.start(), m.group(0), f"return {flip};", f"return {m.group(1)} -> return {flip}")
        for m in re.finditer(r"\b(if|while) \(", code):
            open_at = m.end() - 1
            close = matching_paren(code, open_at)
            if close > open_at:
                cond = line[open_at + 1:close]
                if ";" in cond or re.match(r"\s*(auto|const)\b|\s*[\w:<>*&]+\s+\w+\s*=[^=]", cond):
                    continue  # a declaration in the condition cannot be negated
                yield (path, n, open_at, "(" + cond + ")", "(!(" + cond + "))", f"negated: {m.group(1)} ({cond.strip()[:50]})")
        if CALL_STATEMENT.match(code) and not DECLARATION_START.match(code) and not code.rstrip().endswith("{"):
            yield (path, n, 0, line, "", f"removed: {stripped[:60]}")


def apply(path, n, col, old, new):
    lines = open(path, encoding="utf-8", errors="replace").read().split("\n")
    line = lines[n - 1]
    if line[col:col + len(old)] != old:
        return None
    lines[n - 1] = line[:col] + new + line[col + len(old):]
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--since", help="revision: mutate lines changed since it (default: the commit of 4 hours ago)")
    ap.add_argument("--files", nargs="+", help="mutate anywhere in these files instead")
    ap.add_argument("--count", type=int, default=20, help="faults to try (default 20)")
    ap.add_argument("--build", default="build/release", help="build folder made by scripts/test.sh (default build/release)")
    ap.add_argument("--seed", type=int, default=None, help="seed for picking faults (default: random)")
    ap.add_argument("--timeout", type=int, default=600, help="seconds for one test run (default 600)")
    ap.add_argument("--tests", default=None, help="run only the CTest tests whose names match this regex (ctest -R)")
    ap.add_argument("--targets", nargs="+", default=None,
                    help="build only these targets for each fault (the test programs --tests selects); "
                         "the faults picked are the same, each one builds far quicker")
    ap.add_argument("--list", action="store_true", help="print the candidate faults and stop")
    a = ap.parse_args()

    top = git("rev-parse", "--show-toplevel").strip()
    if not top:
        sys.exit("mutate: run it inside the project's git checkout")
    os.chdir(top)
    if git("status", "--porcelain", "--untracked-files=no").strip():
        print("mutate: note: the work tree has uncommitted changes; they are kept, and each planted fault is undone from a copy")

    if a.files:
        bad = [f for f in a.files if not mutable_file(f)]
        if bad:
            print(f"mutate: not a mutable source file: {', '.join(bad)}", file=sys.stderr)
            sys.exit(2)
        wanted = {f: None for f in a.files}
    else:
        since = a.since or git("rev-list", "-1", "--before=4 hours ago", "HEAD").strip() or "HEAD~1"
        wanted = changed_lines(since)
        if not wanted:
            print(f"mutate: no source lines changed since {since[:12]} (tests, bench, fuzz are never mutated); use --files")
            return 0

    cands = [c for f, lines in sorted(wanted.items()) for c in candidates_in(f, lines)]
    rng = random.Random(a.seed)
    rng.shuffle(cands)
    # one fault per line first, spread over the files
    picked, seen_lines = [], set()
    for c in cands:
        if (c[0], c[1]) not in seen_lines:
            picked.append(c)
            seen_lines.add((c[0], c[1]))
    picked += [c for c in cands if c not in picked]
    if a.list:
        for f, n, col, old, new, desc in picked:
            print(f"{f}:{n}: {desc}")
        print(f"{len(picked)} candidate faults in {len(wanted)} file(s)")
        return 0
    if not os.path.isfile(os.path.join(a.build, "build.ninja")) and not os.path.isfile(os.path.join(a.build, "Makefile")):
        print(f"mutate: no build in {a.build}: run scripts/test.sh first (or pass --build)", file=sys.stderr)
        sys.exit(2)

    build = ["cmake", "--build", a.build] + (["--target", *a.targets] if a.targets else [])
    base = sh(build)
    if base.returncode != 0:
        print("mutate: the unchanged tree does not build; fix that first", file=sys.stderr)
        sys.exit(2)
    ctest = ["ctest", "--test-dir", a.build, "-j", str(os.cpu_count() or 2), "--timeout", "300", "--stop-on-failure"]
    if a.tests:
        ctest += ["-R", a.tests]
    t0 = time.time()
    clean = sh(ctest, timeout=a.timeout)
    if clean.returncode != 0:
        print("mutate: the tests fail on the unchanged tree; fix that first", file=sys.stderr)
        sys.exit(2)
    print(f"mutate: {len(picked)} candidates in {len(wanted)} file(s); trying {min(a.count, len(picked))} (tests take {time.time() - t0:.0f} s)")

    killed, survived, tried = 0, [], 0
    try:
        for f, n, col, old, new, desc in picked:
            if tried >= a.count:
                break
            original = open(f, encoding="utf-8", errors="replace").read()
            mutated = apply(f, n, col, old, new)
            if mutated is None or mutated == original:
                continue
            backup = f + ".mutate-orig"
            shutil.copy2(f, backup)
            try:
                open(f, "w", encoding="utf-8").write(mutated)
                b = sh(build)
                if b.returncode != 0:
                    continue  # does not compile: not counted
                tried += 1
                try:
                    r = sh(ctest, timeout=a.timeout)
                    caught = r.returncode != 0
                except subprocess.TimeoutExpired:
                    caught = True  # a hang is noticed too
                if caught:
                    killed += 1
                    print(f"  caught    {f}:{n}: {desc}", flush=True)
                else:
                    survived.append(f"{f}:{n}: {desc}")
                    print(f"  SURVIVED  {f}:{n}: {desc}", flush=True)
            finally:
                shutil.move(backup, f)
                os.utime(f, None)  # newer than the mutant's objects, so the next build recompiles it
    finally:
        sh(["cmake", "--build", a.build])
    print(f"mutate: {killed} caught, {len(survived)} survived, of {tried} faults that compiled")
    if survived:
        print("Each survivor is a mistake no test would notice; add the test that fails on it:")
        for s in survived:
            print("  " + s)
    return 0


if __name__ == "__main__":
    sys.exit(main())
