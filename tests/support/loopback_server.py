#!/usr/bin/python3
"""The tests' own file server on 127.0.0.1: plain HTTP and HTTPS, with the
server faults a download engine must survive, steered by the query string.

Started by a test program (or by scripts/bench-engine.sh). It writes the ports
it listens on to --port-file ("http=N", "https=N", "lease=N") and, with
--lease, ends as soon as the connection the test holds to the lease port
closes, so a test that crashes leaves no server behind.

Content: /data?size=N&seed=S serves N bytes in which the 8-byte little-endian
word at offset 8k is k + S * 2**40: every byte depends on its position, so a
range written to the wrong place shows. Options (query parameters):
  ranges=0        ignore Range headers (always 200 with the whole body)
  status=N        answer with status N and a short body instead
  reset_at=B      reset the connection after B bytes of the body
  reset_once=1    with reset_at: only the first request of this tag resets
  stall_at=B      send B bytes of the body, then nothing more
  delay_ms=T      wait before answering
  name=X          Content-Disposition: attachment; filename="X"
  name_star=X     Content-Disposition with filename*=UTF-8''X (X percent-encoded)
  chunked=1       no Content-Length, chunked transfer coding
  etag=X          an ETag; If-Range with another value gets the whole body
  if_range=0      with etag: ignore If-Range (a part of whatever the file is now)
  announce=N      announce a Content-Length of N whatever is sent (a hostile size)
  endless=1       a chunked body that never ends (the words go on counting)
  type=T          the Content-Type (default application/octet-stream)
  rate=R          send at most R bytes per second (also after a stall: no catching up)
  slow_at=B       after B bytes of the body, 4 KiB every 0.2 s: the transfer is
                  still running whenever a test that saw B bytes acts on it
  paced=N         with rate or slow_at: only the first N requests of this tag are paced
  tag=T           groups requests for /_stats
/redirect?to=URL&code=302 redirects (also under any folder: /a/b/redirect, so
that relative targets with dot segments can be tried); /redirect_loop
redirects to itself. /_change?tag=T&seed=S&etag=E makes later /data requests
of that tag serve seed S with ETag E: the file changed on the server.
/_reset?tag=T resets one connection of that tag that is sending a body, at its
next piece (a test resets a transfer once it has seen bytes arrive: a reset
discards what the client has not read yet); with no body of the tag being
sent it answers 409 and resets nothing, then or later.
/files/NAME serves a real file given with --file NAME=PATH (for benchmarks).
A request with an absolute URL is a proxy request: with --proxy-auth U:P it
needs Proxy-Authorization (Basic) and gets 407 without it; it is then served
as if the path had been asked for directly, and counted as proxied.
/_stats?tag=T answers "name=value" lines about the requests of that tag:
requests, proxied, max_active, ranges (comma-separated "a-b" or "none"),
and the last user_agent, cookie, referer and if_range seen.
"""

import argparse
import base64
import os
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from array import array
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

STATS = {}
STATS_LOCK = threading.Lock()
CHANGES = {}  # tag -> (seed, etag) served instead of the query's
RESETS_ASKED = {}  # tag -> connections still to reset
CONTENT_CACHE = {}
CACHE_LOCK = threading.Lock()
MAKING_LOCK = threading.Lock()
SLOW_PIECE, SLOW_SECONDS = 4096, 0.2  # slow_at's pace
FILES = {}
PROXY_AUTH = None


def stats_for(tag):
    with STATS_LOCK:
        return STATS.setdefault(tag, {"requests": 0, "proxied": 0, "active": 0, "max_active": 0, "ranges": [],
                                      "user_agent": "", "cookie": "", "referer": "", "if_range": "",
                                      "resets": 0})


BLOCK_WORDS = 1 << 16


def words_number(values):
    """The number whose little-endian 64-bit words are values."""
    data = array("Q", values)
    if sys.byteorder != "little":
        data.byteswap()
    return int.from_bytes(data.tobytes(), "little")


EVERY_WORD = words_number([1] * BLOCK_WORDS)  # times n: n in every word
BLOCK_STEPS = words_number(range(BLOCK_WORDS))  # 0, 1, 2, ... one per word


