#!/usr/bin/python3
"""Reads what the guest left in its out/ folder after running the i686 test
programs, prints per-program counts and the output of every failure, and
compares the tests that ran with those the x86_64 build's test programs list.

Exits 0 when every program ran to its end with no failed test and the two
lists agree (but for tests named as 64-bit-only), 1 otherwise."""

import argparse
import fnmatch
import json
import os
import sys
import xml.etree.ElementTree as ElementTree

PASSED, FAILED, SKIPPED, DISABLED = "passed", "failed", "skipped", "disabled"
CRASHED = "crashed"  # ran on its own and ended without writing its result


class TestRun:
    """One test's outcome from one gtest XML report."""

    def __init__(self, outcome, message=""):
        self.outcome = outcome
        self.message = message


class ProgramResult:
    def __init__(self, program):
        self.program = program      # file name, e.g. module_tests.exe
        self.exit_code = None       # None: the guest never recorded one
        self.output = ""            # stdout and stderr of the whole-program run
        self.complete = False       # the whole-program run wrote its XML report
        self.tests = {}             # full name -> TestRun, in report order
        self.alone = {}             # full name -> (TestRun, exit code, output)
        self.seconds = None

    def failed_tests(self):
        return [name for name, run in self.tests.items() if run.outcome in (FAILED, CRASHED)]

    def count(self, outcome):
        return sum(1 for run in self.tests.values() if run.outcome == outcome)

    def problem(self):
        """Why the program failed as a whole, beyond its failed tests, or None."""
        if self.exit_code is None:
            return "never ran (no exit code recorded)"
        if not self.complete:
            return "ended with exit code %s before writing its results" % describe_exit(self.exit_code)
        if self.exit_code != 0 and not self.failed_tests():
            return "exited with code %s although none of its tests failed" % describe_exit(self.exit_code)
        return None

    def ok(self):
        return self.problem() is None and not self.failed_tests()


def describe_exit(code):
    # timeout(1) answers 124 when it stopped the program, 137 when it had to kill it.
    if code in (124, 137):
        return "%d (stopped by the time limit)" % code
    return str(code)


def parse_report(path):
    """gtest XML report -> {full name: TestRun}; None when missing or unreadable."""
    try:
        root = ElementTree.parse(path).getroot()
    except (OSError, ElementTree.ParseError):
        return None
    tests = {}
    for case in root.iter("testcase"):
        name = "%s.%s" % (case.get("classname", ""), case.get("name", ""))
        failures = case.findall("failure") + case.findall("error")
        if failures:
            message = "\n".join(f.get("message") or (f.text or "") for f in failures)
            tests[name] = TestRun(FAILED, message)
        elif case.get("status") == "notrun" or case.get("result") == "suppressed":
            tests[name] = TestRun(DISABLED)
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            tests[name] = TestRun(SKIPPED)
        else:
            tests[name] = TestRun(PASSED)
    return tests


def read_text(path):
    try:
        with open(path, "rb") as source:
            return source.read().decode("utf-8", "replace").replace("\r\n", "\n")
    except OSError:
        return None


def read_exit_code(path):
    text = read_text(path)
    try:
        return int(text.strip()) if text is not None else None
    except ValueError:
        return None


def read_timing(results):
    """{program base name: seconds of its whole-program run} from out/timing."""
    starts, seconds = {}, {}
    for line in (read_text(os.path.join(results, "timing")) or "").splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in ("start", "end"):
            try:
                moment = float(parts[2])
            except ValueError:
                continue
            if parts[1] == "start":
                starts[parts[0]] = moment
            elif parts[0] in starts:
                seconds[parts[0]] = moment - starts[parts[0]]
    return seconds


