#!/usr/bin/env python3
"""The soak load of bench/soak.sh: one marlix-cli under a mixed load for MINUTES, from many loopback
addresses, with every answer judged and every stored file checked against its hash.

Run inside a network namespace of its own (bench/soak.sh makes it), where every 127.0.0.K is a
client address of its own. Each client has an address to itself, holding at most two connections
at once (the service lets one address hold 8):

  127.0.0.2-6     wrong tokens and wrong upload secrets (no reply / the missing-file reply)
  127.0.0.9       the checker: stored files read back over HTTP
  127.0.0.10-     shared-file downloads (whole, Range, cut off, read slowly), the folder page with
                  its thumbnails, files and archive, multipart uploads (one or two files, some cut
                  off and sent again), resumable uploads (slices, some cut off and resumed), slow
                  request headers and bodies, texts
  127.0.0.40-55   a burst of 16 uploads at once (half of them slow), at the start and every 45 s

Standard library only. Prints the figures and ends with "lost: N", "corrupt: N", "errors: N";
exits 1 when any is non-zero or when the service's memory, descriptors or threads grew by more
than 10 % after the first minute (at idle moments, all connections closed).
"""
import argparse
import hashlib
import io
import itertools
import json
import os
import random
import re
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import urllib.parse
import zipfile
import zlib

IP_BIND_ADDRESS_NO_PORT = getattr(socket, "IP_BIND_ADDRESS_NO_PORT", 24)
TIMEOUT = 60  # seconds a client waits for the service to move before it calls the answer missing
GROWTH = 0.10
KEPT_BYTES = 192 << 20  # stored files kept for the final check; older ones are deleted by the phone
BAD_ADDRESSES = ["127.0.0.%d" % k for k in range(2, 7)]
CHECKER = "127.0.0.9"
TOKEN_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"


class NoReply(Exception):
    """The connection ended before any byte of a reply."""


class Fault(Exception):
    """An answer the client did not earn. kind: error, lost or corrupt."""

    def __init__(self, kind, detail):
        super().__init__(detail)
        self.kind = kind


class Busy(Exception):
    """503, or 429 with Retry-After: the service asked the client to come back later (an earned
    answer under load)."""

    def __init__(self, retry_after):
        super().__init__("busy")
        self.retry_after = retry_after


class Reply:
    def __init__(self, status, headers, body, keep):
        self.status, self.headers, self.body, self.keep = status, headers, body, keep

    def header(self, name, default=""):
        return self.headers.get(name.lower(), default)

    def json(self):
        """The reply's first JSON value (an upload reply may be followed by more text)."""
        text = self.body.decode("utf-8", "replace").lstrip()
        try:
            return json.JSONDecoder().raw_decode(text)[0]
        except ValueError:
            return None

    def is_missing_file(self):
        """What a missing file is answered: nothing (an empty 200), or a 404."""
        return (self.status == 200 and self.body == b"" and "etag" not in self.headers) or self.status == 404