def make_content(size, seed):
    """Little-endian 64-bit words counting up from seed << 40, cut to size bytes.

    Made a block at a time with whole-number arithmetic: counting word by word
    in Python takes seconds for a few megabytes in the emulated PC."""
    words = (size + 7) // 8
    blocks = []
    for first in range(seed << 40, (seed << 40) + words, BLOCK_WORDS):
        count = min(BLOCK_WORDS, (seed << 40) + words - first)
        block = (BLOCK_STEPS + first * EVERY_WORD).to_bytes(8 * BLOCK_WORDS, "little")
        blocks.append(block[:8 * count])
    return b"".join(blocks)[:size]


def content(size, seed):
    """The whole body for (size, seed); cached, as ranges ask for it again and again."""
    key = (size, seed)
    with CACHE_LOCK:
        if key in CONTENT_CACHE:
            return CONTENT_CACHE[key]
    # One making at a time: the connections of one download ask for the same
    # body at once, and each making its own copy multiplied the wait.
    with MAKING_LOCK:
        with CACHE_LOCK:
            if key in CONTENT_CACHE:
                return CONTENT_CACHE[key]
        body = make_content(size, seed)
        with CACHE_LOCK:
            if sum(len(v) for v in CONTENT_CACHE.values()) > 256 << 20:
                CONTENT_CACHE.clear()
            CONTENT_CACHE[key] = body
    return body


