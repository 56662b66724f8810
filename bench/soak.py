#!/usr/bin/env python3
"""Soak: one ghostdpy serves, for a bounded time, thousands of short connections
from several processes at once - valid sessions, garbage, truncated handshakes,
clients vanishing mid-request and mid-reply, oversized lengths - while one
well-behaved client keeps doing round trips on its own connection and fresh
clients keep connecting.

    bench/soak.py [--seconds 60] [--workers 4] [--server build/default/ghostdpy/ghostdpy]
                  [--display N (71-79, default: the first free)] [--rss-slack-mib 4]
                  [--maximal-burst 8] [--peak-one-mb 40] [--peak-burst-mb 160]

Before the load, one client sends a maximal BIG-REQUESTS request (16 MiB of an
opcode the server refuses, traced and refused in a 50 MB line each); during
it, a burst of clients send one each at the same moment. The server's peak
resident set (VmHWM) must stay within --peak-one-mb of its idle size for the
one, and within --peak-burst-mb for the burst and the rest of the load.

Reports connections served (by kind), the well-behaved round trips that failed
(must be 0), the server's descriptor count, thread count and RSS before and
after the load (must return to baseline), its peak memory, whether the socket
file is intact, and whether the server survived. Exits 1 when any of these
checks fails.
The server runs on a display in 71-79 (the benchmarks' range), in a process
group of its own; it is interrupted and reaped, and its socket file removed,
whatever happens.
"""

import argparse
import collections
import multiprocessing
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

SETUP_REPLY_SIZE = 9556
MAX_EXTENDED_LENGTH = 4194303
IO_TIMEOUT = 5.0


# ---- X11 bytes -------------------------------------------------------------

def u16(v, lsb):
    return struct.pack("<H" if lsb else ">H", v)


def u32(v, lsb):
    return struct.pack("<I" if lsb else ">I", v)


def setup(lsb, name=b"", data=b""):
    def pad(b):
        return b + b"\0" * (-len(b) % 4)
    return (b"l\0" if lsb else b"B\0") + u16(11, lsb) + u16(0, lsb) + u16(len(name), lsb) + \
        u16(len(data), lsb) + b"\0\0" + pad(name) + pad(data)