class Conn:
    """One client connection from a given source address, with its own small HTTP/1.1 reader."""

    def __init__(self, soak, source, rcvbuf=0):
        self.soak = soak
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            self.sock.setsockopt(socket.SOL_IP, IP_BIND_ADDRESS_NO_PORT, 1)
            if rcvbuf:
                self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
            self.sock.bind((source, 0))
            self.sock.settimeout(TIMEOUT)
            self.sock.connect(("127.0.0.1", soak.port))
        except OSError:
            self.sock.close()
            raise
        self.buf = b""
        self.any = False  # a byte of a reply has come

    def close(self, reset=False):
        if reset:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.sock.close()

    def send(self, data):
        self.sock.sendall(data)

    def send_slowly(self, data, pieces, pause):
        step = max(1, len(data) // pieces)
        for at in range(0, len(data), step):
            self.sock.sendall(data[at:at + step])
            time.sleep(pause)

    def _fill(self, reader_pause=0.0):
        try:
            data = self.sock.recv(262144)
        except ConnectionResetError:
            data = b""
        except socket.timeout:
            raise Fault("error", "no answer within %d s" % TIMEOUT)
        if not data:
            if not self.any and not self.buf:
                raise NoReply()
            raise Fault("error", "the reply broke off")
        self.any = True
        self.buf += data
        if reader_pause:
            time.sleep(reader_pause)

    def _take(self, n, reader_pause=0.0):
        if len(self.buf) >= n:
            out, self.buf = self.buf[:n], self.buf[n:]
            return out
        out = bytearray(self.buf)
        self.buf = b""
        while len(out) < n:
            self._fill(reader_pause)
            need = n - len(out)
            out += self.buf[:need]
            self.buf = self.buf[need:]
        return bytes(out)

    def _line(self):
        while b"\r\n" not in self.buf:
            self._fill()
        line, self.buf = self.buf.split(b"\r\n", 1)
        return line

    def read_reply(self, head=False, body_limit=None, reader_pause=0.0):
        """Reads one reply; body_limit stops after that many body bytes (the caller then cuts)."""
        while True:
            while b"\r\n\r\n" not in self.buf:
                self._fill()
            block, self.buf = self.buf.split(b"\r\n\r\n", 1)
            lines = block.decode("latin-1").split("\r\n")
            parts = lines[0].split(" ", 2)
            if len(parts) < 2 or not parts[0].startswith("HTTP/1.") or not parts[1].isdigit():
                raise Fault("error", "not an HTTP status line: %r" % lines[0][:80])
            status = int(parts[1])
            headers = {}
            for line in lines[1:]:
                name, _, value = line.partition(":")
                headers[name.strip().lower()] = value.strip()
            if status != 100:
                break
        keep = parts[0] == "HTTP/1.1" and headers.get("connection", "").lower() != "close"
        if status == 503 or (status == 429 and "retry-after" in headers):
            raise Busy(float(headers.get("retry-after", "1") or 1))
        if head or status in (204, 304):
            return Reply(status, headers, b"", keep)
        if headers.get("transfer-encoding", "").lower() == "chunked":
            body = bytearray()
            while True:
                size = int(self._line().split(b";")[0], 16)
                if size == 0:
                    while self._line():
                        pass
                    break
                body += self._take(size, reader_pause)
                self._take(2)
                if body_limit is not None and len(body) >= body_limit:
                    return Reply(status, headers, bytes(body), False)
            return Reply(status, headers, bytes(body), keep)
        if "content-length" in headers:
            length = int(headers["content-length"])
            if body_limit is not None and body_limit < length:
                return Reply(status, headers, self._take(body_limit, reader_pause), False)
            return Reply(status, headers, self._take(length, reader_pause), keep)
        while True:  # the body ends with the connection
            try:
                self._fill(reader_pause)
            except (Fault, NoReply):
                break
        body, self.buf = self.buf, b""
        return Reply(status, headers, body, False)


def request_head(soak, method, target, headers=(), length=None):
    lines = ["%s %s HTTP/1.1" % (method, target), "Host: 127.0.0.1:%d" % soak.port, "User-Agent: marlix-soak"]
    lines += ["%s: %s" % h for h in headers]
    if length is not None:
        lines.append("Content-Length: %d" % length)
    return ("\r\n".join(lines) + "\r\n\r\n").encode("utf-8")


def sha(data):
    return hashlib.sha256(data).hexdigest()


def random_token(rng):
    return "".join(rng.choice(TOKEN_CHARS) for _ in range(22))


def png(width, height, rng):
    """A small valid PNG of random colours (the folder page shows a thumbnail for it)."""
    raw = b"".join(b"\x00" + rng.randbytes(width * 3) for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def multipart(files, boundary):
    """A form-data body as a browser sends it: files is a list of (name, data)."""
    out = bytearray()
    for name, data in files:
        out += ("--%s\r\nContent-Disposition: form-data; name=\"file\"; filename=\"%s\"\r\n"
                "Content-Type: application/octet-stream\r\n\r\n" % (boundary, name)).encode("utf-8")
        out += data + b"\r\n"
    out += ("--%s--\r\n" % boundary).encode()
    return bytes(out)


def upload_files(reply):
    """The stored files an upload reply lists: every {"files":[...]} in it, in order (tolerant of one
    reply per file written one after the other, and of one reply listing them all)."""
    text = reply.body.decode("utf-8", "replace")
    found, decoder = [], json.JSONDecoder()
    for match in re.finditer(r'\{\s*"files"\s*:', text):
        try:
            value = decoder.raw_decode(text, match.start())[0]
        except ValueError:
            continue
        found += [f for f in value.get("files", []) if isinstance(f, dict)]
    return found


class Soak:
    def __init__(self, args):
        self.args = args
        self.seconds = args.minutes * 60
        self.work = args.work
        self.home = os.path.join(self.work, "home")
        self.share = os.path.join(self.work, "share")
        self.lock = threading.Lock()
        self.counts = {"lost": 0, "corrupt": 0, "errors": 0}
        self.details = []
        self.ops = {}
        self.busy = 0
        self.moved = {"up": 0, "down": 0}  # bytes of files sent and received by the clients
        self.slow_ops = []  # operations that took more than 10 s
        self.gate = threading.Event()  # set while the load runs; cleared for an idle sample
        self.gate.set()
        self.active = 0
        self.stopping = threading.Event()
        self.kept = []  # (name, sha, size) of stored files, oldest first
        self.kept_bytes = 0
        self.released = set()  # kept files the phone deleted (or tried to)
        self.known = set()  # every name the service said it stored
        self.sequence = itertools.count(1)  # makes every upload's name unique
        self.intruder_prefix = "intruder-"
        self.peak = {"rss": 0, "fds": 0, "threads": 0}

    # ---- bookkeeping ----
    def fault(self, kind, what, detail):
        with self.lock:
            self.counts[kind if kind != "error" else "errors"] += 1
            if len(self.details) < 40:
                self.details.append("%s %s: %s" % (kind, what, detail))

    def done(self, what):
        with self.lock:
            self.ops[what] = self.ops.get(what, 0) + 1

    def keep(self, name, digest, size):
        with self.lock:
            self.kept.append((name, digest, size))
            self.kept_bytes += size
            if self.kept_bytes <= KEPT_BYTES:
                return None
            old = self.kept.pop(0)
            self.kept_bytes -= old[2]
            return old

    def some_kept_name(self, rng):
        with self.lock:
            return rng.choice(self.kept)[0] if self.kept else "none.txt"

    # ---- the service ----
    def start_service(self):
        rng = random.Random(7)
        os.makedirs(os.path.join(self.share, "album", "子目录"))
        self.shared = {}  # name -> bytes
        for name, size in (("report.pdf", 96 << 10), ("clip.mp4", 3 << 20), ("big.zip", 16 << 20)):
            data = rng.randbytes(size)
            with open(os.path.join(self.share, name), "wb") as f:
                f.write(data)
            self.shared[name] = data
        self.album = {}  # path inside the folder -> bytes
        for i in range(6):
            self.album["notes %d.txt" % i] = ("line %d of the soak notes\n" % i).encode() * rng.randint(50, 4000)
        self.album["photo.jpg"] = rng.randbytes(300 << 10)
        self.album["picture.png"] = png(120, 80, rng)
        self.album["子目录/照片.png"] = png(64, 64, rng)
        self.album["子目录/data.pdf"] = rng.randbytes(700 << 10)
        for path, data in self.album.items():
            with open(os.path.join(self.share, "album", path), "wb") as f:
                f.write(data)
        self.text = "soak 文字 <b>&amp;\tend"
        env = dict(os.environ, MARLIX_HOME=self.home, LANGUAGE="en")
        # glibc's malloc raises its mmap threshold as large blocks are freed, and then keeps up to
        # twice that much freed memory resident per arena: the resident figure would swing with the
        # load's mix by a fifth between runs. Fixed thresholds make it follow what the service holds.
        env.setdefault("GLIBC_TUNABLES", "glibc.malloc.mmap_threshold=131072:glibc.malloc.trim_threshold=262144")
        self.out = open(os.path.join(self.work, "cli.out"), "w+")
        self.err = open(os.path.join(self.work, "cli.err"), "w+")
        self.proc = subprocess.Popen(
            [self.args.cli, "share", "--no-qr", "--address", "127.0.0.1", "--text", self.text,
             "report.pdf", "clip.mp4", "big.zip", "album"],
            cwd=self.share, env=env, stdin=subprocess.DEVNULL, stdout=self.out, stderr=self.err)
        self.pid = self.proc.pid
        deadline = time.time() + 30
        lines = []
        while time.time() < deadline:
            with open(self.out.name) as f:
                lines = f.read().splitlines()
            if any(line.endswith(" upload") for line in lines):
                break
            if self.proc.poll() is not None:
                break
            time.sleep(0.1)
        self.tokens = {}
        for line in lines:
            m = re.match(r"http://[^/]+:(\d+)/([\w.]+)\?(t|k)=(\S+) (.*)$", line)
            if m:
                self.port = int(m.group(1))
                if m.group(2) == "index.html":
                    self.secret = m.group(4)
                else:
                    self.tokens[m.group(5)] = (m.group(2), m.group(4))
        if not getattr(self, "secret", None) or len(self.tokens) < 5:
            with open(self.err.name) as f:
                sys.exit("marlix-cli did not start:\n%s%s" % ("\n".join(lines), f.read()))

    def sample(self):
        with open("/proc/%d/status" % self.pid) as f:
            status = f.read()
        rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
        threads = int(re.search(r"Threads:\s+(\d+)", status).group(1))
        fds = len(os.listdir("/proc/%d/fd" % self.pid))
        return {"rss": rss, "fds": fds, "threads": threads}

    def open_connections(self):
        """Connections to the service's port that are not yet closed (the namespace is ours alone)."""
        count = 0
        for table in ("/proc/net/tcp", "/proc/net/tcp6"):
            try:
                with open(table) as f:
                    rows = f.read().splitlines()[1:]
            except OSError:
                continue
            for row in rows:
                fields = row.split()
                local_port = int(fields[1].rsplit(":", 1)[1], 16)
                # 0A listening, 06 time-wait: neither holds anything of the service's.
                if local_port == self.port and fields[3] not in ("0A", "06"):
                    count += 1
        return count

    def idle_sample(self, label):
        """Stops the load, waits until every connection has closed, and samples the process."""
        began = time.time()
        with self.lock:
            self.gate.clear()
        deadline = time.time() + 120
        while time.time() < deadline:
            with self.lock:
                if self.active == 0:
                    break
            time.sleep(0.1)
        deadline = time.time() + 45
        while self.open_connections() and time.time() < deadline:
            time.sleep(0.25)
        time.sleep(1)  # the service frees a connection's state just after it closed
        s = self.sample()
        s["wait"] = time.time() - began
        s["open"] = self.open_connections()
        s["label"] = label
        return s

    def monitor(self):
        while not self.stopping.wait(2):
            if self.gate.is_set():
                s = self.sample()
                if self.args.trace:
                    print("%5.0f s  rss %.1f MiB  fds %d  threads %d" % (time.time() - self.begun, s["rss"] / 1024,
                                                                       s["fds"], s["threads"]), file=sys.stderr)
                for key in self.peak:
                    self.peak[key] = max(self.peak[key], s[key])

    # ---- the clients ----
    def _retrying(self, source, exchange, rcvbuf=0):
        """Runs exchange(conn) on a connection of its own; 503 is waited out and tried again."""
        for _ in range(20):
            conn = Conn(self, source, rcvbuf)
            try:
                return exchange(conn)
            except Busy as busy:
                with self.lock:
                    self.busy += 1
                time.sleep(min(busy.retry_after, 2))
            finally:
                conn.close()
        raise Fault("error", "503 twenty times in a row")

    def call(self, source, method, target, headers=(), body=b"", rcvbuf=0, **read):
        """One request on a connection of its own; 503 is waited out and tried again."""
        def exchange(conn):
            try:
                conn.send(request_head(self, method, target, headers,
                                       len(body) if body or method in ("POST", "PUT") else None) + body)
            except (BrokenPipeError, ConnectionResetError):
                pass  # an answer may have come before the whole request went: read it
            reply = conn.read_reply(head=method == "HEAD", **read)
            with self.lock:
                self.moved["down"] += len(reply.body)
            return reply
        return self._retrying(source, exchange, rcvbuf)

    def judge(self, what, operation):
        """Runs one operation of a client; what it did not earn is counted. Returns its result."""
        try:
            return operation()
        except Fault as f:
            self.fault(f.kind, what, str(f))
        except NoReply:
            self.fault("error", what, "the connection closed without a reply")
        except OSError as e:
            self.fault("error", what, "%s: %s" % (type(e).__name__, e))
        except Exception as e:  # the client's own fault: counted, so that it is seen and mended
            self.fault("error", what, "client failure %s: %s" % (type(e).__name__, e))
        return None

    def worker(self, source, job, seed, every=None):
        """A client: job again and again, with a short pause (or every so many seconds)."""
        rng = random.Random(seed)
        while not self.stopping.is_set():
            self.gate.wait()
            with self.lock:
                if not self.gate.is_set():
                    continue  # an idle sample began meanwhile
                self.active += 1
            if self.stopping.is_set():
                with self.lock:
                    self.active -= 1
                break
            began = time.time()
            try:
                what = self.judge(job.__name__, lambda: job(source, rng))
            finally:
                with self.lock:
                    self.active -= 1
            if what:
                self.done(what)
                took = time.time() - began
                if took > 10:
                    with self.lock:
                        self.slow_ops.append("%s %.0f s" % (what, took))
            if every is None:
                time.sleep(rng.uniform(0.05, 0.3) * self.args.pause)
            else:
                self.stopping.wait(max(0.0, began + every - time.time()))

    def expect(self, cond, kind, detail):
        if not cond:
            raise Fault(kind, detail)

    def target(self, name):
        kind, token = self.tokens[name]
        return "/%s?t=%s" % (kind, token)

    # Shared files: whole, a range, a range the file does not have, cut off midway, read slowly.
    def download(self, source, rng):
        name = rng.choice(list(self.shared))
        data = self.shared[name]
        size = len(data)
        mode = rng.choice(["whole", "whole", "range", "suffix", "open", "beyond", "cut", "slow"])
        if mode == "whole":
            r = self.call(source, "GET", self.target(name))
            self.expect(r.status == 200, "error", "%s: %d" % (name, r.status))
            self.expect(sha(r.body) == sha(data), "corrupt", "%s: %d bytes differ" % (name, len(r.body)))
            return "download"
        if mode == "beyond":
            r = self.call(source, "GET", self.target(name), [("Range", "bytes=%d-" % size)])
            self.expect(r.status == 416, "error", "Range beyond %s: %d" % (name, r.status))
            return "download-range"
        if mode == "cut":
            self.call(source, "GET", self.target(name), body_limit=rng.randint(1, size - 1))
            return "download-cut"
        if mode == "slow":
            name = "clip.mp4"
            data = self.shared[name]
            r = self.call(source, "GET", self.target(name), [("Range", "bytes=0-%d" % ((1 << 20) - 1))],
                          rcvbuf=16384, reader_pause=0.05)
            self.expect(r.status == 206 and r.body == data[:1 << 20], "corrupt", "slow read of %s" % name)
            return "download-slow-reader"
        first = rng.randrange(size)
        last = rng.randrange(first, size)
        header, want = {"range": ("bytes=%d-%d" % (first, last), (first, last)),
                        "suffix": ("bytes=-%d" % (size - first), (first, size - 1)),
                        "open": ("bytes=%d-" % first, (first, size - 1))}[mode]
        r = self.call(source, "GET", self.target(name), [("Range", header)])
        self.expect(r.status == 206, "error", "%s %s: %d" % (name, header, r.status))
        self.expect(r.header("content-range") == "bytes %d-%d/%d" % (want[0], want[1], size), "error",
                    "%s %s: Content-Range %s" % (name, header, r.header("content-range")))
        self.expect(r.body == data[want[0]:want[1] + 1], "corrupt", "%s %s: bytes differ" % (name, header))
        return "download-range"

    # The folder: its page, a thumbnail, a file by its link, and the whole archive.
    def folder(self, source, rng):
        r = self.call(source, "GET", self.target("album"))
        self.expect(r.status == 200 and b"<html" in r.body.lower(), "error", "folder page: %d" % r.status)
        page = r.body.decode("utf-8", "replace")
        files = re.findall(r'href="(/f\?t=[^"]+)"', page)
        pictures = re.findall(r'src="(/t\?t=[^"]+)"', page)
        archive = re.findall(r'href="(/z\?t=[^"]+)"', page)
        self.expect(len(files) == len(self.album) and len(archive) == 1, "error", "folder page lists %d files" % len(files))
        hashes = {sha(d) for d in self.album.values()}
        choice = rng.random()
        if choice < 0.3:
            r = self.call(source, "GET", rng.choice(files))
            self.expect(r.status == 200 and sha(r.body) in hashes, "corrupt", "folder file: %d" % r.status)
            return "folder-file"
        if choice < 0.5:
            r = self.call(source, "GET", rng.choice(pictures))
            # A thumbnail for a picture that decodes, a 404 for one that does not (random bytes).
            ok = (r.status == 200 and r.body[:2] == b"\xff\xd8") or (r.status == 404 and not r.body)
            self.expect(ok, "error", "thumbnail: %d, %d bytes" % (r.status, len(r.body)))
            return "folder-thumbnail"
        r = self.call(source, "GET", archive[0])
        self.expect(r.status == 200, "error", "archive: %d" % r.status)
        try:
            with zipfile.ZipFile(io.BytesIO(r.body)) as z:
                bad = z.testzip()
                got = {i.filename.split("/", 1)[-1]: z.read(i) for i in z.infolist() if not i.is_dir()}
        except (zipfile.BadZipFile, zlib.error, EOFError, KeyError) as e:
            raise Fault("corrupt", "archive unreadable: %s" % e)
        self.expect(bad is None, "corrupt", "archive member %s fails its CRC" % bad)
        same = sorted(sha(v) for v in got.values()) == sorted(sha(v) for v in self.album.values())
        self.expect(same, "corrupt", "archive holds %d files, not the folder's" % len(got))
        return "folder-archive"

    # ---- uploads ----
    def upload_name(self, source, rng, fancy=True):
        stem = "%s-%06d-%s" % (source.rsplit(".", 1)[1], next(self.sequence), rng.randbytes(3).hex())
        if fancy and rng.random() < 0.2:
            stem = "照片 " + stem
        return stem + rng.choice([".mp4", ".pdf", ".zip", ".jpg", ".txt"])

    def upload_size(self, rng):
        p = rng.random()
        if p < 0.6:
            return rng.randint(1, 64 << 10)
        if p < 0.92:
            return rng.randint(64 << 10, 1 << 20)
        return rng.randint(1 << 20, 6 << 20)

    def check_stored(self, source, name, digest, size, when):
        """The stored file, read from tmp/ and over HTTP with the secret, is the one sent."""
        path = os.path.join(self.home, "tmp", name)
        try:
            with open(path, "rb") as f:
                on_disk = sha(f.read())
        except OSError:
            raise Fault("lost", "%s: %s is not in tmp/" % (when, name))
        self.expect(on_disk == digest, "corrupt", "%s: %s differs on disk" % (when, name))
        r = self.call(source, "GET", "/tmp/%s?k=%s" % (urllib.parse.quote(name), self.secret))
        self.expect(r.status == 200 and len(r.body) == size, "error",
                    "%s: GET %s: %d, %d of %d bytes" % (when, name, r.status, len(r.body), size))
        self.expect(sha(r.body) == digest, "corrupt", "%s: GET %s: bytes differ" % (when, name))

    def stored(self, source, rng, name, digest, size):
        """A file the service said it stored: checked now, kept for the final check, and the oldest
        kept file deleted by the phone once the kept files pass their budget."""
        with self.lock:
            self.known.add(name)
            self.moved["up"] += size
        self.check_stored(source, name, digest, size, "after upload")
        old = self.keep(name, digest, size)
        if old:
            with self.lock:
                self.released.add(old[0])
            r = self.call(source, "DELETE", "/tmp/%s?k=%s" % (urllib.parse.quote(old[0]), self.secret))
            body = r.json()
            self.expect(r.status == 200 and isinstance(body, dict) and body.get("success") is True, "error",
                        "DELETE %s: %d %r" % (old[0], r.status, r.body[:80]))
            self.expect(not os.path.exists(os.path.join(self.home, "tmp", old[0])), "error",
                        "DELETE %s left the file" % old[0])

    def multipart_upload(self, source, rng):
        boundary = "----SoakFormBoundary" + rng.randbytes(8).hex()
        form = "multipart/form-data; boundary=" + boundary
        files = [(self.upload_name(source, rng), rng.randbytes(self.upload_size(rng)))]
        what = "upload-multipart"
        if rng.random() < 0.15:
            # The phone's connection drops within the file's bytes; the page sends the file again.
            body = multipart(files, boundary)
            conn = Conn(self, source)
            try:
                conn.send(request_head(self, "POST", "/u?k=" + self.secret, [("Content-Type", form)], len(body)) +
                          body[:body.index(b"\r\n\r\n") + 4 + rng.randrange(len(files[0][1]))])
            except OSError:
                pass
            time.sleep(rng.uniform(0, 0.2))
            conn.close(reset=rng.random() < 0.5)
            files = [(self.upload_name(source, rng), files[0][1])]
            what = "upload-multipart-cut"
        elif rng.random() < 0.1:
            files.append((self.upload_name(source, rng, fancy=False), rng.randbytes(self.upload_size(rng))))
            what = "upload-multipart-2"
        body = multipart(files, boundary)
        head = request_head(self, "POST", "/u?k=" + self.secret, [("Content-Type", form)], len(body))
        r = self._post_body(source, head, body)
        self.expect(r.status == 200, "error", "upload: %d %r" % (r.status, r.body[:120]))
        listed = upload_files(r)
        self.expect(listed and isinstance(listed[0].get("name"), str), "error", "upload reply: %r" % r.body[:160])
        for i, (sent, data) in enumerate(files):
            # A reply that lists every file names each; otherwise the later ones kept their (unique) names.
            name = listed[i]["name"] if i < len(listed) else sent
            self.stored(source, rng, name, sha(data), len(data))
        return what

    def _post_body(self, source, head, body, slow=False):
        def exchange(conn):
            try:
                if slow:
                    conn.send(head)
                    conn.send_slowly(body, 40, 0.06)
                else:
                    conn.send(head + body)
            except (BrokenPipeError, ConnectionResetError):
                pass
            return conn.read_reply()
        return self._retrying(source, exchange)

    def resumable_upload(self, source, rng, slow=False):
        name = self.upload_name(source, rng)
        size = rng.randint(1 << 20, 8 << 20) if not slow and rng.random() < 0.25 else self.upload_size(rng)
        if slow:
            size = min(size, 96 << 10)
        data = rng.randbytes(size)
        mtime = int(time.time() * 1000) - rng.randint(0, 10 ** 9)
        query = "name=%s&size=%d&mtime=%d&k=%s" % (urllib.parse.quote(name), size, mtime, self.secret)
        r = self.call(source, "POST", "/r?" + query)
        answer = r.json()
        self.expect(r.status == 200 and isinstance(answer, dict) and answer.get("offset") == 0 and answer.get("id"),
                    "error", "POST /r: %d %r" % (r.status, r.body[:120]))
        upload_id = answer["id"]
        confirmed = 0  # the length the service has said it holds
        cut_at = rng.randrange(size) if rng.random() < 0.25 and not slow else None
        what = "upload-resumable-cut" if cut_at is not None else "upload-resumable"
        final = None
        attempts = 0
        while final is None:
            attempts += 1
            self.expect(attempts < 200, "error", "resumable upload %s makes no headway" % name)
            piece = data[confirmed:confirmed + rng.choice([256 << 10, 1 << 20, 4 << 20])]
            head = request_head(self, "PUT", "/r?id=%s&offset=%d&k=%s" % (upload_id, confirmed, self.secret),
                                length=len(piece))
            if cut_at is not None and confirmed <= cut_at < confirmed + len(piece):
                # The connection breaks after part of this piece: ask what the PC holds, go on from there.
                sent = cut_at - confirmed
                conn = Conn(self, source)
                try:
                    conn.send(head + piece[:sent])
                except OSError:
                    pass
                time.sleep(rng.uniform(0, 0.2))
                conn.close(reset=rng.random() < 0.5)
                cut_at = None
                confirmed = self.resume_offset(source, rng, upload_id, query, confirmed, confirmed + sent, name)
                continue
            r = self._post_body(source, head, piece, slow=slow)
            answer = r.json()
            if r.status == 409 and isinstance(answer, dict) and attempts > 1 and what.endswith("cut"):
                # The piece cut off earlier was still being written when this one came: go on from what is held.
                held = answer.get("offset", -1)
                self.expect(confirmed <= held <= size, "lost", "409 after a cut: offset %r, %d confirmed" % (held, confirmed))
                confirmed = held
                continue
            self.expect(r.status == 200 and isinstance(answer, dict), "error",
                        "PUT /r at %d of %d: %d %r" % (confirmed, size, r.status, r.body[:120]))
            listed = upload_files(r)
            if confirmed + len(piece) == size:
                self.expect(listed and isinstance(listed[0].get("name"), str), "error",
                            "last piece's reply: %r" % r.body[:160])
                final = listed[0]["name"]
            else:
                self.expect(answer.get("offset") == confirmed + len(piece) and not listed, "error",
                            "PUT /r at %d: %r" % (confirmed, r.body[:120]))
                confirmed += len(piece)
        if rng.random() < 0.1:  # the last reply was lost: the same last piece again gives it again
            r = self._post_body(source, request_head(self, "PUT", "/r?id=%s&offset=%d&k=%s" % (upload_id, size, self.secret),
                                                     length=0), b"")
            listed = upload_files(r)
            self.expect(r.status == 200 and listed and listed[0].get("name") == final, "error",
                        "repeated last piece: %d %r" % (r.status, r.body[:120]))
        self.stored(source, rng, final, sha(data), size)
        return what

    def resume_offset(self, source, rng, upload_id, query, confirmed, sent_to, name):
        """After a cut: the length held, asked by id or by starting the same file again."""
        if rng.random() < 0.5:
            r = self.call(source, "GET", "/r?id=%s&k=%s" % (upload_id, self.secret))
        else:
            r = self.call(source, "POST", "/r?" + query)
        answer = r.json()
        self.expect(r.status == 200 and isinstance(answer, dict) and answer.get("id") == upload_id, "error",
                    "resume of %s: %d %r" % (name, r.status, r.body[:120]))
        held = answer.get("offset", -1)
        self.expect(isinstance(held, int) and held >= confirmed, "lost",
                    "%s: %r held after a cut, %d confirmed before" % (name, held, confirmed))
        self.expect(held <= sent_to, "corrupt", "%s: %d held, only %d sent" % (name, held, sent_to))
        return held

    # Slow clients: a request header a few bytes at a time, upload bodies a little at a time.
    def slow(self, source, rng):
        mode = rng.choice(["header", "multipart", "resumable"])
        if mode == "header":
            conn = Conn(self, source)
            try:
                conn.send_slowly(request_head(self, "GET", self.target("report.pdf")), 30, 0.1)
                r = conn.read_reply()
            except Busy:
                with self.lock:
                    self.busy += 1
                return "slow-header"
            finally:
                conn.close()
            self.expect(r.status == 200 and r.body == self.shared["report.pdf"], "corrupt", "slow header: %d" % r.status)
            return "slow-header"
        if mode == "resumable":
            self.resumable_upload(source, rng, slow=True)
            return "slow-body-resumable"
        self.form_upload(source, rng, rng.randint(8 << 10, 96 << 10), slow=True)
        return "slow-body-multipart"

    def form_upload(self, source, rng, size, slow):
        data = rng.randbytes(size)
        boundary = "----SoakBoundary" + rng.randbytes(8).hex()
        body = multipart([(self.upload_name(source, rng), data)], boundary)
        head = request_head(self, "POST", "/u?k=" + self.secret,
                            [("Content-Type", "multipart/form-data; boundary=" + boundary)], len(body))
        r = self._post_body(source, head, body, slow=slow)
        listed = upload_files(r)
        self.expect(r.status == 200 and listed, "error", "upload: %d %r" % (r.status, r.body[:120]))
        self.stored(source, rng, listed[0]["name"], sha(data), len(data))

    # A burst: sixteen phones send a file at the same moment, half of them slowly, each from an
    # address of its own; more than the service has handlers for, so some wait their turn. At the
    # start, it also makes the service grow whatever it grows on demand before the first sample.
    def burst(self, source, rng):
        def one(i):
            phone = random.Random(rng.random())
            size = phone.randint(8 << 10, 96 << 10) if i % 2 == 0 else phone.randint(256 << 10, 4 << 20)
            self.judge("burst", lambda: self.form_upload("127.0.0.%d" % (40 + i), phone, size, slow=i % 2 == 0))

        phones = [threading.Thread(target=one, args=(i,)) for i in range(16)]
        for t in phones:
            t.start()
        for t in phones:
            t.join()
        return "burst-16-uploads"

    # Texts from the phone, and the text shared from the PC.
    def texts(self, source, rng):
        p = rng.random()
        if p < 0.1:
            r = self.call(source, "GET", self.target("text"))
            self.expect(r.status == 200 and "文字".encode() in r.body, "error", "text page: %d" % r.status)
            return "text-page"
        if p < 0.15:
            r = self.call(source, "POST", "/x?k=" + self.secret, body=b"x" * (64 * 1024 + 1))
            self.expect(r.status == 413 and b"text_too_long" in r.body, "error", "long text: %d" % r.status)
            return "text-too-long"
        alphabet = "abc 文字 \n\t\\\"<>&é" + "".join(chr(c) for c in range(0x4e00, 0x4e20))
        text = "".join(rng.choice(alphabet) for _ in range(rng.randint(1, 3000)))
        r = self.call(source, "POST", "/x?k=" + self.secret, [("Content-Type", "text/plain;charset=UTF-8")],
                      body=text.encode("utf-8"))
        body = r.json()
        self.expect(r.status == 200 and isinstance(body, dict) and body.get("success") is True, "error",
                    "text: %d %r" % (r.status, r.body[:120]))
        return "text"

    # From the five guessing addresses: tokens that name nothing get no reply at all; a wrong or
    # missing upload secret gets the missing-file reply, and nothing is stored, served or deleted.
    def intruder(self, source, rng):
        bad = rng.choice([random_token(rng), self.secret[:-1] + ("A" if self.secret[-1] != "A" else "B"), ""])
        k = "k=" + bad if bad else "x=1"
        p = rng.random()
        if p < 0.4:
            kind = rng.choice(["f", "d", "z", "m", "t"])
            try:
                r = self.call(source, "GET", "/%s?t=%s" % (kind, random_token(rng)))
            except NoReply:
                return "wrong-token"
            raise Fault("error", "/%s with a wrong token was answered %d" % (kind, r.status))
        name = self.intruder_prefix + rng.randbytes(4).hex() + ".txt"
        form = multipart([(name, b"not for you")], "----x")
        requests = [
            ("POST", "/u?" + k, [("Content-Type", "multipart/form-data; boundary=----x")], form),
            ("POST", "/r?name=%s&size=5&mtime=1&%s" % (name, k), [], b""),
            ("PUT", "/r?id=%016x&offset=0&%s" % (rng.getrandbits(64), k), [], b"12345"),
            ("GET", "/r?id=%016x&%s" % (rng.getrandbits(64), k), [], b""),
            ("POST", "/x?" + k, [], b"intruder text"),
            ("GET", "/tmp/%s?%s" % (urllib.parse.quote(self.some_kept_name(rng)), k), [], b""),
            ("DELETE", "/tmp/%s?%s" % (urllib.parse.quote(self.some_kept_name(rng)), k), [], b""),
        ]
        method, path, headers, body = rng.choice(requests)
        try:
            r = self.call(source, method, path, headers, body)
        except NoReply:
            raise Fault("error", "%s %s with a wrong secret: no reply" % (method, path.split("?")[0]))
        self.expect(r.is_missing_file(), "error", "%s %s with a wrong secret: %d, %d bytes" %
                    (method, path.split("?")[0], r.status, len(r.body)))
        return "wrong-secret"

    # ---- the run ----
    def run(self):
        self.start_service()
        time.sleep(1)
        start = self.sample()
        jobs = ([self.download] * 4 + [self.folder] * 2 + [self.multipart_upload] * 3 + [self.resumable_upload] * 3 +
                [self.slow] * 2 + [self.texts])
        threads = []
        for i, job in enumerate(jobs):
            threads.append(threading.Thread(target=self.worker, args=("127.0.0.%d" % (10 + i), job, i), daemon=True))
        for i, source in enumerate(BAD_ADDRESSES):
            threads.append(threading.Thread(target=self.worker, args=(source, self.intruder, 100 + i), daemon=True))
        threads.append(threading.Thread(target=self.worker, args=(None, self.burst, 200, 45), daemon=True))
        monitor = threading.Thread(target=self.monitor, daemon=True)
        begun = self.begun = time.time()
        for t in threads + [monitor]:
            t.start()
        # After the first minute (half the run, for runs of two minutes or less), an idle sample.
        mark = min(60.0, self.seconds / 2)
        time.sleep(max(0.0, begun + mark - time.time()))
        first = self.idle_sample("after %.0f s" % mark)
        self.gate.set()
        time.sleep(max(0.0, begun + self.seconds - time.time()))
        end = self.idle_sample("end")
        loaded = time.time() - begun - first["wait"] - end["wait"]
        self.stopping.set()
        self.gate.set()
        for t in threads:
            t.join(TIMEOUT * 2)
        self.final_check()
        stop_ms, rc = self.stop_service()
        self.report(start, first, end, loaded, stop_ms, rc)

    def final_check(self):
        for name, digest, size in list(self.kept):
            try:
                self.check_stored(CHECKER, name, digest, size, "at the end")
            except Fault as f:
                self.fault(f.kind, "final check", str(f))
        listed = set(os.listdir(os.path.join(self.home, "tmp")))
        kept = {name for name, _, _ in self.kept} | self.released | self.known
        for name in sorted(listed - kept):
            if name.startswith(self.intruder_prefix):
                self.fault("error", "final check", "%s stored with a wrong secret" % name)
            else:
                self.fault("corrupt", "final check", "%s in tmp/ was never stored whole" % name)

    def stop_service(self):
        began = time.time()
        self.proc.send_signal(signal.SIGINT)
        try:
            rc = self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            rc = self.proc.wait()
        stop_ms = (time.time() - began) * 1000
        if rc != 0:
            self.fault("error", "stop", "marlix-cli exited with %s" % rc)
        left = [n for n in os.listdir(self.home) if n.endswith(".zip")]
        if os.path.isdir(os.path.join(self.home, ".uploading")):
            left += [".uploading/" + n for n in os.listdir(os.path.join(self.home, ".uploading"))]
        for name in left:
            self.fault("error", "stop", "%s left in the working directory" % name)
        for name, digest, size in self.kept:
            path = os.path.join(self.home, "tmp", name)
            if not os.path.exists(path):
                self.fault("lost", "stop", "%s gone after the stop" % name)
        return stop_ms, rc

    def report(self, start, first, end, loaded, stop_ms, rc):
        out = sys.stdout
        total = sum(self.ops.values())
        print("soak: %.1f min of load on marlix-cli (pid %d, port %d), %d operations, %d answered 503 or 429 (busy, retried);"
              " %.0f MiB stored, %.0f MiB received" % (loaded / 60, self.pid, self.port, total, self.busy,
                                                      self.moved["up"] / 2**20, self.moved["down"] / 2**20), file=out)
        print("  " + ", ".join("%s %d" % kv for kv in sorted(self.ops.items())), file=out)

        def line(s, label=None):
            return "%-14s rss %7.1f MiB  fds %5d  threads %4d%s" % (
                (label or s["label"]) + ":", s["rss"] / 1024, s["fds"], s["threads"],
                "  (%d connections still open)" % s["open"] if s.get("open") else "")

        print(line(start, "start"), file=out)
        print(line(first), file=out)
        print(line(end), file=out)
        print(line(self.peak, "peak (load)"), file=out)
        grew = []
        for key in ("rss", "fds", "threads"):
            growth = (end[key] - first[key]) / max(first[key], 1)
            if growth > GROWTH:
                grew.append("%s +%.0f %%" % (key, growth * 100))
        print("growth since %s: %s" % (first["label"], ", ".join(grew) if grew else "none above 10 %"), file=out)
        print("stop: %.0f ms, exit status %s; %d stored files checked at the end" % (stop_ms, rc, len(self.kept)), file=out)
        if self.slow_ops:
            print("operations over 10 s: %s" % ", ".join(self.slow_ops[:20]), file=out)
        print("idle waits: %.1f s, %.1f s" % (first["wait"], end["wait"]), file=out)
        for d in self.details:
            print("  " + d, file=out)
        print("lost: %d" % self.counts["lost"], file=out)
        print("corrupt: %d" % self.counts["corrupt"], file=out)
        print("errors: %d" % self.counts["errors"], file=out)
        self.failed = bool(grew) or any(self.counts.values())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--work", required=True)
    parser.add_argument("--trace", action="store_true", help="print the service's figures every 2 s to stderr")
    parser.add_argument("--pause", type=float, default=1.0, help="scale of each client's pause between operations")
    args = parser.parse_args()
    soak = Soak(args)
    try:
        soak.run()
    finally:
        if getattr(soak, "proc", None) and soak.proc.poll() is None:
            soak.proc.kill()
            soak.proc.wait()
    sys.exit(1 if soak.failed else 0)


if __name__ == "__main__":
    main()
