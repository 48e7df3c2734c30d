#!/usr/bin/python3
"""HTTP/HTTPS server for the update-check tests (standard library only).

Listens on 127.0.0.1 on a port the OS picks, prints "READY <port>" on stdout,
records every request as a JSON line in --log, and answers with the status,
redirect chain or stall chosen on the command line.

Stops on SIGTERM/SIGINT, when stdin reaches end-of-file (unless
--no-stdin-watch), when its parent process ends (unless --no-parent-watch),
or after --max-lifetime seconds.
"""

import argparse
import json
import os
import selectors
import signal
import socket
import ssl
import sys
import threading
import time
import urllib.parse

HOST = "127.0.0.1"
MAX_HEAD_BYTES = 64 * 1024
MAX_CHUNK_LINE = 4096
MAX_TRAILER_LINES = 100
MAX_CONNECTIONS = 64
MAX_CHUNKS = 100000
REASONS = {
    200: "OK", 202: "Accepted", 204: "No Content", 301: "Moved Permanently",
    302: "Found", 303: "See Other", 307: "Temporary Redirect",
    308: "Permanent Redirect", 400: "Bad Request", 404: "Not Found",
    431: "Request Header Fields Too Large", 500: "Internal Server Error",
    503: "Service Unavailable",
}


def note(msg):
    # stderr may be gone if the parent died; never let that kill a worker.
    try:
        sys.stderr.write("update_server: %s\n" % msg)
        sys.stderr.flush()
    except (OSError, ValueError):
        pass


class ClientGone(Exception):
    pass


class BadRequest(Exception):
    def __init__(self, status, reason):
        super().__init__(reason)
        self.status = status


class Conn:
    """Buffered reader over one socket; every read honours the socket time-out."""

    def __init__(self, sock, stop):
        self.sock = sock
        self.stop = stop
        self.buf = b""

    def _fill(self):
        if self.stop.is_set():
            raise ClientGone("server stopping")
        try:
            data = self.sock.recv(65536)
        except socket.timeout:
            raise
        except (OSError, ssl.SSLError) as e:
            raise ClientGone(str(e))
        if not data:
            raise ClientGone("peer closed")
        self.buf += data

    def read_until(self, marker, limit):
        while True:
            i = self.buf.find(marker)
            if i > limit or (i < 0 and len(self.buf) > limit):
                raise BadRequest(431, "line too long")
            if i >= 0:
                out, self.buf = self.buf[:i], self.buf[i + len(marker):]
                return out
            self._fill()

    def read_head(self):
        # Accept bare LF line ends too: odd clients must not crash us.
        while True:
            ends = [(i, len(m)) for m in (b"\r\n\r\n", b"\n\n")
                    for i in (self.buf.find(m),) if i >= 0]
            if ends:
                i, n = min(ends)
                if i > MAX_HEAD_BYTES:
                    raise BadRequest(431, "header section too large")
                head, self.buf = self.buf[:i], self.buf[i + n:]
                return head
            if len(self.buf) > MAX_HEAD_BYTES:
                raise BadRequest(431, "header section too large")
            self._fill()

    def read_line(self):
        line = self.read_until(b"\n", MAX_CHUNK_LINE)
        return line[:-1] if line.endswith(b"\r") else line

    def discard(self, n):
        """Reads and drops n bytes; returns how many really arrived."""
        got = 0
        while got < n:
            if not self.buf:
                try:
                    self._fill()
                except (ClientGone, socket.timeout):
                    return got
            take = min(n - got, len(self.buf))
            self.buf = self.buf[take:]
            got += take
        return got


def text(b):
    return b.decode("latin-1")


def parse_head(head):
    lines = head.replace(b"\r\n", b"\n").split(b"\n")
    parts = lines[0].split(b" ")
    headers = []
    for raw in lines[1:]:
        if not raw:
            continue
        name, sep, value = raw.partition(b":")
        headers.append([text(name.strip()) if sep else text(raw), text(value.strip())])
    if len(parts) != 3 or not parts[0] or not parts[1]:
        return text(lines[0]), None, None, None, headers
    return text(lines[0]), text(parts[0]), text(parts[1]), text(parts[2]), headers


def header_values(headers, name):
    return [v for k, v in headers if k.lower() == name]


