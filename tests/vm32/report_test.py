#!/usr/bin/python3
"""The 32-bit stage's verdicts: each case lays out a guest out/ folder the way
guest-suite.sh leaves it (gtest XML reports, outputs with Windows line ends,
exit codes, runs on their own) and checks what report.py decides and shows."""

import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402


def case(suite, name, body="", status="run", result="completed"):
    return ('    <testcase name="%s" file="t.cpp" line="1" status="%s" result="%s" time="0.01" '
            'timestamp="2026-01-01T00:00:00" classname="%s"%s\n' %
            (name, status, result, suite, ">%s</testcase>" % body if body else " />"))


def xml(*cases):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<testsuites tests="%d" name="AllTests">\n'
            '  <testsuite name="S" tests="%d">\n%s  </testsuite>\n</testsuites>\n' %
            (len(cases), len(cases), "".join(cases)))


FAILURE = '<failure message="t.cpp:9&#x0A;Expected equality" type=""><![CDATA[t.cpp:9\nExpected equality]]></failure>'


def gtest_output(*tests):
    """What gtest prints for (name, passed, detail lines[, parameter]) tests, with CRLF as Wine's CRT writes it."""
    lines = ["Running main() from gtest_main.cc", "[==========] Running %d tests." % len(tests)]
    for name, passed, detail, *parameter in tests:
        lines.append("[ RUN      ] " + name)
        lines.extend(detail)
        where = ", where GetParam() = %s" % parameter[0] if parameter else ""
        lines.append(("[       OK ] " if passed else "[  FAILED  ] ") + name + where + " (3 ms)")
    lines.append("[==========] %d tests ran." % len(tests))
    return "\r\n".join(lines) + "\r\n"


def listing(program, *names):
    """What the x86_64 test programs list, as run-suite.sh passes it on."""
    return "".join("%s\t%s\n" % (program, name) for name in names)


