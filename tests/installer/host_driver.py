"""Drives the headless host (headless_host/PROTOCOL.md) as a page would drive
the plug-in: one element, script calls, page functions for the task lists.
Used by the installer tests in the 32-bit guest, where no browser exists."""

import queue
import subprocess
import threading
import time

MIME_TYPE = "application/x-halvoplugin"
# The page the element is on: one of this machine, which the plug-in's default site lock allows.
LOOPBACK_PAGE = "http://127.0.0.1/"
STATUS_OK = 0
STATE_COMPLETED = 6
# LoadFinishTask's fields, in order (key, url, folder, fileName, state, ...).
FINISHED_FIELDS = ("key", "url", "folder", "fileName", "state", "size", "done", "averageSpeed", "finished", "path")


class HostError(Exception):
    pass


def text(value):
    """A text field: every byte outside 0x21..0x7E, and '%', as %XX."""
    out = []
    for byte in value.encode("utf-8"):
        out.append(chr(byte) if 0x20 < byte < 0x7F and byte != 0x25 else "%%%02X" % byte)
    return "'" + "".join(out)


def read_text(field):
    if not field.startswith("'"):
        raise HostError("not a text field: %r" % field)
    data, i, raw = bytearray(), 1, field.encode("ascii")
    while i < len(raw):
        if raw[i] == 0x25:
            data.append(int(raw[i + 1:i + 3], 16))
            i += 3
        else:
            data.append(raw[i])
            i += 1
    return data.decode("utf-8", errors="replace")


def decode_escapes(value):
    """The module's \\uXXXX escapes of callback texts, undone."""
    out, i = [], 0
    while i < len(value):
        if value.startswith("\\u", i) and i + 6 <= len(value):
            out.append(chr(int(value[i + 2:i + 6], 16)))
            i += 6
        else:
            out.append(value[i])
            i += 1
    return "".join(out)


def number(field):
    if field.startswith("i:"):
        return int(field[2:])
    if field.startswith("d:"):
        return float(field[2:])
    raise HostError("not a number: %r" % field)


class Host:
    """One halvo_host.exe process started with the given arguments."""

    def __init__(self, command, log):
        self.log = log
        self.lines = queue.Queue()
        self.reports = []
        self.sequence = 0
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        threading.Thread(target=self._read, daemon=True).start()
        self.plugins, self.notes = [], []
        while True:
            line = self._next(120)
            words = line.split(" ")
            if words[0] == "ready":
                break
            if words[0] == "plugin":
                self.plugins.append(read_text(words[1]))
            elif words[0] == "note":
                self.notes.append(read_text(words[1]))
            elif words[0] == "error":
                raise HostError("the host did not start: %s" % read_text(words[2]))

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("ascii", errors="replace").rstrip("\r\n"))
        self.lines.put(None)

    def _next(self, timeout):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise HostError("the host said nothing for %d s" % timeout)
        if line is None:
            raise HostError("the host ended (exit code %s)" % self.process.wait())
        self.log(line)
        if line.startswith("fault "):
            self.reports.append(line)
        return line

    def _send(self, command, *fields):
        self.sequence += 1
        line = " ".join((command, str(self.sequence)) + fields)
        self.log("> " + line)
        self.process.stdin.write((line + "\n").encode("ascii"))
        self.process.stdin.flush()
        return str(self.sequence), line

    def request(self, command, *fields, timeout=120):
        """The answer's words after the sequence number, and the report lines before it.

        The host waits for the page's result of each page function the module calls
        during a request (a callback line with the request's number): these pages'
        functions only record their arguments, so each returns nothing at once."""
        sequence, line = self._send(command, *fields)
        reports, returns = [], set()
        while True:
            answer = self._next(timeout)
            words = answer.split(" ")
            if words[0] in ("ok", "failed", "error") and len(words) > 1 and words[1] in returns:
                returns.discard(words[1])
                if words[0] != "ok":
                    raise HostError("the host refused a page function's result: %s" % answer)
                continue
            if words[0] in ("ok", "failed", "error") and len(words) > 1 and words[1] == sequence:
                if words[0] != "ok":
                    raise HostError("%s: %s" % (line, answer))
                return words[2:], reports
            reports.append(words)
            if words[0] == "callback" and len(words) > 1 and words[1] == sequence:
                returns.add(self._send("return", sequence, "void")[0])

    def call(self, element, method, *values):
        """The method's status and the texts it passed to page functions."""
        answer, reports = self.request("call", element, text(method), *values)
        texts = [decode_escapes(read_text(w[3])) for w in reports if w[0] == "callback" and len(w) > 3]
        return number(answer[0]), texts

    def finished_tasks(self, element):
        status, texts = self.call(element, "LoadFinishTask", "fn:1")
        if status != STATUS_OK:
            raise HostError("LoadFinishTask answered status %d" % status)
        return [dict(zip(FINISHED_FIELDS, t.split("|"))) for t in texts]

    def close(self):
        """Quits; the ledger fields of the host's last line."""
        try:
            answer, _ = self.request("quit")
        finally:
            self.process.stdin.close()
            code = self.process.wait(60)
        if code != 0:
            raise HostError("the host exited with %d" % code)
        return dict(w.split("=", 1) for w in answer if "=" in w)


def new_element(host, element, page=LOOPBACK_PAGE):
    """An instance for an element of the page at address `page`."""
    answer, _ = host.request("new", element, text(page), text(MIME_TYPE), "0", "0", "400", "300")
    if answer[0] != "0" or not answer[1].startswith("np:"):
        raise HostError("NPP_New answered %s" % " ".join(answer))


def wait_for_finished(host, element, file_name, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for task in host.finished_tasks(element):
            if task.get("fileName") == file_name:
                return task
        time.sleep(1)
    raise HostError("%s was not in the finished list after %d s" % (file_name, seconds))