def request(opcode, data, lsb, extra=0):
    return bytes([opcode, extra]) + u16(1 + len(data) // 4, lsb) + data


def query_extension(name, lsb):
    padded = name + b"\0" * (-len(name) % 4)
    return request(98, u16(len(name), lsb) + b"\0\0" + padded, lsb)


def answered_requests(lsb):
    """(request bytes, reply size) of every answered opcode."""
    return [
        (request(20, bytes(20), lsb), 32),
        (request(43, b"", lsb), 32),
        (request(52, b"", lsb), 44),
        (request(55, bytes(12), lsb), 0),
        (request(60, bytes(4), lsb), 0),
        (request(84, bytes(12), lsb), 32),
        (query_extension(b"BIG-REQUESTS", lsb), 32),
        (query_extension(b"NOT-THERE", lsb), 32),
        (request(128, u16(1, lsb) + u16(0, lsb), lsb), 32),
        (request(133, b"", lsb), 32),
        (request(135, u16(1, lsb) + u16(0, lsb), lsb), 32),
    ]


def recv_exactly(sock, n):
    chunks, got = [], 0
    while got < n:
        chunk = sock.recv(min(n - got, 65536))
        if not chunk:
            break
        chunks.append(chunk)
        got += len(chunk)
    return b"".join(chunks)


def connect(path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(IO_TIMEOUT)
    s.connect(path)
    return s


def abort_on_close(sock):
    """Close with a reset instead of an orderly end."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


def handshake(sock, lsb):
    sock.sendall(setup(lsb))
    return len(recv_exactly(sock, SETUP_REPLY_SIZE)) == SETUP_REPLY_SIZE


# ---- hostile and careless clients -----------------------------------------

def valid_session(sock, rng):
    lsb = rng.random() < 0.5
    if not handshake(sock, lsb):
        return False
    reqs = answered_requests(lsb)
    chosen = [rng.choice(reqs) for _ in range(rng.randint(1, 6))]
    sock.sendall(b"".join(r for r, _ in chosen))
    want = sum(size for _, size in chosen)
    return len(recv_exactly(sock, want)) == want


def garbage(sock, rng):
    sock.sendall(bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 300))))


def truncated_handshake(sock, rng):
    full = setup(rng.random() < 0.5, b"MIT-MAGIC-COOKIE-1", bytes(16))
    sock.sendall(full[:rng.randint(1, len(full) - 1)])
    if rng.random() < 0.5:
        abort_on_close(sock)


def vanish_mid_request(sock, rng):
    lsb = rng.random() < 0.5
    if not handshake(sock, lsb):
        return False
    units = rng.randint(2, 65535)
    sock.sendall(bytes([55, 0]) + u16(units, lsb) + bytes(rng.randint(0, min(4 * units - 5, 2000))))
    abort_on_close(sock)


def vanish_mid_reply(sock, rng):
    lsb = rng.random() < 0.5
    sock.sendall(setup(lsb))  # the setup reply itself is never read
    sock.sendall(request(43, b"", lsb) * rng.randint(500, 4000))
    abort_on_close(sock)


def oversized_length(sock, rng):
    lsb = rng.random() < 0.5
    if not handshake(sock, lsb):
        return False
    choice = rng.randint(0, 2)
    if choice == 0:  # beyond the announced maximum: refused
        ext = rng.choice([MAX_EXTENDED_LENGTH + 1, 0xFFFFFFFF, 0, 1])
        sock.sendall(bytes([135, 0]) + u16(0, lsb) + u32(ext, lsb))
        recv_exactly(sock, 1)  # the server closes
    elif choice == 1:  # the maximum announced, a little sent
        sock.sendall(bytes([135, 0]) + u16(0, lsb) + u32(MAX_EXTENDED_LENGTH, lsb) + bytes(rng.randint(0, 4096)))
        abort_on_close(sock)
    else:  # the largest 16-bit length, cut short
        sock.sendall(bytes([135, 0]) + u16(65535, lsb) + bytes(rng.randint(0, 4096)))


def bad_byte_order(sock, rng):
    sock.sendall(bytes([rng.choice([0, 0x62, 0x6D, 0xFF])]) + bytes(11))
    recv_exactly(sock, 1)


def unimplemented_opcode(sock, rng):
    lsb = rng.random() < 0.5
    if not handshake(sock, lsb):
        return False
    sock.sendall(request(rng.choice([1, 8, 45, 70, 139, 200]), bytes(8), lsb))
    recv_exactly(sock, 1)


MAXIMAL_DATA = bytes(4 * MAX_EXTENDED_LENGTH - 8)
REFUSED_OPCODE = 200


def maximal_request(path, start=None):
    """One maximal request of an opcode the server refuses; all but its last
    bytes are sent, then (after `start`, a barrier) the rest. True when the
    server read it whole and closed the connection."""
    with connect(path) as sock:
        sock.settimeout(60)
        if not handshake(sock, True):
            return False
        sock.sendall(bytes([REFUSED_OPCODE, 0]) + u16(0, True) + u32(MAX_EXTENDED_LENGTH, True))
        sock.sendall(memoryview(MAXIMAL_DATA)[:-4])
        if start is not None:
            start.wait()
        sock.sendall(MAXIMAL_DATA[-4:])
        return sock.recv(1) == b""


def maximal_burst(path, count, results):
    start = threading.Barrier(count)
    ok = []
    threads = [threading.Thread(target=lambda: ok.append(maximal_request(path, start)), daemon=True)
               for _ in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    results.append(sum(1 for v in ok if v))


def connect_and_leave(sock, rng):
    if rng.random() < 0.5:
        abort_on_close(sock)


KINDS = {
    "valid session": valid_session,
    "garbage": garbage,
    "truncated handshake": truncated_handshake,
    "vanish mid-request": vanish_mid_request,
    "vanish mid-reply": vanish_mid_reply,
    "oversized length": oversized_length,
    "bad byte order": bad_byte_order,
    "unimplemented opcode": unimplemented_opcode,
    "connect and leave": connect_and_leave,
}


def hostile_worker(path, deadline, seed, results):
    rng = random.Random(seed)
    counts = collections.Counter()
    names = list(KINDS)
    while time.monotonic() < deadline:
        kind = rng.choice(names)
        try:
            sock = connect(path)
        except OSError as e:
            counts["connect failed: " + (e.strerror or str(e))] += 1
            time.sleep(0.01)
            continue
        counts["connections"] += 1
        try:
            ok = KINDS[kind](sock, rng)
            counts[kind] += 1
            if ok is False and kind == "valid session":
                counts["valid session failed"] += 1
        except OSError:
            counts[kind] += 1  # the server's end of a hostile client is its business
        finally:
            sock.close()
    results.put(dict(counts))


# ---- the well-behaved client -----------------------------------------------

class SteadyClient(threading.Thread):
    """Keeps doing GetInputFocus + QueryExtension round trips on one
    connection, and every half second serves a fresh client end to end."""

    def __init__(self, path, stop):
        super().__init__(daemon=True)
        self.path, self.stop = path, stop
        self.round_trips = self.failed = 0
        self.fresh_ok = self.fresh_failed = 0
        self.failures = []

    def fail(self, what):
        self.failed += 1
        if len(self.failures) < 5:
            self.failures.append(what)

    def run(self):
        try:
            sock = connect(self.path)
            if not handshake(sock, True):
                self.fail("steady handshake")
                return
        except OSError as e:
            self.fail("steady connect: %s" % e)
            return
        sequence = 0
        batch = request(43, b"", True) + query_extension(b"BIG-REQUESTS", True)
        next_fresh = time.monotonic()
        while not self.stop.is_set():
            try:
                sock.sendall(batch)
                r = recv_exactly(sock, 64)
                focus_seq, ext_seq = (sequence + 1) & 0xFFFF, (sequence + 2) & 0xFFFF
                if len(r) != 64 or struct.unpack_from("<H", r, 2)[0] != focus_seq or \
                        struct.unpack_from("<I", r, 8)[0] != 1 or \
                        struct.unpack_from("<H", r, 34)[0] != ext_seq or r[40:42] != b"\x01\x85":
                    self.fail("round trip %d: %r" % (self.round_trips, r[:12]))
                    return
                sequence += 2
                self.round_trips += 1
            except OSError as e:
                self.fail("round trip %d: %s" % (self.round_trips, e))
                return
            if time.monotonic() >= next_fresh:
                next_fresh += 0.5
                self.fresh_client()
        sock.close()

    def fresh_client(self):
        try:
            with connect(self.path) as s:
                ok = handshake(s, False)
                s.sendall(request(43, b"", False))
                r = recv_exactly(s, 32)
                ok = ok and len(r) == 32 and struct.unpack_from(">H", r, 2)[0] == 1
        except OSError:
            ok = False
        if ok:
            self.fresh_ok += 1
        else:
            self.fresh_failed += 1


# ---- the server --------------------------------------------------------------

def proc_status(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return {
        "fds": len(os.listdir("/proc/%d/fd" % pid)),
        "threads": int(fields["Threads"]),
        "rss_kib": int(fields["VmRSS"].split()[0]),
    }


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def reset_peak_rss(pid):
    """Starts a new peak from the current resident set (Linux 4.0 and later)."""
    try:
        with open("/proc/%d/clear_refs" % pid, "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


class StderrReader(threading.Thread):
    """Reads the server's standard error as it comes and keeps the head of each
    line only: a refused maximal request is one line of 50 MB."""

    HEAD = 200

    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream = stream
        self.lines = []

    def run(self):
        head, long_line = b"", False
        for chunk in iter(lambda: self.stream.read1(1 << 16), b""):
            parts = chunk.split(b"\n")
            for i, part in enumerate(parts):
                if len(head) < self.HEAD:
                    head += part[:self.HEAD - len(head)]
                if i < len(parts) - 1:
                    self.lines.append(head.decode("utf-8", "replace"))
                    head = b""
        if head:
            self.lines.append(head.decode("utf-8", "replace"))


def classify_report(line):
    """The kind of one line of the server's standard error; "-" for lines that
    report no connection's end."""
    if line == "Client disconnected":
        return "Client disconnected"
    if line.startswith("ERROR: "):
        return "ERROR: (refused request)"
    if line.startswith("ghostdpy[connection]: fatal: "):
        message = line.split(": ", 2)[2]
        if "(errno" not in message:  # numbers of the client's own bytes
            message = re.sub(r"\d+", "N", message)
        return "fatal: " + message[:70]
    if line.startswith("Failed to accept connection"):
        return "Failed to accept connection"
    if line.startswith("Server listening") or not line:
        return "-"
    return "other: " + line[:80]


def settle(pid, baseline, limit=10.0):
    """Waits (bounded) until descriptors and threads are back to baseline."""
    end = time.monotonic() + limit
    while True:
        now = proc_status(pid)
        if (now["fds"] <= baseline["fds"] and now["threads"] <= baseline["threads"]) or time.monotonic() > end:
            return now
        time.sleep(0.1)


def free_display():
    for n in range(71, 80):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            return n
    sys.exit("soak: displays 71-79 are all taken")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--workers", type=int, default=4)
    parser.add_argument("--server", default="build/default/ghostdpy/ghostdpy")
    parser.add_argument("--display", type=int, default=None)
    parser.add_argument("--rss-slack-mib", type=int, default=4,
                        help="RSS allowed above baseline * 1.25 afterwards (a sanitized server keeps a quarantine)")
    parser.add_argument("--maximal-burst", type=int, default=8,
                        help="clients sending a maximal request at the same moment during the load")
    parser.add_argument("--peak-one-mb", type=int, default=40,
                        help="peak resident set allowed above idle for one maximal request (MB)")
    parser.add_argument("--peak-burst-mb", type=int, default=160,
                        help="peak resident set allowed above idle during the load with the burst (MB)")
    args = parser.parse_args()
    if not 1 <= args.seconds <= 3600:
        sys.exit("soak: --seconds must be 1 to 3600")

    display = args.display if args.display is not None else free_display()
    path = "/tmp/.X11-unix/X%d" % display
    with open(os.devnull, "wb") as null:
        server = subprocess.Popen([args.server, ":%d" % display], stdout=null, stderr=subprocess.PIPE,
                                  start_new_session=True)
    err = StderrReader(server.stderr)
    err.start()
    try:
        return soak(args, server, path, err)
    finally:
        if server.poll() is None:
            server.send_signal(signal.SIGINT)
            try:
                server.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(server.pid, signal.SIGKILL)
                server.wait()
        if os.path.exists(path):
            print("soak: socket file still there after the server ended; removed")
            os.unlink(path)


def soak(args, server, path, err):
    end = time.monotonic() + 10
    while not os.path.exists(path):
        if server.poll() is not None or time.monotonic() > end:
            print("soak: server did not start (status %s)" % server.returncode)
            return 1
        time.sleep(0.05)
    socket_inode = os.stat(path).st_ino
    # Warm up (first connection thread, lazily made state), then measure.
    with connect(path) as s:
        handshake(s, True)
    time.sleep(0.5)
    before = settle(server.pid, proc_status(server.pid))

    # One maximal request alone, then its peak.
    peak_reset = reset_peak_rss(server.pid)
    one_ok = maximal_request(path)
    peak_one = peak_rss_kib(server.pid)
    peak_reset = reset_peak_rss(server.pid) and peak_reset

    stop = threading.Event()
    steady = SteadyClient(path, stop)
    steady.start()
    deadline = time.monotonic() + args.seconds
    results = multiprocessing.Queue()
    workers = [multiprocessing.Process(target=hostile_worker, args=(path, deadline, 1000 + i, results))
               for i in range(args.workers)]
    peak = dict(before)
    for w in workers:
        w.start()
    burst_served = []
    burst = threading.Thread(target=maximal_burst, args=(path, args.maximal_burst, burst_served), daemon=True)
    burst.start()
    while time.monotonic() < deadline and server.poll() is None:
        time.sleep(0.25)
        try:
            now = proc_status(server.pid)
            peak = {k: max(peak[k], now[k]) for k in peak}
        except (FileNotFoundError, ProcessLookupError):
            break
    counts = collections.Counter()
    for _ in workers:
        try:
            counts.update(results.get(timeout=IO_TIMEOUT + 10))
        except Exception:  # noqa: BLE001 - a worker that died reports nothing
            counts["workers lost"] += 1
    for w in workers:
        w.join(10)
    stop.set()
    steady.join(IO_TIMEOUT + 5)
    burst.join(60)
    peak_load = peak_rss_kib(server.pid) if server.poll() is None else 0

    alive = server.poll() is None
    after = settle(server.pid, before) if alive else None
    intact = os.path.exists(path) and os.stat(path).st_ino == socket_inode
    if not alive:
        err.join(10)
    burst_count = sum(burst_served) if burst_served else 0
    maximal = 1 + args.maximal_burst
    made = counts["connections"] + steady.fresh_ok + steady.fresh_failed + 2 + maximal  # + steady, warm-up
    # The server writes each report before it closes the connection, but the
    # reader thread may still be up to a pipe's worth behind: wait (bounded)
    # until it has caught up with every report the clients' count expects.
    reports, read = collections.Counter(), 0
    wait_until = time.monotonic() + 10
    while True:
        fresh = err.lines[read:]
        read += len(fresh)
        reports.update(classify_report(line) for line in fresh)
        served = sum(v for k, v in reports.items() if not k.startswith(("Failed", "other", "-")))
        if served >= made or not alive or time.monotonic() > wait_until:
            break
        time.sleep(0.1)
    del reports["-"]
    messages = err.lines[:read]
    sanitizer = [l for l in messages if "Sanitizer" in l or "runtime error" in l]

    rss_back = after is not None and after["rss_kib"] <= before["rss_kib"] * 1.25 + 1024 * args.rss_slack_mib

    print("soak: %.0f s, %d worker processes, server %s, display socket %s" % (args.seconds, args.workers, args.server, path))
    print("connections made by clients: %d (%.0f/s)" % (made, made / args.seconds))
    for kind in KINDS:
        print("  %-22s %d" % (kind, counts[kind]))
    for k, v in sorted(counts.items()):
        if k.startswith(("connect failed", "workers lost", "valid session failed")):
            print("  %-22s %d" % (k, v))
    print("connections served (one end-of-connection report each): %d" % served)
    for k, v in sorted(reports.items()):
        print("  %-40s %d" % (k, v))
    print("well-behaved round trips: %d done, %d failed %s" % (steady.round_trips, steady.failed, steady.failures or ""))
    print("fresh clients during the load: %d served, %d failed" % (steady.fresh_ok, steady.fresh_failed))
    print("server before: fds %(fds)d, threads %(threads)d, RSS %(rss_kib)d KiB" % before)
    print("server peak:   fds %(fds)d, threads %(threads)d, RSS %(rss_kib)d KiB (sampled)" % peak)
    one_mb = (peak_one - before["rss_kib"]) * 1024 / 1e6
    load_mb = (peak_load - before["rss_kib"]) * 1024 / 1e6
    print("peak memory above idle (VmHWM%s): one maximal request %.1f MB (%s), the load with %d at once %.1f MB (%d served)"
          % ("" if peak_reset else ", not reset between the two", one_mb, "served" if one_ok else "NOT served",
             args.maximal_burst, load_mb, burst_count))
    if after:
        print("server after:  fds %(fds)d, threads %(threads)d, RSS %(rss_kib)d KiB" % after)
    print("socket file intact: %s" % ("yes" if intact else "NO"))
    print("server alive, never crashed: %s%s" % ("yes" if alive and not sanitizer else "NO",
                                                  "" if alive else " (status %s)" % server.returncode))
    for line in sanitizer[:5]:
        print("  " + line)

    checks = {
        "no well-behaved round trip failed": steady.failed == 0 and steady.round_trips > 0,
        "fresh clients served": steady.fresh_failed == 0 and steady.fresh_ok > 0,
        "every connection reported its end once": served == made,
        "descriptors back to baseline": after is not None and after["fds"] == before["fds"],
        "threads back to baseline": after is not None and after["threads"] == before["threads"],
        "RSS back to baseline (+25%% + %d MiB)" % args.rss_slack_mib: rss_back,
        "one maximal request within %d MB of idle" % args.peak_one_mb: one_ok and one_mb <= args.peak_one_mb,
        "%d maximal requests at once within %d MB of idle" % (args.maximal_burst, args.peak_burst_mb):
            burst_count == args.maximal_burst and 0 < load_mb <= args.peak_burst_mb,
        "socket file intact": intact,
        "server alive, no sanitizer report": alive and not sanitizer,
        "no worker lost": counts["workers lost"] == 0,
    }
    failed = [name for name, ok in checks.items() if not ok]
    print("result: %s" % ("PASS" if not failed else "FAIL: " + "; ".join(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