def load_program(results, program, timing=None):
    base = program[:-4] if program.lower().endswith(".exe") else program
    result = ProgramResult(program)
    result.exit_code = read_exit_code(os.path.join(results, base + ".rc"))
    result.output = read_text(os.path.join(results, base + ".out")) or ""
    result.seconds = (timing or {}).get(base)
    tests = parse_report(os.path.join(results, base + ".xml"))
    result.complete = tests is not None
    result.tests = tests or {}

    index = read_text(os.path.join(results, "alone", base + ".index")) or ""
    for line in index.splitlines():
        if "\t" not in line:
            continue
        safe, name = line.split("\t", 1)
        stem = os.path.join(results, "alone", "%s.%s" % (base, safe))
        runs = parse_report(stem + ".xml") or {}
        run = runs.get(name) or TestRun(CRASHED)
        result.alone[name] = (run, read_exit_code(stem + ".rc"), read_text(stem + ".out") or "")
        # Without a whole-program report, the runs on their own are all there is.
        if not result.complete:
            result.tests[name] = run
    return result


def section(output, name):
    """The lines gtest printed for one test, from its RUN line to its result line."""
    lines = output.splitlines()
    start = None
    for at, line in enumerate(lines):
        if line.startswith("[ RUN      ] ") and line[13:].strip() == name:
            start = at
        elif start is not None and (line.startswith("[  FAILED  ] ") or line.startswith("[       OK ] ")):
            if line[13:].split(" ")[0].rstrip(",") == name:
                return "\n".join(lines[start:at + 1])
    if start is not None:  # the program ended inside this test
        return "\n".join(lines[start:])
    return None


def tail(text, count=60):
    lines = text.splitlines()
    return "\n".join((["..."] if len(lines) > count else []) + lines[-count:])


def x86_64_tests(listing):
    """{program file name: set of full test names} from "program<TAB>Suite.Name" lines
    (what the x86_64 test programs list with --gtest_list_tests)."""
    tests = {}
    for line in listing.splitlines():
        program, _, name = line.partition("\t")
        if program and name:
            tests.setdefault(program.strip().lower(), set()).add(name.strip())
    return tests


def read_patterns(path):
    if not path:
        return []
    text = read_text(path) or ""
    return [line.strip() for line in text.splitlines() if line.strip() and not line.lstrip().startswith("#")]


def is_64_bit_only(program, name, patterns):
    """A pattern is "Suite.Name" (any program) or "program.exe:Suite.Name"; * and ? match as in a shell."""
    for pattern in patterns:
        if ":" in pattern:
            program_pattern, name_pattern = pattern.split(":", 1)
            if fnmatch.fnmatchcase(program.lower(), program_pattern.lower()) and fnmatch.fnmatchcase(name, name_pattern):
                return True
        elif fnmatch.fnmatchcase(name, pattern):
            return True
    return False


def compare(results, expected, patterns):
    """-> (x86_64 tests the guest lacks, excused ones, guest tests x86_64 lacks), each [(program, name)]."""
    guest = {(r.program.lower(), name) for r in results for name in r.tests}
    wanted = {(program, name) for program, names in expected.items() for name in names}
    missing, excused = [], []
    for program, name in sorted(wanted - guest):
        (excused if is_64_bit_only(program, name, patterns) else missing).append((program, name))
    return missing, excused, sorted(guest - wanted)


