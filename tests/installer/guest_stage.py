#!/usr/bin/python3
"""The installer's checks, run inside the emulated 32-bit PC under wine32
(tests/installer/run-stage.sh prepares them for a boot of tests/vm32/run-guest.sh),
in a Wine prefix of their own. Each scenario installs silently,
compares the prefix before and after (registry and files), lets the headless
host find the plug-in through the MozillaPlugins key alone and download a file
through plug-in and engine from a page the site lock allows (while pages it
does not allow get status 1), and uninstalls silently:

  per machine  /S /ORIGINS=...: an administrator's run without a mode switch,
               while the user has planted a per-user entry whose uninstaller
               is a program of theirs: Program Files and HKLM (the list too),
               the planted program never runs, nothing of HKCU is read or
               written; the uninstall refuses /REMOVEDATA, then keeps the
               engine's data and removes the list
  refusals     installs refused with exit code 3 and nothing changed: a list
               entry the plug-in would not read, a per-user install with
               administrator rights, one for all users without them, one for
               all users into a folder users can change
  per user     /S /ORIGINS=... without administrator rights (run_limited.exe)
               and without a mode switch: the local application-data folder
               and HKCU, nothing of HKLM; installed again with another list,
               which replaces the first; the uninstall refuses to run with
               administrator rights, and with /REMOVEDATA takes the engine's
               data too
  upgrade      the previous version per machine with a list, a finished task
               and changed settings, then this version over it without a
               list: one version registered, the list, the task and the
               settings still there

Wine gives every program an administrator's full rights and has no consent
prompt ("runas" starts a program with the rights it already has): the stage
takes the rights away with run_limited.exe where a run must have none, and
cannot show an elevation itself. Nor does Wine keep users out of folders:
that Program Files is closed to them is Windows' part.

A scenario is a function in SCENARIOS; each starts from the prefix as the
engine's own registration left it. Writes its findings to $OUT/installer.txt
and a progress line for the host at each step; exits 0 when every check passed."""

import os
import re
import subprocess
import sys
import time

import host_driver
import snapshot

JOB = os.path.dirname(os.path.abspath(__file__))
OUT = os.environ["OUT"]
PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = PREFIX + "/drive_c"
BIN = JOB + "/bin"
MIME = host_driver.MIME_TYPE
STATUS_ENGINE_UNAVAILABLE = 1
ELEMENT = "1"  # the page's plug-in element
REFUSED_ELEMENT = "2"  # an element on a page the site lock does not allow
EXIT_USAGE = 3  # the installer's exit code for switches it refuses
PROGRAM_FILES = "C:\\Program Files"
LOCAL_APPDATA = "C:\\users\\root\\AppData\\Local"
MACHINE_FOLDER = PROGRAM_FILES + "\\Halvo\\Transfer Plugin"
USER_FOLDER = LOCAL_APPDATA + "\\Halvo\\Transfer Plugin"
ENGINE_DATA = LOCAL_APPDATA + "\\Halvo\\Engine"
DOWNLOADS = "C:\\downloads"
SITE_LOCK_KEY = "Software\\Halvo\\Transfer Plugin"
# A per-user install that is not ours: what a user (or any program of theirs)
# can write into HKCU, with an "uninstaller" that tells when it ran.
PLANTED_FOLDER = "C:\\users\\Public\\Planted"
PLANTED_MARK = "C:\\planted-program-ran.txt"
UNINSTALL_PARENT = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
UNINSTALL_KEY = UNINSTALL_PARENT + "\\HalvoTransferPlugin"
# Whatever names this product: a difference matching it is ours.
OURS = re.compile(r"halvo|transfer\.(schedule|config|download)|6f0c3a52|mozillaplugins", re.I)

report_file = open(OUT + "/installer.txt", "w", encoding="utf-8")
failures = []


def say(line):
    report_file.write(line + "\n")
    report_file.flush()


def progress(text):
    """A line the host shows while the guest runs (as guest_progress in guest-setup.sh)."""
    try:
        with open("/dev/console", "w") as console:
            console.write("vm32-progress: installer: %s\n" % text)
    except OSError:
        pass


def check(condition, message):
    if not condition:
        failures.append(message)
        say("FAILED: " + message)
    return condition


def unix_path(windows):
    assert windows[:3].upper() == "C:\\"
    return DRIVE_C + "/" + windows[3:].replace("\\", "/")


