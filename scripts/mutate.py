#!/usr/bin/env python3
"""Mutation check: applies each one-line fault of scripts/mutations.txt in turn,
rebuilds (only the changed file's objects), runs the fast tests and puts the
file back. A fault that makes a test fail is killed.

    scripts/mutate.py [--check] [--build DIR] [--only N,...] [-- ctest arguments]

--check only verifies that every original text occurs exactly once.
The default ctest arguments leave out the real-window tests and packaging.
"""
import argparse
import pathlib
import subprocess
import sys
import time

top = pathlib.Path(__file__).resolve().parent.parent
product_dirs = ("tests/", "bench/", "scripts/", "docs/", ".ci/")


def product_files():
    names = subprocess.run(["git", "ls-files"], cwd=top, capture_output=True, text=True,
                           check=True).stdout.split()
    return [top / n for n in names
            if not n.startswith(product_dirs) and n.endswith((".cpp", ".h"))]


def load_mutations():
    # Blocks of four lines, blank-line separated: what it breaks, file, original, replacement.
    blocks = (top / "scripts/mutations.txt").read_text().split("\n\n")
    mutations = []
    for block in blocks:
        lines = [l for l in block.split("\n") if l.strip()]
        if not lines:
            continue
        if len(lines) != 4 or not lines[0].startswith("#"):
            sys.exit(f"bad block:\n{block}")
        mutations.append(dict(what=lines[0][1:].strip(), file=lines[1].strip(),
                              old=lines[2], new=lines[3]))
    return mutations


def locate(mutation, files):
    matches = [f for f in files if mutation["file"] in (f.name, str(f.relative_to(top)))]
    if len(matches) != 1:
        return None, f"{len(matches)} files named {mutation['file']}"
    text = matches[0].read_text()
    count = text.count(mutation["old"])
    if count != 1:
        return None, f"original text found {count} times in {matches[0].relative_to(top)}"
    return matches[0], None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--build", default=str(top / "build"))
    parser.add_argument("--only")
    parser.add_argument("ctest", nargs="*")
    args = parser.parse_args()
    ctest_args = args.ctest or ["-E", "^(xvfb_start|xvfb_stop|tst_window|packaging)$"]
    mutations = load_mutations()
    files = product_files()
    bad = False
    for i, m in enumerate(mutations, 1):
        _, problem = locate(m, files)
        if problem:
            print(f"{i:2}: {problem}: {m['old']!r}")
            bad = True
    if bad or args.check:
        print(f"{len(mutations)} mutations" + (", some not applicable" if bad else ", all apply"))
        return 1 if bad else 0

    only = {int(n) for n in args.only.split(",")} if args.only else None
    build = ["cmake", "--build", args.build, "-j2"]
    if subprocess.run(build, capture_output=True).returncode != 0:
        sys.exit("the unmutated tree does not build")
    killed = survived = broken = 0
    for i, m in enumerate(mutations, 1):
        if only and i not in only:
            continue
        path, _ = locate(m, files)
        original = path.read_text()
        start = time.time()
        try:
            path.write_text(original.replace(m["old"], m["new"], 1))
            if subprocess.run(build, capture_output=True).returncode != 0:
                verdict = "does not compile"
                broken += 1
            else:
                run = subprocess.run(["ctest", "--test-dir", args.build, "--stop-on-failure",
                                      "--timeout", "300", *ctest_args],
                                     capture_output=True, text=True)
                failed = [l.split()[3] for l in run.stdout.splitlines()
                          if l.strip()[:1].isdigit() and "Passed" not in l and "Test #" in l]
                if run.returncode != 0:
                    verdict = "killed by " + (", ".join(failed) or "ctest")
                    killed += 1
                else:
                    verdict = "SURVIVED"
                    survived += 1
        finally:
            path.write_text(original)
        print(f"{i:2} {verdict:40} {time.time() - start:5.0f} s  {m['file']}: {m['what']}",
              flush=True)
    subprocess.run(build, capture_output=True)
    total = killed + survived
    print(f"killed {killed} of {total}" + (f" ({broken} did not compile)" if broken else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
