#!/usr/bin/python3
"""Checks of the installer package, of the installer's own functions and of
the prefix pictures the guest stage compares, on this machine (no 32-bit
program runs here: the functions are built into a 64-bit program of their own,
installer_functions.nsi, and run under wine64 in the tests' prefix):

  package_test.py I686_BUILD VERSION SOURCE_DIR WINEPREFIX X86_64_BIN
"""

import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import snapshot  # noqa: E402

I686_BUILD, VERSION, SOURCE_DIR, WINEPREFIX, X86_64_BIN = sys.argv[1:6]
del sys.argv[1:6]


def version_h():
    with open(os.path.join(SOURCE_DIR, "resources", "version.h")) as f:
        text = f.read()
    parts = [re.search(r"#define HALVO_VERSION_%s (\d+)" % p, text).group(1) for p in ("MAJOR", "MINOR", "PATCH", "BUILD")]
    return ".".join(parts)


def make(version, out):
    subprocess.run([os.path.join(SOURCE_DIR, "installer", "make-installer.sh"), version,
                    os.path.join(I686_BUILD, "bin"), out], check=True, stdout=subprocess.DEVNULL)
    with open(out, "rb") as f:
        return f.read()


def version_resource(path):
    pe = pefile.PE(path)
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
               fixed.FileVersionLS & 0xFFFF)
    strings = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return ".".join(map(str, numbers)), strings, pe.FILE_HEADER.Machine