def wine(*arguments, timeout=300, limited=False):
    """Runs a Windows program (a Linux or a Windows path); LIMITED: without
    administrator rights, through run_limited.exe."""
    if limited:
        program = arguments[0] if ":" in arguments[0] else windows_path(arguments[0])
        arguments = (BIN + "/run_limited.exe", program) + arguments[1:]
    started = time.monotonic()
    try:
        code = subprocess.run(("wine",) + arguments, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        code = "timed out"
    return code, time.monotonic() - started


def start_wine():
    # As for the test programs: one server, and one process keeping the desktop.
    subprocess.run(["bash", "-c", 'source "$VM32_SETUP" && guest_start_wine'], stdin=subprocess.DEVNULL)


def picture(name):
    """The prefix as it is now: the registry as the running wineserver holds it
    (registry_save.exe writes it in Wine's own form) and the files below drive_c."""
    started = time.monotonic()
    hives = {"HKLM": "%s/%s-machine.reg" % (OUT, name), "HKCU": "%s/%s-user.reg" % (OUT, name)}
    code, _ = wine(BIN + "/registry_save.exe", *(windows_path(path) for path in hives.values()))
    if not check(code == 0, "the registry could not be saved for the picture %s (exit code %s)" % (name, code)):
        raise RuntimeError("no picture of the registry")
    saved = time.monotonic()
    taken = snapshot.take(PREFIX, hive_files=hives)
    for path in hives.values():
        os.remove(path)
    with open(OUT + "/timing", "a") as timing:
        timing.write("picture %s: registry saved in %.1f s, read with the files in %.1f s\n" %
                     (name, saved - started, time.monotonic() - saved))
    return taken


def windows_path(path):
    """A Linux path as Wine's programs name it (Z: is the whole file system)."""
    return "Z:" + path.replace("/", "\\")


def changes(before, after):
    return snapshot.differences(before, after)


def show(lines, title):
    say("  %s (%d):" % (title, len(lines)))
    for sign, kind, item in lines:
        say("    %s %s %s" % (sign, kind, item))


def wait_for_uninstaller(folder, seconds=180):
    """An uninstaller run from its folder copies itself to a ~nsuN.tmp folder in
    Temp, starts the copy and returns at once: wait for the copy to end (Wine
    shows a process's Windows command line as its own) and the folder to go."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        running = False
        for pid in os.listdir("/proc"):
            if pid.isdigit():
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        running = running or b"\\~nsu" in f.read().lower()
                except OSError:
                    pass
        if not running and not os.path.exists(unix_path(folder)):
            return True
        time.sleep(0.5)
    return False


def registered(items, hive, name):
    """The value NAME (or '@') of a key from a snapshot diff, in plain words."""
    for _, kind, item in items:
        if kind == "reg" and item.lower().startswith((hive + "\\" + name).lower() + "="):
            return snapshot.value_text(item.split("=", 1)[1])
    return None


def expected_registration(hive, folder, version, engine_classes, origins=None):
    """Every key and value the installer writes, as they appear in a snapshot
    (ORIGINS: the list of allowed sites it leaves, if any)."""
    plugin = hive + "\\Software\\MozillaPlugins\\@halvo/transfer,version=" + version
    # Keys that hold only other keys are not saved on their own: their children stand for them.
    items = {
        plugin: None,
        plugin + "\\\\Path": folder + "\\halvo_plugin.dll",
        plugin + "\\\\Description": "Halvo Transfer Plugin",
        plugin + "\\\\ProductName": "Halvo Transfer Plugin",
        plugin + "\\\\Vendor": "Halvo",
        plugin + "\\\\Version": version,
        plugin + "\\MimeTypes\\" + MIME: None,
        plugin + "\\MimeTypes\\" + MIME + "\\\\Description": "Halvo Transfer Plugin",
    }
    entry = hive + "\\" + UNINSTALL_KEY
    mode = "/ALLUSERS" if hive == "HKLM" else "/CURRENTUSER"
    items.update({
        entry: None,
        entry + "\\\\DisplayName": "Halvo Transfer Plugin",
        entry + "\\\\DisplayVersion": version,
        entry + "\\\\Publisher": "Halvo",
        entry + "\\\\InstallLocation": folder,
        entry + "\\\\DisplayIcon": folder + "\\uninstall.exe",
        entry + "\\\\UninstallString": '"%s\\uninstall.exe" %s' % (folder, mode),
        entry + "\\\\QuietUninstallString": '"%s\\uninstall.exe" /S %s' % (folder, mode),
        entry + "\\\\VersionMajor": version.split(".")[0],
        entry + "\\\\VersionMinor": version.split(".")[1],
        entry + "\\\\NoModify": "1",
        entry + "\\\\NoRepair": "1",
        entry + "\\\\EstimatedSize": "*",
        entry + "\\\\CreatedKeys": "*",
    })
    if origins is not None:
        lock = hive + "\\" + SITE_LOCK_KEY
        items.update({lock: None, lock + "\\\\AllowedOrigins": origins})
    # The engine's classes as its own DllRegisterServer writes them, in this hive and folder.
    for name, value in engine_classes.items():
        if value is not None:
            value = value.replace("C:\\regcheck", folder)
        items[hive + name] = value
    return items


def registry_items(lines, sign="+"):
    """Diff lines of registry items as {item name: value or None for a key}."""
    result = {}
    for s, kind, item in lines:
        if s != sign or kind != "reg":
            continue
        if "\\\\" in item:
            # Key names may hold '=' (the plug-in's does): the value's name starts after the key.
            key, rest = item.split("\\\\", 1)
            value_name, _, data = rest.partition("=")
            result[key + "\\\\" + value_name] = snapshot.value_text(data)
        else:
            result[item] = None
    return result


def compare_registration(added, expected, where):
    say("  registered (%d keys and values expected):" % len(expected))
    for name in sorted(k for k in added if OURS.search(k)):
        say("    %s%s" % (name, "" if added[name] is None else " = " + added[name]))
    lower_added = {k.lower(): (k, v) for k, v in added.items()}
    for name, value in expected.items():
        found = lower_added.pop(name.lower(), None)
        if found is None:
            check(False, "%s: %s was not written" % (where, name))
        elif value not in (None, "*"):
            check(found[1] == value, "%s: %s is %r, not %r" % (where, name, found[1], value))
    for name, value in lower_added.values():
        check(not OURS.search(name), "%s: %s=%r was written besides the listed keys" % (where, name, value))


def check_files(lines, folder, where):
    """The three files in FOLDER, this build's DLLs, nothing else of ours but FOLDER's new parents."""
    added = {}
    for s, kind, item in lines:
        if s == "+" and kind == "file":
            path, _, content = item.partition("=")
            added[path.lower()] = (path, content)
    expected = {folder.lower()} | {(folder + "\\" + n).lower() for n in ("halvo_plugin.dll", "halvo_engine.dll",
                                                                        "uninstall.exe")}
    for path in expected:
        check(path in added, "%s: %s was not installed" % (where, path))
    for name in ("halvo_plugin.dll", "halvo_engine.dll"):
        path, content = added.get((folder + "\\" + name).lower(), ("", ""))
        check(content.split(":")[-1] == sha256(BIN + "/" + name), "%s: %s is not this build's" % (where, name))
    parents = {folder.lower().rsplit("\\", n)[0] for n in (1, 2)}
    # The engine's data folder (and its parent) is the engine's own, made when it first runs.
    engine = ENGINE_DATA.lower()
    extra = [p for key, (p, _) in added.items() if key not in expected and key not in parents and OURS.search(p)
             and not key.startswith(engine) and not engine.startswith(key + "\\")]
    check(not extra, "%s: installed besides the listed files: %s" % (where, ", ".join(extra)))


def sha256(path):
    import hashlib
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


# What changes in the prefix without us: Wine's display driver registers the
# display adapter and its monitor whenever a desktop starts, stamping the day's
# date (as a text and as a time: both differ from the image's on any later day)
# -- the first picture can even catch it half-way, as the desktop of the stage's
# own start comes up beside it; and an uninstaller's copy of itself in Temp is
# deleted at the next restart (as Windows would; NSIS uninstallers all do this).
# Neither the installer nor the plug-in has any business with display devices.
EXPECTED_NOISE = re.compile(r"^HKLM\\System\\CurrentControlSet\\Control\\Class\\\{[-0-9A-F]+\}\\\d+\\\\DriverDate(?:Data)?="
                            r"|^HKLM\\System\\CurrentControlSet\\Control\\Class\\\{4D36E96[8E]-E325-11CE-BFC1-08002BE10318\}(?:\\|$)"
                            r"|^HKLM\\System\\CurrentControlSet\\(?:Enum\\DISPLAY|Control\\Video)(?:\\|$)"
                            r"|^HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\\\PendingFileRenameOperations="
                            r".*\\Temp\\\\~nsu\w+\.tmp", re.I)


def check_clean(before, after, where, kept=()):
    """Nothing differs between BEFORE and AFTER but the KEPT paths (prefixes) and Wine's own stamps."""
    lines = changes(before, after)
    kept_lines = [l for l in lines if any(l[2].lower().startswith(k.lower()) for k in kept)]
    noise = [l for l in lines if l not in kept_lines and EXPECTED_NOISE.search(l[2])]
    left = [l for l in lines if l not in kept_lines and l not in noise]
    show(kept_lines, "kept on purpose (downloads, the engine's data)")
    show(noise, "Wine's own stamps and the uninstaller's temporary copy")
    show(left, "left behind")
    check(not left, "%s: %d differences left behind: %s" % (where, len(left), "; ".join(l[2] for l in left[:5])))
    return lines


class Server:
    """The tests' loopback file server, serving the sample file."""

    def __init__(self):
        ports = OUT + "/ports"
        self.process = subprocess.Popen(["python3", JOB + "/loopback_server.py", "--port-file", ports, "--file",
                                         "sample.bin=" + JOB + "/sample.bin"], stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while not os.path.exists(ports) and time.monotonic() < deadline:
            time.sleep(0.2)
        with open(ports) as f:
            values = dict(line.strip().split("=") for line in f if "=" in line)
        self.url = "http://127.0.0.1:%s/files/sample.bin" % values["http"]

    def stop(self):
        self.process.terminate()
        self.process.wait()


def download(server, folder, file_name, where, page, refused_pages=(), settings=None, engine_may_be_missing=False):
    """The host finds the plug-in in the registry; an element on PAGE (one the
    site lock allows) downloads FILE_NAME into C:\\downloads, while an element
    on each of REFUSED_PAGES gets status 1 for a download and no task comes of
    it; optionally SETTINGS (method, args) are applied after. Answers the
    allowed page's CreateDownload status (None when the host failed)."""
    progress("%s: the host downloads %s through the installed plug-in" % (where, file_name))
    host_log = open(OUT + "/host-%s.log" % file_name, "w")
    host = host_driver.Host(["wine", BIN + "/halvo_host.exe", "--find-mime", MIME],
                            lambda line: host_log.write(line + "\n"))
    try:
        found = host.plugins[0] if host.plugins else ""
        check(found.lower() == (folder + "\\halvo_plugin.dll").lower(),
              "%s: the host loaded %r, not the installed module" % (where, found))
        say("  the host: %s" % "; ".join(host.notes))
        host_driver.new_element(host, ELEMENT, page)
        started = time.monotonic()
        status = create_download(host, ELEMENT, server, file_name)
        created = status
        if status == STATUS_ENGINE_UNAVAILABLE and engine_may_be_missing:
            return status
        if not check(status == host_driver.STATUS_OK, "%s: CreateDownload on %s answered status %d" %
                     (where, page, status)):
            return status
        # The engine works for the allowed page: each refused one gets none of it.
        refused_names = []
        for number, refused in enumerate(refused_pages):
            element, name = str(int(REFUSED_ELEMENT) + number), "refused-%d-%s" % (number, file_name)
            host_driver.new_element(host, element, refused)
            status = create_download(host, element, server, name)
            check(status == STATUS_ENGINE_UNAVAILABLE, "%s: CreateDownload on %s answered status %d, not 1" %
                  (where, refused, status))
            host.request("destroy", element)
            refused_names.append(name)
        task = host_driver.wait_for_finished(host, ELEMENT, file_name, 120)
        finished = [t.get("fileName") for t in host.finished_tasks(ELEMENT)]
        for name in refused_names:
            check(name not in finished and not os.path.exists(unix_path(DOWNLOADS + "\\" + name)),
                  "%s: the refused download %s was made" % (where, name))
        say("  allowed %s; refused (status 1, no task): %s" % (page, ", ".join(refused_pages) or "none tried"))
        say("  downloaded %s in %.1f s: state %s, %s bytes" % (file_name, time.monotonic() - started,
                                                              task.get("state"), task.get("done")))
        check(task.get("state") == str(host_driver.STATE_COMPLETED), "%s: the task ended in state %s" %
              (where, task.get("state")))
        check(sha256(unix_path(DOWNLOADS + "\\" + file_name)) == sha256(JOB + "/sample.bin"),
              "%s: %s differs from the served file" % (where, file_name))
        for method, *arguments in settings or ():
            status, _ = host.call(ELEMENT, method, *arguments)
            check(status == host_driver.STATUS_OK, "%s: %s answered status %d" % (where, method, status))
        host.request("destroy", ELEMENT)
        ledger = host.close()
        host = None
        check(all(ledger.get(k) == "0" for k in ("memory", "objects", "instances", "faults")),
              "%s: the host's ledger is %s" % (where, ledger))
        return created
    except host_driver.HostError as error:
        check(False, "%s: %s" % (where, error))
        return None
    finally:
        if host is not None:
            # Its files (the engine's lock and journal) are free only once it has gone.
            host.process.kill()
            host.process.wait()
        host_log.close()


def create_download(host, element, server, file_name):
    status, _ = host.call(element, "CreateDownload", host_driver.text(server.url), host_driver.text(DOWNLOADS),
                          host_driver.text(file_name), host_driver.text(""), "d:1", "d:0")
    return status


def uninstall(registration, hive, folder, extra, where, limited=False):
    command = registration.get(hive + "\\" + UNINSTALL_KEY + "\\\\QuietUninstallString", "")
    # As the list of programs runs it: the quoted program, then its switches.
    m = re.match(r'"([^"]+)"(.*)$', command or "")
    if not check(m is not None, "%s: no QuietUninstallString" % where):
        return
    progress("%s: uninstalling silently" % where)
    started = time.monotonic()
    code, _ = wine(m.group(1), *(m.group(2).split() + list(extra)), limited=limited)
    done = wait_for_uninstaller(folder)
    say("  silent uninstall: exit code %s, %.1f s" % (code, time.monotonic() - started))
    check(code == 0 and done, "%s: the uninstaller did not finish (exit code %s)" % (where, code))


def install(setup, switches, where, limited=False, expected_code=0):
    progress("%s: installing %s silently" % (where, setup))
    code, seconds = wine(JOB + "/" + setup, "/S", *switches, limited=limited)
    say("  silent install (%s %s)%s: exit code %s, %.1f s" % (setup, " ".join(switches),
                                                           " without administrator rights" if limited else "",
                                                           code, seconds))
    check(code == expected_code, "%s: the installer ended with %s, not %s" % (where, code, expected_code))
    return seconds


def check_install(before, setup, switches, expected, folder, where, limited=False):
    """Installs silently and checks what it wrote against BEFORE: the registry
    items EXPECTED and the files in FOLDER. Answers the registry items added
    and the picture after."""
    install(setup, switches, where, limited=limited)
    after = picture(where.replace(" ", "-"))
    lines = changes(before, after)
    added = registry_items(lines)
    compare_registration(added, expected, where)
    check_files(lines, folder, where)
    return added, after


def check_hive_untouched(before, after, hive, where):
    """Nothing of HIVE changed between the pictures but Wine's own stamps."""
    touched = [l for l in changes(before, after)
               if l[1] == "reg" and l[2].startswith(hive + "\\") and not EXPECTED_NOISE.search(l[2])]
    show(touched, "changed in " + hive)
    check(not touched, "%s: %d changes in %s: %s" % (where, len(touched), hive, "; ".join(l[2] for l in touched[:3])))


def origins_switch(origins):
    # One argument: Wine passes it in double quotes, "/ORIGINS=a b", as Windows' own programs do.
    return "/ORIGINS=" + origins


def engine_classes(base):
    """The keys and values the engine's DllRegisterServer writes, relative to the hive."""
    os.makedirs(unix_path("C:\\regcheck"), exist_ok=True)
    subprocess.run(["cp", BIN + "/halvo_engine.dll", unix_path("C:\\regcheck")], check=True)
    code, _ = wine("regsvr32", "/s", "C:\\regcheck\\halvo_engine.dll")
    check(code == 0, "the engine's own registration ended with %s" % code)
    registered_picture = picture("engine-registered")
    code, _ = wine("regsvr32", "/u", "/s", "C:\\regcheck\\halvo_engine.dll")
    check(code == 0, "the engine's own unregistration ended with %s" % code)
    subprocess.run(["rm", "-rf", unix_path("C:\\regcheck")], check=True)
    items = registry_items(changes(base, registered_picture))
    classes = {k[len("HKLM"):]: v for k, v in items.items() if k.startswith("HKLM\\Software\\Classes") and OURS.search(k)}
    keys = [k for k in classes if "\\\\" not in k]
    check(len(keys) == 15, "the engine registered %d class keys, not 5 for each of its 3 classes" % len(keys))
    return classes


class Stage:
    """What the scenarios share: the two versions, the engine's own classes,
    the file server, the clean prefix (start) and the picture the last
    scenario left (last)."""

    def __init__(self, current, previous, classes, server, start):
        self.current, self.previous, self.classes, self.server = current, previous, classes, server
        self.start = self.last = start


# The lists each scenario gives, and a page each allows.
MACHINE_ORIGINS = "https://a.example https://*.b.example"
MACHINE_PAGE = "https://downloads.b.example/files/"
# The default list's own page, and the domain that "*." leaves out.
MACHINE_REFUSED = ("http://127.0.0.1/", "https://b.example/")
USER_ORIGINS = "http://localhost:* https://a.example"
USER_PAGE = "http://localhost:8080/app.html"
USER_AGAIN_ORIGINS = "https://c.example:8443"
UPGRADE_ORIGINS = "https://*.b.example"


def per_machine(stage):
    parent_existed = plant_user_entry(stage.last)
    planted = picture("planted")
    # An administrator's run without a mode switch: it must neither take the
    # user's entry for an install to upgrade nor run its "uninstaller".
    expected = expected_registration("HKLM", MACHINE_FOLDER, stage.current, stage.classes, MACHINE_ORIGINS)
    added, installed = check_install(planted, "setup-current.exe", [origins_switch(MACHINE_ORIGINS)], expected,
                                     MACHINE_FOLDER, "per machine")
    check(not os.path.exists(unix_path(PLANTED_MARK)), "per machine: the installer ran the planted program")
    check_hive_untouched(planted, installed, "HKCU", "per machine")
    download(stage.server, MACHINE_FOLDER, "machine.bin", "per machine", MACHINE_PAGE, MACHINE_REFUSED)
    # The engine's data lies in the user's folder: not for a run with administrator rights.
    code = run_uninstaller_in_place(MACHINE_FOLDER, ["/S", "/REMOVEDATA"])
    check(code == EXIT_USAGE and os.path.exists(unix_path(MACHINE_FOLDER + "\\halvo_plugin.dll")),
          "per machine: the uninstaller with /REMOVEDATA ended with %s, not refused" % code)
    uninstall(added, "HKLM", MACHINE_FOLDER, [], "per machine")
    check(not os.path.exists(unix_path(PLANTED_MARK)), "per machine: the uninstaller ran the planted program")
    say("  the planted per-user entry's program %s" % ("ran" if os.path.exists(unix_path(PLANTED_MARK)) else
                                                       "was never run, by the installer or the uninstaller"))
    remove_plant(parent_existed)
    stage.last = picture("machine-removed")
    check_clean(stage.start, stage.last, "per-machine uninstall",
                kept=(DOWNLOADS + "\\", ENGINE_DATA, LOCAL_APPDATA + "\\Halvo"))
    check(os.path.exists(unix_path(ENGINE_DATA + "\\settings.txt")),
          "per-machine uninstall: the engine's settings were not kept")


def refusals(stage):
    """Runs that must end at once with exit code 3, changing nothing."""
    cases = [
        ("an entry the plug-in would not read", False,
         ["/ALLUSERS", origins_switch("https://a.example https://b.example/")]),
        ("per user with administrator rights", False, ["/CURRENTUSER"]),
        ("for all users without administrator rights", True, ["/ALLUSERS"]),
        ("for all users into a folder users can change", False, ["/ALLUSERS", "/D=C:\\users\\Public\\Halvo"]),
    ]
    before = stage.last
    for where, limited, switches in cases:
        install("setup-current.exe", switches, "refused: " + where, limited=limited, expected_code=EXIT_USAGE)
    stage.last = picture("refusals")
    check_clean(before, stage.last, "the refused installs")


def per_user(stage):
    # Over what the per-machine uninstall kept (the engine's data, the downloads);
    # without administrator rights and without a mode switch: per user.
    expected = expected_registration("HKCU", USER_FOLDER, stage.current, stage.classes, USER_ORIGINS)
    added, installed = check_install(stage.last, "setup-current.exe", [origins_switch(USER_ORIGINS)], expected,
                                     USER_FOLDER, "per user", limited=True)
    check_hive_untouched(stage.last, installed, "HKLM", "per user")
    status = download(stage.server, USER_FOLDER, "user.bin", "per user", USER_PAGE, MACHINE_REFUSED,
                      engine_may_be_missing=True)
    if status == STATUS_ENGINE_UNAVAILABLE:
        # Wine 8 does not merge HKCU\Software\Classes into HKEY_CLASSES_ROOT
        # as Windows does: the test gives COM that merged view of the
        # installer's own per-user keys, and takes it away again after.
        say("  Wine found no per-user COM classes: merging the installer's HKCU classes into HKCR for the download")
        merge(added, "HKCU", "HKLM")
        download(stage.server, USER_FOLDER, "user.bin", "per user", USER_PAGE, MACHINE_REFUSED)
        merge(added, "HKCU", "HKLM", remove=True)
    # The list given again replaces the one installed.
    expected = expected_registration("HKCU", USER_FOLDER, stage.current, stage.classes, USER_AGAIN_ORIGINS)
    added, _ = check_install(stage.last, "setup-current.exe", [origins_switch(USER_AGAIN_ORIGINS)], expected,
                             USER_FOLDER, "per user again", limited=True)
    # A per-user install is removed with its user's rights, never an administrator's.
    code = run_uninstaller_in_place(USER_FOLDER, ["/S"])
    check(code == EXIT_USAGE and os.path.exists(unix_path(USER_FOLDER + "\\halvo_plugin.dll")),
          "per user: the uninstaller with administrator rights ended with %s, not refused" % code)
    uninstall(added, "HKCU", USER_FOLDER, ["/REMOVEDATA"], "per user", limited=True)
    stage.last = picture("user-removed")
    check_clean(stage.start, stage.last, "per-user uninstall with /REMOVEDATA", kept=(DOWNLOADS + "\\",))
    check(not os.path.exists(unix_path(ENGINE_DATA)), "per-user uninstall: /REMOVEDATA left the engine's data")


def upgrade(stage):
    install("setup-previous.exe", ["/ALLUSERS", origins_switch(UPGRADE_ORIGINS)], "previous version")
    download(stage.server, MACHINE_FOLDER, "upgrade.bin", "previous version", MACHINE_PAGE,
             settings=[("SetLimitSpeed", "d:300", "d:0"), ("SetDiskCache", "d:2048")])
    kept = {name: read(unix_path(ENGINE_DATA + "\\" + name)) for name in ("settings.txt", "finished.journal")}
    check(b"download_limit_kib=300" in (kept["settings.txt"] or b""), "previous version: the speed limit was not saved")
    # No switch: the installed version's scope, folder and list are kept.
    added, _ = check_install(stage.start, "setup-current.exe", [],
                             expected_registration("HKLM", MACHINE_FOLDER, stage.current, stage.classes,
                                                   UPGRADE_ORIGINS), MACHINE_FOLDER, "upgrade")
    for name, content in kept.items():
        check(read(unix_path(ENGINE_DATA + "\\" + name)) == content, "upgrade: %s changed" % name)
    check_finished_after_upgrade(MACHINE_PAGE)
    say("  kept over the upgrade: the list, settings.txt and finished.journal unchanged, the finished task listed")
    settings = read(unix_path(ENGINE_DATA + "\\settings.txt"))
    # (The plug-in sets the number of downloads at once and auto-start at every start.)
    check(b"download_limit_kib=300" in settings and b"disk_cache_kib=2048" in settings,
          "upgrade: the settings did not survive: %r" % settings)
    uninstall(added, "HKLM", MACHINE_FOLDER, [], "upgrade")
    stage.last = picture("upgrade-removed")
    check_clean(stage.start, stage.last, "uninstall after the upgrade",
                kept=(DOWNLOADS + "\\", ENGINE_DATA, LOCAL_APPDATA + "\\Halvo"))


def run_uninstaller_in_place(folder, switches):
    """The uninstaller in FOLDER run where it is (_?=), so that its own exit
    code comes back: an uninstaller started plainly hands over to a copy of
    itself in Temp and ends at once. NSIS reads "_?=" only unquoted, while Wine
    quotes every argument that holds a blank: the command line goes through a
    batch file as written (cmd waits for the program and ends with its code)."""
    batch = "C:\\uninstall-in-place.bat"
    with open(unix_path(batch), "w", newline="") as f:
        f.write('@"%s\\uninstall.exe" %s _?=%s\r\n@exit /b %%ERRORLEVEL%%\r\n' % (folder, " ".join(switches), folder))
    code, _ = wine("cmd", "/c", batch)
    os.remove(unix_path(batch))
    say("  the uninstaller in %s run in place (%s) with administrator rights: exit code %s" %
        (folder, " ".join(switches), code))
    return code


def plant_user_entry(before):
    """A per-user install entry of the product that is not ours, with an
    "uninstaller" that marks when it runs (removed again by remove_plant).
    Answers whether the key of per-user entries was there in BEFORE."""
    parent_existed = ("HKCU\\" + UNINSTALL_PARENT).lower() in before["registry"]
    os.makedirs(unix_path(PLANTED_FOLDER), exist_ok=True)
    subprocess.run(["cp", BIN + "/planted_program.exe", unix_path(PLANTED_FOLDER + "\\uninstall.exe")], check=True)
    key = "HKEY_CURRENT_USER\\" + UNINSTALL_KEY
    values = {"DisplayName": "Halvo Transfer Plugin", "DisplayVersion": "1.0.0.1", "InstallLocation": PLANTED_FOLDER,
              "UninstallString": '"%s\\uninstall.exe" /CURRENTUSER' % PLANTED_FOLDER,
              "QuietUninstallString": '"%s\\uninstall.exe" /S /CURRENTUSER' % PLANTED_FOLDER}
    import_registry(["[%s]" % key] + ['"%s"=%s' % (name, reg_text(value)) for name, value in values.items()])
    return parent_existed


def remove_plant(parent_existed):
    # The key of per-user entries goes too when the plant made it.
    import_registry(["[-HKEY_CURRENT_USER\\%s]" % (UNINSTALL_KEY if parent_existed else UNINSTALL_PARENT)])
    subprocess.run(["rm", "-rf", unix_path(PLANTED_FOLDER), unix_path(PLANTED_MARK)], check=True)


# In this order: the per-user install starts from what the per-machine one kept.
SCENARIOS = [("per machine", per_machine), ("refusals", refusals), ("per user", per_user), ("upgrade", upgrade)]


def main():
    with open(JOB + "/versions") as f:
        current, previous = f.read().split()
    say("installer stage: this version %s, the previous one %s" % (current, previous))
    progress("starting Wine and the file server")
    os.makedirs(unix_path(DOWNLOADS), exist_ok=True)
    start_wine()
    server = Server()
    try:
        base = picture("before")
        progress("the engine's own registration")
        classes = engine_classes(base)
        start = picture("start")
        check_clean(base, start, "the engine's own unregistration")
        stage = Stage(current, previous, classes, server, start)
        for number, (name, scenario) in enumerate(SCENARIOS, 1):
            progress("%s (scenario %d of %d)" % (name, number, len(SCENARIOS)))
            say(name + ":")
            scenario(stage)
    finally:
        server.stop()
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
    say("%d checks failed" % len(failures) if failures else "every installer check passed")
    progress("%d checks failed" % len(failures) if failures else "every check passed")
    return 1 if failures else 0


def check_finished_after_upgrade(page):
    host_log = open(OUT + "/host-upgraded.log", "w")
    host = None
    try:
        host = host_driver.Host(["wine", BIN + "/halvo_host.exe", "--find-mime", MIME],
                                lambda line: host_log.write(line + "\n"))
        host_driver.new_element(host, ELEMENT, page)
        tasks = host.finished_tasks(ELEMENT)
        names = [t.get("fileName") for t in tasks]
        check("upgrade.bin" in names, "upgrade: the finished task is gone (finished list: %s)" % names)
        say("  finished list after the upgrade: %s" % ", ".join(n or "?" for n in names))
        host.request("destroy", ELEMENT)
        host.close()
        host = None
    except host_driver.HostError as error:
        check(False, "upgrade: %s" % error)
    finally:
        if host is not None:
            # Its files (the engine's lock and journal) are free only once it has gone.
            host.process.kill()
            host.process.wait()
        host_log.close()


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def merge(added, source, target, remove=False):
    """Copies (or removes) the class keys of SOURCE into TARGET through one .reg file."""
    names = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}
    lines = []
    keys = {}
    for name, value in added.items():
        key, _, value_name = name.partition("\\\\")
        if not key.startswith(source + "\\Software\\Classes\\") or not OURS.search(key):
            continue
        keys.setdefault(key, {})
        if value_name:
            keys[key][value_name] = value
    for key in sorted(keys):
        target_key = names[target] + key[len(source):]
        if remove:
            # Only the topmost keys of ours (never a parent such as CLSID itself).
            if not OURS.search(key.rsplit("\\", 1)[0]):
                lines += ["[-%s]" % target_key, ""]
            continue
        lines.append("[%s]" % target_key)
        for value_name, value in sorted(keys[key].items()):
            lines.append("%s=%s" % ("@" if value_name == "@" else '"%s"' % value_name, reg_text(value)))
        lines.append("")
    import_registry(lines)


def reg_text(value):
    """A string value as a .reg file writes it."""
    return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')


def import_registry(lines):
    """Imports the lines of a .reg file (keys, values, [-key] removals) with regedit."""
    path = unix_path("C:\\import.reg")
    with open(path, "w", encoding="utf-16") as f:
        f.write("\r\n".join(["Windows Registry Editor Version 5.00", ""] + lines) + "\r\n")
    code, _ = wine("regedit", "/S", "C:\\import.reg")
    os.remove(path)
    check(code == 0, "regedit ended with %s importing %s" % (code, lines[0] if lines else "nothing"))


if __name__ == "__main__":
    try:
        code = main()
    except Exception as error:  # a broken stage must still say why
        import traceback
        say("the stage broke: %s\n%s" % (error, traceback.format_exc()))
        code = 1
    report_file.close()
    sys.exit(code)