class Server:
    def __init__(self, args):
        self.args = args
        self.stop = threading.Event()
        self.stop_reason = "lifetime over"
        self.lock = threading.Lock()
        self.conns = {}
        self.threads = []
        self.seq = 0
        self.conn_seq = 0
        self.scheme = "https" if args.tls else "http"
        self.port = None
        self.log_file = open(args.log, "a", encoding="utf-8") if args.log else None
        self.tls_ctx = None
        if args.tls:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(args.tls[0], args.tls[1])
            self.tls_ctx = ctx

    # ---- records ----
    def record(self, rec):
        with self.lock:
            self.seq += 1
            rec = dict(rec, seq=self.seq, time=round(time.time(), 6))
            if self.log_file:
                # Written and flushed before the answer goes out, so a client
                # that has its answer can read the record at once.
                self.log_file.write(json.dumps(rec, sort_keys=True) + "\n")
                self.log_file.flush()

    # ---- routing ----
    def answer_for(self, path, query):
        a = self.args
        qs = ("?" + query) if query is not None else ""
        if path == a.path:
            hop = 0
        elif path.startswith("/hop/") and path[5:].isdigit():
            hop = int(path[5:])
            if not 1 <= hop <= a.redirects:
                return 404, None
        else:
            return 404, None
        if hop < a.redirects:
            loc = "/hop/%d%s" % (hop + 1, qs)
            if not a.relative_location:
                loc = "%s://%s:%d%s" % (self.scheme, HOST, self.port, loc)
            return a.redirect_status, loc
        return a.status, None

    # ---- one connection ----
    def handle(self, cid, sock, peer):
        base = {"conn": cid, "peer_port": peer[1], "tls": bool(self.tls_ctx)}
        try:
            sock.settimeout(self.args.io_timeout)
            if self.tls_ctx:
                try:
                    sock = self.tls_ctx.wrap_socket(sock, server_side=True,
                                                    do_handshake_on_connect=False)
                    with self.lock:
                        self.conns[cid] = sock
                    sock.do_handshake()
                except (OSError, ssl.SSLError, ValueError) as e:
                    self.record(dict(base, event="error",
                                     error="tls handshake: %s" % e))
                    self.hold(sock)
                    return
            self.serve(base, Conn(sock, self.stop), sock)
        except Exception as e:  # never let one odd client take the server down
            note("connection %d: %r" % (cid, e))
        finally:
            with self.lock:
                self.conns.pop(cid, None)
            try:
                sock.close()
            except OSError:
                pass

    def hold(self, sock):
        # Stall mode keeps any connection open, answered or not.
        if self.args.stall:
            self.stop.wait(self.deadline - time.monotonic())

    def serve(self, base, conn, sock):
        rec = dict(base, event="request", request_line=None, method=None,
                   target=None, path=None, query=None, version=None,
                   headers=[], content_length=None, chunked=False,
                   body_bytes=0, body_complete=True, error=None,
                   status=None, location=None)
        try:
            head = conn.read_head()
        except socket.timeout:
            self.record(dict(base, event="error", error="timeout before end of header section",
                             partial=text(conn.buf[:4096])))
            self.hold(sock)
            return
        except ClientGone as e:
            if conn.buf or not self.stop.is_set():
                self.record(dict(base, event="error", error="closed before end of header section: %s" % e,
                                 partial=text(conn.buf[:4096])))
            return
        except BadRequest as e:
            self.record(dict(base, event="error", error=str(e), partial=text(conn.buf[:4096])))
            self.respond(sock, e.status, None, "HEAD")
            return

        line, method, target, version, headers = parse_head(head)
        rec.update(request_line=line, method=method, target=target,
                   version=version, headers=headers)
        bad = None
        if method is None:
            bad = "malformed request line"
        else:
            try:
                split = urllib.parse.urlsplit(target)
                rec["path"] = split.path
                rec["query"] = split.query if "?" in target else None
            except ValueError:
                bad = "malformed request target"

        # Body: read what the client says it sends, so the test sees the real count.
        te = ",".join(header_values(headers, "transfer-encoding")).lower()
        cls = header_values(headers, "content-length")
        if cls:
            rec["content_length"] = cls[0]
        if (te or cls) and not self.args.stall and not bad and any(
                v.lower() == "100-continue" for v in header_values(headers, "expect")):
            try:
                sock.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
            except (OSError, ssl.SSLError):
                pass
        if "chunked" in te:
            rec["chunked"] = True
            n, complete, err = self.read_chunked(conn)
            rec.update(body_bytes=n, body_complete=complete)
            bad = bad or err
        elif cls:
            try:
                want = int(cls[0])
                if want < 0 or len(set(cls)) != 1:
                    raise ValueError
            except ValueError:
                bad = bad or "invalid Content-Length"
            else:
                got = conn.discard(want)
                rec.update(body_bytes=got, body_complete=(got == want))

        if bad:
            rec.update(error=bad, status=400)
            self.record(rec)
            self.respond(sock, 400, None, method or "GET")
            return
        if self.args.stall:
            self.record(rec)
            self.hold(sock)
            return
        status, location = self.answer_for(rec["path"], rec["query"])
        rec.update(status=status, location=location)
        self.record(rec)
        self.respond(sock, status, location, method)

    def read_chunked(self, conn):
        total = 0
        try:
            for _ in range(MAX_CHUNKS):
                size_line = conn.read_line()
                size = int(size_line.split(b";")[0].strip() or b"x", 16)
                if size < 0:
                    raise ValueError
                if size == 0:
                    for _ in range(MAX_TRAILER_LINES):
                        if conn.read_line() == b"":
                            return total, True, None
                    return total, False, "too many trailer lines"
                got = conn.discard(size)
                total += got
                if got < size:
                    return total, False, None
                conn.read_line()
        except ValueError:
            return total, False, "invalid chunk size"
        except BadRequest:
            return total, False, "chunk line too long"
        except (ClientGone, socket.timeout):
            return total, False, None
        return total, False, "too many chunks"

    def respond(self, sock, status, location, method):
        if self.args.stall:
            # Never answer in stall mode, not even an error.
            self.hold(sock)
            return
        body = b"" if status in (204, 304) or status < 200 else (
            ("%d %s\n" % (status, REASONS.get(status, ""))).encode())
        lines = ["HTTP/1.1 %d %s" % (status, REASONS.get(status, "Status"))]
        if location:
            lines.append("Location: " + location)
        if status not in (204, 304) and status >= 200:
            lines.append("Content-Type: text/plain")
            lines.append("Content-Length: %d" % len(body))
        lines.append("Connection: close")
        data = ("\r\n".join(lines) + "\r\n\r\n").encode()
        if method != "HEAD":
            data += body
        try:
            sock.sendall(data)
            # A short, bounded goodbye: closing with unread input would send
            # a reset that can destroy the answer before the client reads it.
            sock.settimeout(1.0)
            if isinstance(sock, ssl.SSLSocket):
                sock.unwrap()
            else:
                sock.shutdown(socket.SHUT_WR)
                for _ in range(16):
                    if not sock.recv(4096):
                        break
        except (OSError, ssl.SSLError, ValueError):
            pass

    # ---- main loop ----
    def run(self):
        self.deadline = time.monotonic() + self.args.max_lifetime
        lsock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        lsock.bind((HOST, self.args.port))
        lsock.listen(64)
        lsock.setblocking(False)
        self.port = lsock.getsockname()[1]

        wake_r, wake_w = os.pipe()
        os.set_blocking(wake_w, False)

        def on_signal(signum, frame):
            self.stop_reason = signal.Signals(signum).name
            self.stop.set()
            try:
                os.write(wake_w, b"x")
            except OSError:
                pass

        signal.signal(signal.SIGTERM, on_signal)
        signal.signal(signal.SIGINT, on_signal)
        if hasattr(signal, "SIGPIPE"):
            signal.signal(signal.SIGPIPE, signal.SIG_IGN)

        # select() rather than epoll: stdin may be /dev/null or a file.
        sel = selectors.SelectSelector()
        sel.register(lsock, selectors.EVENT_READ, "listen")
        sel.register(wake_r, selectors.EVENT_READ, "wake")
        if not self.args.no_stdin_watch:
            sel.register(0, selectors.EVENT_READ, "stdin")

        try:
            sys.stdout.write("READY %d\n" % self.port)
            sys.stdout.flush()
        except (OSError, ValueError):
            return 1
        note("%s://%s:%d/ ready" % (self.scheme, HOST, self.port))

        parent = os.getppid()
        while not self.stop.is_set():
            left = self.deadline - time.monotonic()
            if left <= 0:
                break
            # A parent that dies without closing our stdin (e.g. it never
            # gave us a pipe) must not leave us running either.
            if not self.args.no_parent_watch and os.getppid() != parent:
                self.stop_reason = "parent gone"
                break
            for key, _ in sel.select(timeout=min(left, 0.25)):
                if key.data == "wake":
                    self.stop.set()
                elif key.data == "stdin":
                    try:
                        data = os.read(0, 4096)
                    except OSError:
                        data = b""
                    if not data:
                        self.stop_reason = "stdin closed"
                        self.stop.set()
                elif key.data == "listen":
                    self.accept(lsock)
        self.stop.set()
        note("stopping (%s)" % self.stop_reason)
        sel.close()
        lsock.close()
        self.shutdown_connections()
        return 0

    def accept(self, lsock):
        for _ in range(MAX_CONNECTIONS):
            try:
                sock, peer = lsock.accept()
            except (BlockingIOError, InterruptedError):
                return
            except OSError as e:
                note("accept: %s" % e)
                return
            with self.lock:
                if len(self.conns) >= MAX_CONNECTIONS:
                    sock.close()
                    continue
                self.conn_seq += 1
                cid = self.conn_seq
                self.conns[cid] = sock
            sock.setblocking(True)
            t = threading.Thread(target=self.handle, args=(cid, sock, peer), daemon=True)
            self.threads = [x for x in self.threads if x.is_alive()]
            self.threads.append(t)
            t.start()

    def shutdown_connections(self):
        with self.lock:
            socks = list(self.conns.values())
        for s in socks:
            try:
                # Base-class call: acts on the fd even for an SSL socket that
                # another thread is reading from.
                socket.socket.shutdown(s, socket.SHUT_RDWR)
            except (OSError, ValueError):
                pass
        end = time.monotonic() + 0.3
        for t in self.threads:
            t.join(max(0.0, end - time.monotonic()))
        if self.log_file:
            with self.lock:
                self.log_file.close()
                self.log_file = None


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--status", type=int, default=202,
                   help="status of the final answer (default 202)")
    p.add_argument("--redirects", type=int, default=0, metavar="N",
                   help="answer N redirects (PATH -> /hop/1 -> ... -> /hop/N) before the final answer")
    p.add_argument("--redirect-status", type=int, default=302, choices=(301, 302, 303, 307, 308))
    p.add_argument("--relative-location", action="store_true",
                   help="send Location as a path instead of an absolute URL")
    p.add_argument("--stall", action="store_true",
                   help="read and record the request, then never answer; hold the connection until stopped")
    p.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), help="serve HTTPS")
    p.add_argument("--log", metavar="FILE", help="append one JSON line per request")
    p.add_argument("--path", default="/vobrel_update.php", help="entry path (default %(default)s)")
    p.add_argument("--port", type=int, default=0, help="port (default 0: the OS picks)")
    p.add_argument("--io-timeout", type=float, default=10.0, metavar="SECONDS",
                   help="socket time-out while reading a request (default %(default)s)")
    p.add_argument("--max-lifetime", type=float, default=300.0, metavar="SECONDS",
                   help="stop by itself after this long (default %(default)s)")
    p.add_argument("--no-stdin-watch", action="store_true",
                   help="do not stop at end of stdin (for a server whose stdin is /dev/null)")
    p.add_argument("--no-parent-watch", action="store_true",
                   help="do not stop when the parent process ends (for a detached server)")
    args = p.parse_args(argv)
    if not 200 <= args.status <= 599:
        p.error("--status must be 200..599")
    if args.redirects < 0:
        p.error("--redirects must be >= 0")
    if args.io_timeout <= 0 or args.max_lifetime <= 0:
        p.error("time-outs must be > 0")
    if not args.no_stdin_watch:
        try:
            os.fstat(0)
        except OSError:
            p.error("stdin is closed: give --no-stdin-watch")
    try:
        server = Server(args)
        return server.run()
    except (OSError, ssl.SSLError) as e:
        note("cannot start: %s" % e)
        return 2


if __name__ == "__main__":
    sys.exit(main())