def parse_range(header, size):
    """(begin, end inclusive) of a single "bytes=a-b" range; None when the header
    is absent or not understood (it is then ignored); "unsatisfiable" when it
    starts beyond the end."""
    if not header or not header.startswith("bytes=") or "," in header:
        return None
    first, _, last = header[6:].strip().partition("-")
    try:
        if first == "":
            length = int(last)
            return (max(0, size - length), size - 1) if length > 0 and size > 0 else "unsatisfiable"
        begin = int(first)
        end = int(last) if last else size - 1
    except ValueError:
        return None
    if begin >= size:
        return "unsatisfiable"
    if begin > end:
        return None
    return begin, min(end, size - 1)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "HalvoLoopback/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        try:
            self.serve()
        except (ConnectionError, ssl.SSLError, OSError):
            self.close_connection = True

    def serve(self):
        target = self.path
        proxied = False
        if target.startswith("http://") or target.startswith("https://"):
            proxied = True
            parts = urllib.parse.urlsplit(target)
            target = parts.path + ("?" + parts.query if parts.query else "")
            if PROXY_AUTH is not None:
                expected = "Basic " + base64.b64encode(PROXY_AUTH.encode()).decode()
                if self.headers.get("Proxy-Authorization") != expected:
                    self.send_response(407)
                    self.send_header("Proxy-Authenticate", 'Basic realm="halvo"')
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
        url = urllib.parse.urlsplit(target)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        tag = query.get("tag", "")
        stats = stats_for(tag)
        if url.path == "/_stats":
            return self.send_stats(tag)
        if url.path == "/_change":
            with STATS_LOCK:
                CHANGES[tag] = (int(query.get("seed", "0")), query.get("etag"))
            return self.send_plain(200, b"changed\n")
        if url.path == "/_reset":
            with STATS_LOCK:
                sending = stats["active"] > 0
                if sending:
                    RESETS_ASKED[tag] = RESETS_ASKED.get(tag, 0) + 1
            # Asked of no body, it would reset whichever body of the tag came next.
            if not sending:
                return self.send_plain(409, b"no body of this tag is being sent\n")
            return self.send_plain(200, b"reset asked\n")
        with STATS_LOCK:
            stats["requests"] += 1
            stats["proxied"] += 1 if proxied else 0
            stats["user_agent"] = self.headers.get("User-Agent", "")
            stats["cookie"] = self.headers.get("Cookie", "")
            stats["referer"] = self.headers.get("Referer", "")
            stats["if_range"] = self.headers.get("If-Range", "")
        if "delay_ms" in query:
            time.sleep(int(query["delay_ms"]) / 1000.0)
        if url.path == "/redirect" or url.path.endswith("/redirect"):
            return self.send_redirect(query.get("to", "/"), int(query.get("code", "302")))
        if url.path == "/redirect_loop":
            return self.send_redirect("/redirect_loop?" + url.query, 302)
        if url.path.startswith("/files/"):
            return self.send_file(url.path[len("/files/"):], stats)
        if url.path != "/data" and not url.path.startswith("/data/"):
            return self.send_plain(404, b"no such resource\n")
        if "status" in query:
            return self.send_plain(int(query["status"]), b"status as asked\n")
        size = int(query.get("size", "0"))
        seed = int(query.get("seed", "0"))
        with STATS_LOCK:
            if tag in CHANGES:
                seed, etag = CHANGES[tag]
                query["etag"] = etag
        if query.get("endless") == "1":
            return self.send_endless(seed, query)
        body = content(size, seed)
        self.send_body(body, query, stats)

    def send_plain(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_redirect(self, to, code):
        self.send_response(code)
        self.send_header("Location", to)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def send_stats(self, tag):
        stats = stats_for(tag)
        with STATS_LOCK:
            ranges = ",".join(stats["ranges"]) or "none"
            lines = ["requests=%d" % stats["requests"], "proxied=%d" % stats["proxied"],
                     "max_active=%d" % stats["max_active"], "resets=%d" % stats["resets"], "ranges=" + ranges,
                     "user_agent=" + stats["user_agent"], "cookie=" + stats["cookie"],
                     "referer=" + stats["referer"], "if_range=" + stats["if_range"]]
        self.send_plain(200, ("\n".join(lines) + "\n").encode())

    def send_file(self, name, stats):
        path = FILES.get(name)
        if path is None:
            return self.send_plain(404, b"no such file\n")
        size = os.path.getsize(path)
        wanted = parse_range(self.headers.get("Range"), size)
        if wanted == "unsatisfiable":
            return self.send_plain(416, b"")
        begin, end = wanted if wanted else (0, size - 1)
        self.send_response(206 if wanted else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(end - begin + 1))
        if wanted:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (begin, end, size))
        self.end_headers()
        with open(path, "rb") as f:
            self.wfile.flush()
            sock = self.connection
            if isinstance(sock, ssl.SSLSocket):
                f.seek(begin)
                left = end - begin + 1
                while left > 0:
                    chunk = f.read(min(left, 1 << 20))
                    sock.sendall(chunk)
                    left -= len(chunk)
            else:
                sock.sendfile(f, begin, end - begin + 1)

    def send_endless(self, seed, query):
        """Words that go on counting, chunked, until the client goes away."""
        self.send_response(200)
        self.send_header("Content-Type", query.get("type", "application/octet-stream"))
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        base = seed << 40
        words = 8192
        index = 0
        while True:
            data = array("Q", range(base + index, base + index + words))
            if sys.byteorder != "little":
                data.byteswap()
            piece = data.tobytes()
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            index += words

    def send_body(self, body, query, stats):
        tag = query.get("tag", "")
        size = len(body)
        etag = query.get("etag")
        honour_range = query.get("ranges", "1") != "0"
        wanted = parse_range(self.headers.get("Range"), size) if honour_range else None
        if wanted == "unsatisfiable":
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if wanted and etag is not None and self.headers.get("If-Range") not in (None, etag) \
                and query.get("if_range") != "0":
            wanted = None
        begin, end = wanted if wanted else (0, size - 1)
        with STATS_LOCK:
            stats["ranges"].append("%d-%d" % (begin, end) if self.headers.get("Range") else "none")
        chunked = query.get("chunked") == "1"
        self.send_response(206 if wanted else 200)
        self.send_header("Content-Type", query.get("type", "application/octet-stream"))
        if honour_range:
            self.send_header("Accept-Ranges", "bytes")
        if etag is not None:
            self.send_header("ETag", etag)
        if "name" in query:
            self.send_header("Content-Disposition", 'attachment; filename="%s"' % query["name"].replace('"', '\\"'))
        if "name_star" in query:
            self.send_header("Content-Disposition",
                             "attachment; filename*=UTF-8''" + urllib.parse.quote(query["name_star"], safe=""))
        if wanted:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (begin, end, size))
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", query.get("announce", str(end - begin + 1)))
        self.end_headers()

        reset_at = int(query["reset_at"]) if "reset_at" in query else None
        if reset_at is not None and query.get("reset_once") == "1":
            with STATS_LOCK:
                if stats["resets"] > 0:
                    reset_at = None
        stall_at = int(query["stall_at"]) if "stall_at" in query else None
        rate = int(query["rate"]) if "rate" in query else None
        slow_at = int(query["slow_at"]) if "slow_at" in query else None
        if "paced" in query:
            with STATS_LOCK:
                if stats["requests"] > int(query["paced"]):
                    rate = slow_at = None
        with STATS_LOCK:
            stats["active"] += 1
            stats["max_active"] = max(stats["max_active"], stats["active"])
        try:
            position = begin
            sent = 0
            ready = time.monotonic()  # when the next piece may go
            while position <= end:
                slow = slow_at is not None and sent >= slow_at
                step = min(end + 1 - position, SLOW_PIECE if slow else 64 * 1024)
                if slow_at is not None and not slow and sent + step > slow_at:
                    step = slow_at - sent
                if reset_at is not None and sent + step > reset_at:
                    step = reset_at - sent
                if stall_at is not None and sent + step > stall_at:
                    step = stall_at - sent
                if step > 0:
                    piece = body[position:position + step]
                    if chunked:
                        self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
                    else:
                        self.wfile.write(piece)
                    position += step
                    sent += step
                asked = False
                if RESETS_ASKED.get(tag):  # the lock only when a reset may be waiting
                    with STATS_LOCK:
                        asked = RESETS_ASKED.get(tag, 0) > 0
                        if asked:
                            RESETS_ASKED[tag] -= 1
                if asked or (reset_at is not None and sent >= reset_at):
                    with STATS_LOCK:
                        stats["resets"] += 1
                    self.wfile.flush()
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.connection.close()
                    self.close_connection = True
                    return
                if stall_at is not None and sent >= stall_at:
                    self.wfile.flush()
                    time.sleep(120)
                    self.close_connection = True
                    return
                pace = SLOW_PIECE / SLOW_SECONDS if slow else rate
                if pace:
                    # From the later of the schedule and now: a server that fell
                    # behind (a busy machine) goes on at the rate instead of
                    # sending the rest at once.
                    ready = max(ready, time.monotonic()) + step / pace
                    ahead = ready - time.monotonic()
                    if ahead > 0:
                        time.sleep(ahead)
            if chunked:
                self.wfile.write(b"0\r\n\r\n")
        finally:
            with STATS_LOCK:
                stats["active"] -= 1
                if stats["active"] == 0:
                    RESETS_ASKED.pop(tag, None)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def start(tls_context=None):
    server = Server(("127.0.0.1", 0), Handler)
    if tls_context is not None:
        server.socket = tls_context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    global PROXY_AUTH
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--lease", action="store_true")
    parser.add_argument("--file", action="append", default=[])
    parser.add_argument("--proxy-auth")
    args = parser.parse_args()
    PROXY_AUTH = args.proxy_auth
    for item in args.file:
        name, _, path = item.partition("=")
        FILES[name] = path

    # Detached from whatever streams started it (a test runner waits on those).
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)

    servers = {"http": start()}
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        servers["https"] = start(context)
    lease = None
    lines = ["%s=%d" % (name, server.server_address[1]) for name, server in servers.items()]
    if args.lease:
        lease = socket.socket()
        lease.bind(("127.0.0.1", 0))
        lease.listen(1)
        lines.append("lease=%d" % lease.getsockname()[1])
    temporary = args.port_file + ".tmp"
    with open(temporary, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(temporary, args.port_file)
    if lease is None:
        threading.Event().wait()
    lease.settimeout(30)
    try:
        holder, _ = lease.accept()
    except socket.timeout:
        return
    holder.settimeout(None)
    while True:
        try:
            if not holder.recv(4096):
                break
        except OSError:
            break
    os._exit(0)


if __name__ == "__main__":
    main()
