#!/usr/bin/python3
"""The installer's checks, run inside the emulated 32-bit PC under wine32
(tests/installer/run-stage.sh prepares them for a boot of vm32/run-guest.sh),
in a Wine prefix of their own. Each scenario installs silently,
compares the prefix before and after (registry and files), lets the headless
host find the plug-in through the MozillaPlugins key alone and download a file
through plug-in and engine, and uninstalls silently:

  machine   /S /ALLUSERS: Program Files and HKLM; the uninstall keeps the
            engine's data
  user      /S /CURRENTUSER: the local application-data folder and HKCU; the
            uninstall with /REMOVEDATA takes the engine's data too
  upgrade   the previous version per machine with a finished task and changed
            settings, then this version over it: one version registered, the
            task and the settings still there

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
ELEMENT = "1"  # the page's one plug-in element
PROGRAM_FILES = "C:\\Program Files"
LOCAL_APPDATA = "C:\\users\\root\\AppData\\Local"
MACHINE_FOLDER = PROGRAM_FILES + "\\Halvo\\Transfer Plugin"
USER_FOLDER = LOCAL_APPDATA + "\\Halvo\\Transfer Plugin"
ENGINE_DATA = LOCAL_APPDATA + "\\Halvo\\Engine"
DOWNLOADS = "C:\\downloads"
UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\HalvoTransferPlugin"
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


def wine(*arguments, timeout=300):
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


def expected_registration(hive, folder, version, engine_classes):
    """Every key and value the installer writes, as they appear in a snapshot."""
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


# What changes in the prefix without us: Wine's display driver stamps its date at
# every start, and an uninstaller's copy of itself in Temp is deleted at the next
# restart (as Windows would; NSIS uninstallers all do this).
EXPECTED_NOISE = re.compile(r"^HKLM\\System\\CurrentControlSet\\Control\\Class\\\{[-0-9A-F]+\}\\\d+\\\\DriverDateData="
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


def download(server, folder, file_name, where, settings=None, engine_may_be_missing=False):
    """The host finds the plug-in in the registry, the page downloads FILE_NAME
    into C:\\downloads; optionally SETTINGS (method, args) are applied after.
    Answers CreateDownload's status (None when the host failed)."""
    progress("%s: the host downloads %s through the installed plug-in" % (where, file_name))
    host_log = open(OUT + "/host-%s.log" % file_name, "w")
    host = host_driver.Host(["wine", BIN + "/halvo_host.exe", "--find-mime", MIME],
                            lambda line: host_log.write(line + "\n"))
    try:
        found = host.plugins[0] if host.plugins else ""
        check(found.lower() == (folder + "\\halvo_plugin.dll").lower(),
              "%s: the host loaded %r, not the installed module" % (where, found))
        say("  the host: %s" % "; ".join(host.notes))
        host_driver.new_element(host, ELEMENT)
        started = time.monotonic()
        status, _ = host.call(ELEMENT, "CreateDownload", host_driver.text(server.url), host_driver.text(DOWNLOADS),
                              host_driver.text(file_name), host_driver.text(""), "d:1", "d:0")
        created = status
        if status == STATUS_ENGINE_UNAVAILABLE and engine_may_be_missing:
            return status
        if not check(status == host_driver.STATUS_OK, "%s: CreateDownload answered status %d" % (where, status)):
            return status
        task = host_driver.wait_for_finished(host, ELEMENT, file_name, 120)
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


def uninstall(registration, hive, folder, extra, where):
    command = registration.get(hive + "\\" + UNINSTALL_KEY + "\\\\QuietUninstallString", "")
    # As the list of programs runs it: the quoted program, then its switches.
    m = re.match(r'"([^"]+)"(.*)$', command or "")
    if not check(m is not None, "%s: no QuietUninstallString" % where):
        return
    progress("%s: uninstalling silently" % where)
    started = time.monotonic()
    code, _ = wine(m.group(1), *(m.group(2).split() + list(extra)))
    done = wait_for_uninstaller(folder)
    say("  silent uninstall: exit code %s, %.1f s" % (code, time.monotonic() - started))
    check(code == 0 and done, "%s: the uninstaller did not finish (exit code %s)" % (where, code))


def install(setup, switches, where):
    progress("%s: installing %s silently" % (where, setup))
    code, seconds = wine(JOB + "/" + setup, "/S", *switches)
    say("  silent install (%s %s): exit code %s, %.1f s" % (setup, " ".join(switches), code, seconds))
    check(code == 0, "%s: the installer ended with %s" % (where, code))
    return seconds


def check_install(before, setup, switches, expected, folder, where):
    """Installs silently and checks what it wrote against BEFORE: the registry
    items EXPECTED and the files in FOLDER. Answers the registry items added."""
    install(setup, switches, where)
    lines = changes(before, picture(where.replace(" ", "-")))
    added = registry_items(lines)
    compare_registration(added, expected, where)
    check_files(lines, folder, where)
    return added


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