def render(results, expected=None, patterns=(), boot_seconds=None, wine_version=None):
    """-> (lines to print, True when the stage passes)."""
    lines, ok = [], True
    header = "vm32: i686 test programs in the 32-bit guest"
    if wine_version:
        header += " (%s)" % wine_version
    if boot_seconds is not None:
        header += ", one boot of %.0f s" % boot_seconds
    lines.append(header)
    width = max([len(r.program) for r in results] + [8])
    for r in results:
        timing = " (%.1f s)" % r.seconds if r.seconds is not None else ""
        counts = "%3d tests: %3d passed, %d failed, %d skipped, %d disabled" % (
            len(r.tests), r.count(PASSED), len(r.failed_tests()), r.count(SKIPPED), r.count(DISABLED))
        verdict = "ok" if r.ok() else "FAILED"
        lines.append("vm32:   %-*s %s  %s%s" % (width, r.program, counts, verdict, timing))

    for r in results:
        if r.ok():
            continue
        ok = False
        lines.append("")
        problem = r.problem()
        lines.append("vm32: ---- %s %s" % (r.program, problem or "has failed tests"))
        if problem and not r.failed_tests():
            lines.append(tail(r.output) if r.output.strip() else "(it printed nothing)")
        for name in r.failed_tests():
            lines.append("vm32: -- %s failed" % name)
            text = section(r.output, name) if r.complete else None
            if text is None and name in r.alone:
                text = section(r.alone[name][2], name) or tail(r.alone[name][2])
            if text is None:
                text = r.tests[name].message or tail(r.output)
            lines.append(text)
            if r.complete and name in r.alone:
                alone, code, _ = r.alone[name]
                if alone.outcome in (PASSED, SKIPPED):
                    lines.append("vm32: run on its own, %s passes: it depends on the tests run before it "
                                 "in the same process" % name)
                else:
                    lines.append("vm32: run on its own, %s fails too (exit code %s)" % (name, code))
            elif not r.complete:
                lines.append("vm32: (run on its own, as the whole program ended early)")

    total = sum(len(r.tests) for r in results)
    ran = sum(len(r.tests) - r.count(DISABLED) for r in results)
    lines.append("")
    lines.append("vm32: %d tests in the guest (%d run, %d disabled), %d failed" % (
        total, ran, total - ran, sum(len(r.failed_tests()) for r in results)))
    if expected is not None:
        missing, excused, extra = compare(results, expected, patterns)
        listed = sum(len(names) for names in expected.values())
        note = ", ".join("%s %s" % item for item in excused) or "none"
        equal = not missing and not extra
        lines.append("vm32: the x86_64 test programs list %d tests; 64-bit-only by nature: %s; %s" % (
            listed, note, "equal" if equal else "NOT EQUAL"))
        if not equal:
            ok = False
            for program, name in missing:
                lines.append("vm32:   not run in the guest: %s %s" % (program, name))
            for program, name in extra:
                lines.append("vm32:   not in the x86_64 list: %s %s" % (program, name))
    lines.append("vm32: the 32-bit stage %s" % ("passed" if ok else "FAILED"))
    return lines, ok


def slowest_first(programs, timing):
    """PROGRAMS ordered for the guest's workers: those without a time first (in
    their order), then the others by their time, the longest first."""
    unknown = [p for p in programs if p[:-4] not in timing]
    known = sorted((p for p in programs if p[:-4] in timing), key=lambda p: -timing[p[:-4]])
    return unknown + known


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", required=True, help="the guest's out/ folder")
    parser.add_argument("--programs", help="file with one test program name a line")
    parser.add_argument("--order", metavar="PROGRAMS",
                        help="only print the programs of this file in the order to run them, by --results' times")
    parser.add_argument("--x86_64-list", help='"program<TAB>Suite.Name" lines of the x86_64 test programs')
    parser.add_argument("--x86_64-only", help="file of test name patterns that are 64-bit-only by nature")
    parser.add_argument("--boot-seconds", type=float)
    args = parser.parse_args(argv)
    if args.order:
        programs = [line.strip() for line in (read_text(args.order) or "").splitlines() if line.strip()]
        print("\n".join(slowest_first(programs, read_timing(args.results))))
        return 0
    if not args.programs:
        parser.error("--programs is needed")

    programs = [line.strip() for line in (read_text(args.programs) or "").splitlines() if line.strip()]
    if not programs:
        print("vm32: no test programs listed in %s" % args.programs)
        return 1
    timing = read_timing(args.results)
    results = [load_program(args.results, program, timing) for program in programs]
    expected = None
    if args.x86_64_list:
        text = read_text(args.x86_64_list)
        if text is None:
            print("vm32: cannot read the x86_64 test list %s" % args.x86_64_list)
            return 1
        expected = x86_64_tests(text)
    version = (read_text(os.path.join(args.results, "wine-version")) or "").strip() or None
    lines, ok = render(results, expected, read_patterns(args.x86_64_only), args.boot_seconds, version)
    print("\n".join(lines))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
