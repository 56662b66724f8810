#!/usr/bin/env python3
"""Writes the seed corpus of the two fuzz targets (corpus/connection and
corpus/reply_builder): valid connection setups and one request of each
answered opcode, in both byte orders, plus a BIG-REQUESTS request, a request
larger than the receive buffer, an unanswered opcode and cut-short streams. Run again after changing it; files
named regression-* are kept (they are inputs that once broke the server)."""

import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent


def u16(v, lsb):
    return struct.pack("<H" if lsb else ">H", v)


def u32(v, lsb):
    return struct.pack("<I" if lsb else ">I", v)


def pad(b):
    return b + b"\0" * (-len(b) % 4)


def setup(lsb, name=b"", data=b""):
    return (b"l\0" if lsb else b"B\0") + u16(11, lsb) + u16(0, lsb) + u16(len(name), lsb) + \
        u16(len(data), lsb) + b"\0\0" + pad(name) + pad(data)


def request(opcode, data, lsb, extra=0):
    assert len(data) % 4 == 0
    return bytes([opcode, extra]) + u16(1 + len(data) // 4, lsb) + data


def big_request(opcode, data, lsb, extra=0):
    return bytes([opcode, extra]) + u16(0, lsb) + u32(2 + len(data) // 4, lsb) + data


def query_extension(name, lsb):
    return request(98, u16(len(name), lsb) + b"\0\0" + pad(name), lsb)


def answered_requests(lsb):
    """One request per answered opcode: (file name, request bytes)."""
    return [
        ("get-property", request(20, u32(0x50D, lsb) + u32(23, lsb) + u32(31, lsb) + u32(0, lsb) + u32(100, lsb), lsb)),
        ("get-input-focus", request(43, b"", lsb)),
        ("get-font-path", request(52, b"", lsb)),
        ("create-gc", request(55, u32(0x200001, lsb) + u32(0x50D, lsb) + u32(0, lsb), lsb)),
        ("free-gc", request(60, u32(0x200001, lsb), lsb)),
        ("alloc-color", request(84, u32(0x20, lsb) + u16(0xFFFF, lsb) + u16(0x8000, lsb) + u16(0x1234, lsb) + b"\0\0", lsb)),
        ("query-extension-big-requests", query_extension(b"BIG-REQUESTS", lsb)),
        ("query-extension-xkeyboard", query_extension(b"XKEYBOARD", lsb)),
        ("query-extension-unknown", query_extension(b"MIT-SHM\xe9", lsb)),
        ("ge-query-version", request(128, u16(1, lsb) + u16(0, lsb), lsb, extra=0)),
        ("big-requests-enable", request(133, b"", lsb, extra=0)),
        ("xkb-use-extension", request(135, u16(1, lsb) + u16(0, lsb), lsb, extra=0)),
    ]


def write(directory, name, data):
    path = HERE / "corpus" / directory / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


def main():
    for d in ("connection", "reply_builder"):
        for old in (HERE / "corpus" / d).glob("*"):
            if not old.name.startswith("regression-"):
                old.unlink()
    for lsb in (True, False):
        order = "lsb" if lsb else "msb"
        hello = setup(lsb)
        write("connection", f"setup-{order}", hello)
        write("connection", f"setup-auth-{order}", setup(lsb, b"MIT-MAGIC-COOKIE-1", bytes(range(16))))
        session = hello
        for name, req in answered_requests(lsb):
            write("connection", f"{name}-{order}", hello + req)
            session += req
            # reply_builder input: flags, sequence (low byte first), opcode, extra_spec, data.
            write("reply_builder", f"{name}-{order}", bytes([1 if lsb else 0]) + struct.pack("<H", 7) + req[:2] + req[4:])
        write("connection", f"session-{order}", session)
        big = big_request(135, u16(1, lsb) + u16(0, lsb) + bytes(60), lsb)
        write("connection", f"big-request-{order}", hello + request(133, b"", lsb) + big + request(43, b"", lsb))
        write("reply_builder", f"big-request-{order}", bytes([3 if lsb else 2]) + struct.pack("<H", 0xFFFF) + big[:2] + big[8:])
        # Larger than the handler's 16 KiB receive buffer: read on a path of its own.
        write("connection", f"large-request-{order}",
              hello + request(55, bytes(20000), lsb) + request(43, b"", lsb))
        write("connection", f"unanswered-opcode-{order}", hello + request(1, bytes(28), lsb) + request(43, b"", lsb))
        write("connection", f"cut-header-{order}", hello + request(43, b"", lsb)[:2])
        write("connection", f"cut-data-{order}", hello + request(84, bytes(12), lsb)[:9])
        write("connection", f"cut-setup-{order}", setup(lsb, b"abc", b"defgh")[:15])
        write("connection", f"extended-length-too-large-{order}",
              hello + bytes([135, 0]) + u16(0, lsb) + u32(4194304, lsb))
    write("connection", "invalid-byte-order", b"b\0" + bytes(10))


if __name__ == "__main__":
    main()