class GuestFolder(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.out = self.folder.name
        os.mkdir(os.path.join(self.out, "alone"))

    def tearDown(self):
        self.folder.cleanup()

    def write(self, name, text):
        with open(os.path.join(self.out, name), "w", newline="") as target:
            target.write(text)

    def program(self, base, exit_code, report_xml=None, output=""):
        self.write(base + ".rc", "%d\n" % exit_code)
        self.write(base + ".out", output)
        if report_xml is not None:
            self.write(base + ".xml", report_xml)

    def alone(self, base, name, exit_code, report_xml=None, output=""):
        safe = "".join(c if c.isalnum() or c in "_.-" else "_" for c in name)
        with open(os.path.join(self.out, "alone", base + ".index"), "a") as index:
            index.write("%s\t%s\n" % (safe, name))
        stem = os.path.join("alone", "%s.%s" % (base, safe))
        self.write(stem + ".rc", "%d\n" % exit_code)
        self.write(stem + ".out", output)
        if report_xml is not None:
            self.write(stem + ".xml", report_xml)

    def verdict(self, programs, expected=None, patterns=()):
        results = [report.load_program(self.out, p, report.read_timing(self.out)) for p in programs]
        lines, ok = report.render(results, expected, patterns)
        return "\n".join(lines), ok, results


class ProgramVerdicts(GuestFolder):
    def test_passing_skipped_and_disabled_tests_pass_and_are_counted(self):
        self.program("a", 0, xml(case("S", "One"), case("S", "Two", "<skipped message=\"later\"/>", result="skipped"),
                                 case("S", "DISABLED_Three", status="notrun", result="suppressed")))
        self.write("timing", "a start 20.50\na end 23.75\n")
        text, ok, results = self.verdict(["a.exe"])
        self.assertTrue(ok, text)
        self.assertEqual((1, 1, 1), (results[0].count(report.PASSED), results[0].count(report.SKIPPED),
                                     results[0].count(report.DISABLED)))
        self.assertIn("3 tests:   1 passed, 0 failed, 1 skipped, 1 disabled  ok (3.2 s)", text)
        self.assertIn("3 tests in the guest (2 run, 1 disabled), 0 failed", text)

    def test_a_failed_test_fails_the_stage_and_shows_its_own_lines_only(self):
        output = gtest_output(("S.Good", True, ["good detail"]),
                              ("S.Bad", False, ["t.cpp(9): error: Expected equality", "  Which is: 8"]))
        self.program("a", 1, xml(case("S", "Good"), case("S", "Bad", FAILURE)), output)
        self.alone("a", "S.Bad", 1, xml(case("S", "Bad", FAILURE)), output)
        text, ok, _ = self.verdict(["a.exe"])
        self.assertFalse(ok)
        self.assertIn("[ RUN      ] S.Bad\nt.cpp(9): error: Expected equality\n  Which is: 8\n[  FAILED  ] S.Bad", text)
        self.assertNotIn("good detail", text)
        self.assertNotIn("\r", text)
        self.assertIn("run on its own, S.Bad fails too (exit code 1)", text)
        self.assertIn("the 32-bit stage FAILED", text)

    def test_a_test_that_passes_on_its_own_is_still_a_failure_named_as_order_dependent(self):
        self.program("a", 1, xml(case("S", "Bad", FAILURE)), gtest_output(("S.Bad", False, [])))
        self.alone("a", "S.Bad", 0, xml(case("S", "Bad")), gtest_output(("S.Bad", True, [])))
        text, ok, _ = self.verdict(["a.exe"])
        self.assertFalse(ok)
        self.assertIn("passes: it depends on the tests run before it", text)

    def test_a_crash_without_results_fails_and_the_runs_on_their_own_give_the_tests(self):
        output = gtest_output(("S.Fine", True, [])) + "[ RUN      ] S.Crashes\r\nwine: Unhandled page fault\r\n"
        self.program("a", 5, None, output)
        self.alone("a", "S.Fine", 0, xml(case("S", "Fine")))
        self.alone("a", "S.Crashes", 5, None, "[ RUN      ] S.Crashes\r\nwine: Unhandled page fault at 0x0\r\n")
        text, ok, results = self.verdict(["a.exe"])
        self.assertFalse(ok)
        self.assertEqual(["S.Crashes"], results[0].failed_tests())
        self.assertEqual(report.CRASHED, results[0].tests["S.Crashes"].outcome)
        self.assertIn("ended with exit code 5 before writing its results", text)
        self.assertIn("Unhandled page fault at 0x0", text)

    def test_a_crash_with_nothing_run_on_its_own_still_fails_with_the_output(self):
        self.program("a", 3, None, "err:module:import_dll Library halvo_plugin.dll not found\r\n")
        text, ok, _ = self.verdict(["a.exe"])
        self.assertFalse(ok)
        self.assertIn("Library halvo_plugin.dll not found", text)

    def test_a_bad_exit_code_after_passing_tests_fails(self):
        self.program("a", 3, xml(case("S", "One")), gtest_output(("S.One", True, [])) + "crash in a destructor\r\n")
        text, ok, _ = self.verdict(["a.exe"])
        self.assertFalse(ok)
        self.assertIn("exited with code 3 although none of its tests failed", text)
        self.assertIn("crash in a destructor", text)

    def test_a_program_stopped_by_the_time_limit_says_so(self):
        self.program("a", 124, None, "[ RUN      ] S.Hangs\r\n")
        text, ok, _ = self.verdict(["a.exe"])
        self.assertFalse(ok)
        self.assertIn("124 (stopped by the time limit)", text)

    def test_a_program_the_guest_never_reached_fails(self):
        self.program("a", 0, xml(case("S", "One")))
        text, ok, _ = self.verdict(["a.exe", "b.exe"])
        self.assertFalse(ok)
        self.assertIn("b.exe never ran", text)

    def test_an_unreadable_report_counts_as_missing(self):
        self.program("a", 0, '<?xml version="1.0"?><testsuites><testsuite', gtest_output(("S.One", True, [])))
        _, ok, results = self.verdict(["a.exe"])
        self.assertFalse(ok)
        self.assertFalse(results[0].complete)

    def test_parameterised_names_keep_their_slashes(self):
        name = "Sizes/Layout.Offsets/1"
        output = gtest_output((name, False, ["offset 8 != 4"], 8))
        self.program("a", 1, xml(case("Sizes/Layout", "Offsets/1", FAILURE)), output)
        text, ok, results = self.verdict(["a.exe"])
        self.assertFalse(ok)
        self.assertEqual([name], results[0].failed_tests())
        self.assertIn("offset 8 != 4", text)


class CountComparison(GuestFolder):
    def setUp(self):
        super().setUp()
        self.program("module_tests", 0, xml(case("S", "One"), case("S", "Two")))

    def compare(self, text, patterns=()):
        return self.verdict(["module_tests.exe"], report.x86_64_tests(text), patterns)

    def test_equal_lists_pass_and_lines_that_name_no_test_are_not_counted(self):
        text, ok, _ = self.compare(listing("module_tests.exe", "S.One", "S.Two") + "\nmodule_tests.exe\t\n")
        self.assertTrue(ok, text)
        self.assertIn("the x86_64 test programs list 2 tests; 64-bit-only by nature: none; equal", text)

    def test_a_test_missing_in_the_guest_fails(self):
        text, ok, _ = self.compare(listing("module_tests.exe", "S.One", "S.Two", "S.Three"))
        self.assertFalse(ok)
        self.assertIn("not run in the guest: module_tests.exe S.Three", text)

    def test_a_whole_program_missing_in_the_guest_fails(self):
        text, ok, _ = self.compare(listing("module_tests.exe", "S.One", "S.Two") + listing("engine_tests.exe", "E.One"))
        self.assertFalse(ok)
        self.assertIn("not run in the guest: engine_tests.exe E.One", text)

    def test_a_test_only_in_the_guest_fails(self):
        text, ok, _ = self.compare(listing("module_tests.exe", "S.One"))
        self.assertFalse(ok)
        self.assertIn("not in the x86_64 list: module_tests.exe S.Two", text)

    def test_named_64_bit_only_tests_are_excused_and_shown(self):
        text, ok, _ = self.compare(listing("module_tests.exe", "S.One", "S.Two", "Wide.PointerIn8Bytes", "S.Only64"),
                                   ["Wide.*", "MODULE_tests.exe:S.Only64", "other.exe:S.One"])
        self.assertTrue(ok, text)
        self.assertIn("64-bit-only by nature: module_tests.exe S.Only64, module_tests.exe Wide.PointerIn8Bytes", text)

    def test_a_pattern_for_another_program_excuses_nothing(self):
        text, ok, _ = self.compare(listing("module_tests.exe", "S.One", "S.Two", "S.Only64"),
                                   ["other.exe:S.Only64"])
        self.assertFalse(ok)

    def test_the_pattern_file_skips_comments_and_blank_lines(self):
        self.write("patterns", "# why\n\n  Wide.*  \n")
        self.assertEqual(["Wide.*"], report.read_patterns(os.path.join(self.out, "patterns")))


class WorkOrder(unittest.TestCase):
    def test_programs_without_a_time_come_first_then_the_slowest(self):
        timing = {"a": 5.0, "b": 30.0, "c": 1.0, "gone": 99.0}
        self.assertEqual(["new.exe", "b.exe", "a.exe", "c.exe"],
                         report.slowest_first(["a.exe", "new.exe", "b.exe", "c.exe"], timing))


class MainProgram(GuestFolder):
    def main(self, arguments):
        with contextlib.redirect_stdout(io.StringIO()):
            return report.main(arguments)

    def test_exit_code_follows_the_verdict(self):
        self.program("a", 0, xml(case("S", "One")))
        self.write("programs", "a.exe\n")
        self.write("list.txt", listing("a.exe", "S.One"))
        arguments = ["--results", self.out, "--programs", os.path.join(self.out, "programs"),
                     "--x86_64-list", os.path.join(self.out, "list.txt")]
        self.assertEqual(0, self.main(arguments))
        self.write("list.txt", listing("a.exe", "S.One", "S.Two"))
        self.assertEqual(1, self.main(arguments))

    def test_an_empty_program_list_fails(self):
        self.write("programs", "\n")
        self.assertEqual(1, self.main(["--results", self.out, "--programs", os.path.join(self.out, "programs")]))


if __name__ == "__main__":
    unittest.main(verbosity=1)