class Package(unittest.TestCase):
    def setUp(self):
        self.built = os.path.join(I686_BUILD, "installer", "halvo-transfer-plugin-%s-setup.exe" % VERSION)

    def test_the_version_comes_from_the_one_place_into_name_and_resource(self):
        self.assertEqual(VERSION, version_h())
        self.assertTrue(os.path.isfile(self.built), self.built)
        numbers, strings, machine = version_resource(self.built)
        self.assertEqual(VERSION, numbers)
        self.assertEqual(VERSION, strings.get("FileVersion"))
        self.assertEqual(VERSION, strings.get("ProductVersion"))
        self.assertEqual("Halvo Transfer Plugin", strings.get("ProductName"))
        self.assertEqual(0x14C, machine, "a 32-bit installer, for the 32-bit module")

    def test_the_same_inputs_give_the_same_bytes_at_another_time(self):
        with tempfile.TemporaryDirectory() as folder:
            first = make(VERSION, os.path.join(folder, "a.exe"))
            time.sleep(1.1)
            second = make(VERSION, os.path.join(folder, "b.exe"))
            lower = make("1.0.0.1", os.path.join(folder, "c.exe"))
        self.assertEqual(first, second)
        with open(self.built, "rb") as f:
            self.assertEqual(first, f.read(), "the build's installer is out of date or not reproducible")
        self.assertNotEqual(first, lower)

    def test_the_manifest_asks_for_no_administrator_rights(self):
        # The uninstaller is written from the same program, with the same manifest.
        pe = pefile.PE(self.built)
        manifests = [pe.get_data(resource.data.struct.OffsetToData, resource.data.struct.Size)
                     for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == 24
                     for name in kind.directory.entries for resource in name.directory.entries]
        self.assertEqual(1, len(manifests))
        levels = re.findall(rb'requestedExecutionLevel\s+level="(\w+)"', manifests[0])
        self.assertEqual([b"asInvoker"], levels, manifests[0])

    def test_bad_versions_are_refused_by_the_script(self):
        with tempfile.TemporaryDirectory() as folder:
            for version in ("1.0.5", "1.0.0.x", ""):
                result = subprocess.run([os.path.join(SOURCE_DIR, "installer", "make-installer.sh"), version,
                                         os.path.join(I686_BUILD, "bin"), os.path.join(folder, "bad.exe")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.assertNotEqual(0, result.returncode, version)
                self.assertFalse(os.path.exists(os.path.join(folder, "bad.exe")), version)


WINE_ENVIRONMENT = dict(os.environ, WINEPREFIX=WINEPREFIX, WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d", LC_ALL="C.UTF-8")


def windows_path(path):
    """A Linux path as Wine's programs name it (Z: is the whole file system)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*arguments):
    """The exit code and the output. The output goes through a file: Wine's
    services, when a program starts them, hold a pipe open long after it ends."""
    with tempfile.TemporaryFile() as output:
        code = subprocess.run(("wine",) + arguments, env=WINE_ENVIRONMENT, stdin=subprocess.DEVNULL, stdout=output,
                              stderr=subprocess.STDOUT, timeout=300).returncode
        output.seek(0)
        return code, output.read().decode(errors="replace")


# Entries of the allowed list and whether the plug-in reads them; the installer
# must refuse exactly those it does not (which it would leave out unsaid).
ENTRIES = [
    ("https://a.example", True),
    ("HTTPS://A.Example", True),
    ("http://a.example:8080", True),
    ("http://a.example:*", True),
    ("https://*.a.example", True),
    ("https://*.a.example:*", True),
    ("http://a_b-c.example", True),
    ("http://127.0.0.1", True),
    ("http://[::1]", True),
    ("http://[::1]:*", True),
    ("http://[FE80::1]:8080", True),
    ("https://a.example:0080", True),
    ("https://a.example:65535", True),
    ("https://a.example:000080", False),
    ("https://a.example:65536", False),
    ("https://a.example:0", False),
    ("https://a.example:", False),
    ("https://a.example:**", False),
    ("https://a.example:*1", False),
    ("https://a.example:80:90", False),
    ("https://a.example/", False),
    ("https://a.example/path", False),
    ("https://a.example?", False),
    ("https://a.example#top", False),
    ("https://user@a.example", False),
    ("https://a%2eexample", False),
    ("https://a\\b.example", False),
    ("https://b\u00fccher.example", False),
    ("ftp://a.example", False),
    ("file://", False),
    ("https:a.example", False),
    ("a.example", False),
    ("*", False),
    ("https://", False),
    ("https://*", False),
    ("https://*.", False),
    ("https://*example.com", False),
    ("https://a.*.example", False),
    ("https://*.*.example", False),
    ("https://*.[::1]", False),
    ("http://[]", False),
    ("http://[::1", False),
    ("http://[::1]x", False),
    ("http://[a.example]", False),
    ("http://[fe80::1%25eth0]", False),
    ("http://a..b", False),
    ("http://.a", False),
    ("http://a.", False),
]


class InstallerFunctions(unittest.TestCase):
    """The installer's functions as they run in it: the check of /ORIGINS, the
    reading of switches, the rule for per-machine folders, administrator
    rights and the start through the consent prompt."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.program = os.path.join(cls.folder.name, "installer_functions.exe")
        subprocess.run(["makensis", "-V1", "-DINSTALLER_DIR=" + os.path.join(SOURCE_DIR, "installer"),
                        "-DOUT_FILE=" + cls.program, os.path.join(HERE, "installer_functions.nsi")], check=True)
        cls.roots = cls.answers([("roots",)])[0].split("\t")

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    @classmethod
    def answers(cls, cases, limited=False):
        cases_file = os.path.join(cls.folder.name, "cases.txt")
        results_file = os.path.join(cls.folder.name, "results.txt")
        with open(cases_file, "w", encoding="utf-16", newline="") as f:
            f.write("".join("\t".join(case) + "\r\n" for case in cases))
        command = (cls.program, "/CASES=" + windows_path(cases_file), "/RESULTS=" + windows_path(results_file))
        if limited:
            command = (os.path.join(X86_64_BIN, "run_limited.exe"), windows_path(cls.program)) + command[1:]
        code, output = wine(*command)
        if code != 0:
            raise AssertionError("%s ended with %d: %s" % (command, code, output))
        with open(results_file, encoding="utf-16", newline="") as f:
            lines = f.read().split("\r\n")[:-1]
        if len(lines) != len(cases):
            raise AssertionError("%d answers to %d cases: %s" % (len(lines), len(cases), lines))
        return lines

    def test_the_installer_refuses_exactly_the_entries_the_plugin_cannot_read(self):
        answers = self.answers([("origins", entry) for entry, _ in ENTRIES])
        entries_file = os.path.join(self.folder.name, "entries.txt")
        with open(entries_file, "w", encoding="utf-8", newline="\n") as f:
            f.write("".join(entry + "\n" for entry, _ in ENTRIES))
        code, output = wine(os.path.join(X86_64_BIN, "origin_entries.exe"), windows_path(entries_file))
        self.assertEqual(0, code, output)
        verdicts = output.split()
        self.assertEqual(len(ENTRIES), len(verdicts))
        for (entry, readable), answer, verdict in zip(ENTRIES, answers, verdicts):
            with self.subTest(entry=entry):
                self.assertEqual(readable, verdict == "1", "the plug-in's own parser")
                if readable:
                    self.assertEqual("ok\t" + entry, answer)
                else:
                    self.assertTrue(answer.startswith('refused\t"%s" ' % entry), answer)

    def test_a_refusal_says_what_is_wrong_with_the_entry(self):
        reasons = [("https://a.example/", "has a path"), ("ftp://a.example", "http:// or https://"),
                   ("https://user@a.example", "user name"), ("https://a.example#top", "fragment"),
                   ("https://a.example:70000", "port"), ("https://b\u00fccher.example", "xn--"),
                   ("https://a.*.example", '"*." may only begin'), ("https://*.[::1]", "IPv6"),
                   ("http://a..b", "empty label")]
        for (entry, words), answer in zip(reasons, self.answers([("origins", e) for e, _ in reasons])):
            with self.subTest(entry=entry):
                self.assertIn(words, answer)

    def test_lists_are_written_one_blank_apart_and_the_first_bad_entry_is_named(self):
        cases = [" https://a.example \t http://*.b.example:*  ", "", " \t ",
                 "https://a.example https://b.example/ ftp://c.example"]
        answers = self.answers([("origins", case) for case in cases])
        self.assertEqual("ok\thttps://a.example http://*.b.example:*", answers[0])
        self.assertEqual(["ok\t", "ok\t"], answers[1:3], "a blank list: none of the installer's own")
        self.assertTrue(answers[3].startswith('refused\t"https://b.example/" has a path'), answers[3])

    def test_a_switch_value_is_taken_out_before_other_switches_are_read(self):
        # (command line, /ORIGINS= given, its value, the rest, /ALLUSERS seen)
        cases = [
            ('/S /ORIGINS="https://a.example https://*.b.example" /ALLUSERS',
             "1", "https://a.example https://*.b.example", "/S /ALLUSERS", "1"),
            ('"/ORIGINS=https://a.example http://localhost:*" /CURRENTUSER',
             "1", "https://a.example http://localhost:*", "/CURRENTUSER", "0"),
            ("/ORIGINS=https://allusers", "1", "https://allusers", "", "0"),
            ("/ORIGINS=https://x.example/ALLUSERS", "1", "https://x.example/ALLUSERS", "", "0"),
            ("/origins=https://a.example /ORIGINS=https://b.example", "2", "https://b.example", "", "0"),
            ('/ORIGINS="" /S', "1", "", "/S", "0"),
            ("/ALLUSERS", "0", "", "/ALLUSERS", "1"),
            ("/ALLUSERSX /ORIGINSX=a", "0", "", "/ALLUSERSX /ORIGINSX=a", "0"),
        ]
        answers = self.answers([("switches", case[0]) for case in cases])
        for case, answer in zip(cases, answers):
            with self.subTest(command_line=case[0]):
                self.assertEqual(list(case[1:]), answer.split("\t"))

    def test_a_folder_for_all_users_must_lie_below_program_files(self):
        program_files_32, program_files_64 = self.roots
        cases = [
            (program_files_32 + "\\Halvo\\Transfer Plugin", "1"),
            (program_files_64 + "\\Halvo", "1"),
            (program_files_32.upper() + "\\HALVO", "1"),
            (program_files_32 + "\\.\\Halvo\\", "1"),
            (program_files_32, "0"),
            (program_files_32 + "\\", "0"),
            (program_files_32 + "x\\Halvo", "0"),
            (program_files_32 + "\\..\\users\\Public\\Halvo", "0"),
            (program_files_32 + "\\Halvo\\..\\..\\Halvo", "0"),
            ("C:\\users\\Public\\Halvo", "0"),
            (program_files_32.replace("\\", "/") + "/Halvo", "0"),
            ("\\\\server\\share\\Halvo", "0"),
            ("Halvo", "0"),
            ("", "0"),
        ]
        answers = self.answers([("protected", folder) for folder, _ in cases])
        for (folder, expected), answer in zip(cases, answers):
            with self.subTest(folder=folder):
                self.assertEqual(expected, answer)

    def test_rights_are_read_from_the_token_and_a_start_through_the_prompt_gives_its_exit_code(self):
        self.assertEqual(["1"], self.answers([("account",)]), "Wine runs every program as an administrator")
        self.assertEqual(["0"], self.answers([("account",)], limited=True), "run_limited takes the rights away")
        answers = self.answers([("elevated", "C:\\windows\\system32\\cmd.exe", "/c exit 7"),
                                ("elevated", "C:\\no such program.exe", "")])
        self.assertEqual(["7", "not started"], answers)


# A registry file as wineserver saves it, with what the parser must get right.
SYSTEM_REG = r'''WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[Software\\MozillaPlugins\\@halvo/transfer,version=1.0.0.5] 1796810292
#time=1dd87c3cda5f1b6
"Path"="C:\\Program Files\\Halvo\\Transfer Plugin\\halvo_plugin.dll"
"Quote"="say \"hi\" \x00e9t\x00e9"

[Software\\Classes\\CLSID\\{6F0C3A52-7E1B-4C8D-9A24-3B5E8D71C901}\\InprocServer32] 1796810292
@="C:\\x\\halvo_engine.dll"
"ThreadingModel"="Apartment"
"Size"=dword:00000400
"Blob"=hex:01,02,03,\
  04,05

[Software\\Wine] 1796810293
'''


class Pictures(unittest.TestCase):
    def picture(self, system_reg, user_reg="", files=()):
        folder = tempfile.mkdtemp()
        with open(os.path.join(folder, "system.reg"), "w") as f:
            f.write(system_reg)
        with open(os.path.join(folder, "user.reg"), "w") as f:
            f.write("WINE REGISTRY Version 2\n\n" + user_reg)
        for path, content in files:
            full = os.path.join(folder, "drive_c", path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(content)
        os.makedirs(os.path.join(folder, "drive_c"), exist_ok=True)
        out = os.path.join(folder, "picture.json")
        snapshot.take(folder, out)
        return snapshot.load(out)

    def test_keys_values_escapes_and_continued_lines_read_as_windows_has_them(self):
        registry = set(self.picture(SYSTEM_REG)["registry"].values())
        plugin = "HKLM\\Software\\MozillaPlugins\\@halvo/transfer,version=1.0.0.5"
        self.assertIn(plugin, registry)
        self.assertIn(plugin + '\\\\Path="C:\\\\Program Files\\\\Halvo\\\\Transfer Plugin\\\\halvo_plugin.dll"', registry)
        server = "HKLM\\Software\\Classes\\CLSID\\{6F0C3A52-7E1B-4C8D-9A24-3B5E8D71C901}\\InprocServer32"
        self.assertIn(server + "\\\\Blob=hex:01,02,03,04,05", registry)
        self.assertIn(server + "\\\\Size=dword:00000400", registry)
        values = {i.split("\\\\", 1)[1] for i in registry if "\\\\" in i}
        self.assertEqual(6, len(values), values)
        quote = [v for v in values if v.startswith("Quote=")][0]
        self.assertEqual('say "hi" \u00e9t\u00e9', snapshot.value_text(quote.split("=", 1)[1]))
        self.assertEqual("1024", snapshot.value_text("dword:00000400"))

    def test_differences_ignore_key_case_and_wine_scratch_folders_but_not_value_changes(self):
        before = self.picture(SYSTEM_REG, files=[("Program Files/a.txt", "1"), ("windows/x.log", "a"),
                                                ("users/root/AppData/Local/Temp/old.tmp", "o")])
        changed = SYSTEM_REG.replace("Software\\\\Wine", "SOFTWARE\\\\WINE").replace('"Apartment"', '"Both"')
        after = self.picture(changed, user_reg='[Software\\\\Halvo] 1\n"A"="b"\n',
                             files=[("Program Files/a.txt", "2"), ("windows/x.log", "b"),
                                    ("users/root/AppData/Local/Temp/ns1.tmp", "t")])
        lines = snapshot.differences(before, after)
        signs = sorted((sign, kind, item.split("=")[0]) for sign, kind, item in lines)
        self.assertIn(("+", "reg", "HKCU\\Software\\Halvo"), signs)
        self.assertIn(("+", "reg", "HKCU\\Software\\Halvo\\\\A"), signs)
        self.assertTrue(any(s == "+" and "ThreadingModel" in i and "Both" in i for s, _, i in lines))
        self.assertTrue(any(s == "-" and "ThreadingModel" in i and "Apartment" in i for s, _, i in lines))
        self.assertIn(("+", "file", "C:\\Program Files\\a.txt"), signs)
        self.assertIn(("-", "file", "C:\\Program Files\\a.txt"), signs)
        self.assertFalse([l for l in lines if "Wine" in l[2] or "WINE" in l[2] or "x.log" in l[2] or "ns1" in l[2]],
                         lines)
        self.assertEqual(6, len(lines), lines)


if __name__ == "__main__":
    unittest.main()