def per_machine(stage):
    added = check_install(stage.start, "setup-current.exe", ["/ALLUSERS"],
                          expected_registration("HKLM", MACHINE_FOLDER, stage.current, stage.classes), MACHINE_FOLDER,
                          "per machine")
    download(stage.server, MACHINE_FOLDER, "machine.bin", "per machine")
    uninstall(added, "HKLM", MACHINE_FOLDER, [], "per machine")
    stage.last = picture("machine-removed")
    check_clean(stage.start, stage.last, "per-machine uninstall",
                kept=(DOWNLOADS + "\\", ENGINE_DATA, LOCAL_APPDATA + "\\Halvo"))
    check(os.path.exists(unix_path(ENGINE_DATA + "\\settings.txt")),
          "per-machine uninstall: the engine's settings were not kept")


def per_user(stage):
    # Over what the per-machine uninstall kept (the engine's data, the downloads).
    added = check_install(stage.last, "setup-current.exe", ["/CURRENTUSER"],
                          expected_registration("HKCU", USER_FOLDER, stage.current, stage.classes), USER_FOLDER,
                          "per user")
    status = download(stage.server, USER_FOLDER, "user.bin", "per user", engine_may_be_missing=True)
    if status == STATUS_ENGINE_UNAVAILABLE:
        # Wine 8 does not merge HKCU\Software\Classes into HKEY_CLASSES_ROOT
        # as Windows does: the test gives COM that merged view of the
        # installer's own per-user keys, and takes it away again after.
        say("  Wine found no per-user COM classes: merging the installer's HKCU classes into HKCR for the download")
        merge(added, "HKCU", "HKLM")
        download(stage.server, USER_FOLDER, "user.bin", "per user")
        merge(added, "HKCU", "HKLM", remove=True)
    uninstall(added, "HKCU", USER_FOLDER, ["/REMOVEDATA"], "per user")
    stage.last = picture("user-removed")
    check_clean(stage.start, stage.last, "per-user uninstall with /REMOVEDATA", kept=(DOWNLOADS + "\\",))
    check(not os.path.exists(unix_path(ENGINE_DATA)), "per-user uninstall: /REMOVEDATA left the engine's data")


def upgrade(stage):
    install("setup-previous.exe", ["/ALLUSERS"], "previous version")
    download(stage.server, MACHINE_FOLDER, "upgrade.bin", "previous version",
             settings=[("SetLimitSpeed", "d:300", "d:0"), ("SetDiskCache", "d:2048")])
    kept = {name: read(unix_path(ENGINE_DATA + "\\" + name)) for name in ("settings.txt", "finished.journal")}
    check(b"download_limit_kib=300" in (kept["settings.txt"] or b""), "previous version: the speed limit was not saved")
    # No switch: the installed version's scope and folder are kept.
    added = check_install(stage.start, "setup-current.exe", [],
                          expected_registration("HKLM", MACHINE_FOLDER, stage.current, stage.classes), MACHINE_FOLDER,
                          "upgrade")
    for name, content in kept.items():
        check(read(unix_path(ENGINE_DATA + "\\" + name)) == content, "upgrade: %s changed" % name)
    check_finished_after_upgrade()
    say("  kept over the upgrade: settings.txt and finished.journal unchanged, the finished task listed")
    settings = read(unix_path(ENGINE_DATA + "\\settings.txt"))
    # (The plug-in sets the number of downloads at once and auto-start at every start.)
    check(b"download_limit_kib=300" in settings and b"disk_cache_kib=2048" in settings,
          "upgrade: the settings did not survive: %r" % settings)
    uninstall(added, "HKLM", MACHINE_FOLDER, ["/REMOVEDATA"], "upgrade")
    stage.last = picture("upgrade-removed")
    check_clean(stage.start, stage.last, "uninstall after the upgrade", kept=(DOWNLOADS + "\\",))


# In this order: the per-user install starts from what the per-machine one kept.
SCENARIOS = [("per machine", per_machine), ("per user", per_user), ("upgrade", upgrade)]


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


def check_finished_after_upgrade():
    host_log = open(OUT + "/host-upgraded.log", "w")
    host = None
    try:
        host = host_driver.Host(["wine", BIN + "/halvo_host.exe", "--find-mime", MIME],
                                lambda line: host_log.write(line + "\n"))
        host_driver.new_element(host, ELEMENT)
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
    lines = ["Windows Registry Editor Version 5.00", ""]
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
            quoted = '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')
            lines.append("%s=%s" % ("@" if value_name == "@" else '"%s"' % value_name, quoted))
        lines.append("")
    path = unix_path("C:\\merge.reg")
    with open(path, "w", encoding="utf-16") as f:
        f.write("\r\n".join(lines) + "\r\n")
    code, _ = wine("regedit", "/S", "C:\\merge.reg")
    os.remove(path)
    check(code == 0, "merging the per-user classes ended with %s" % code)


if __name__ == "__main__":
    try:
        code = main()
    except Exception as error:  # a broken stage must still say why
        import traceback
        say("the stage broke: %s\n%s" % (error, traceback.format_exc()))
        code = 1
    report_file.close()
    sys.exit(code)
