#!/usr/bin/env python3
"""A receiver of the stream message's fixed form and of the large form's
version 1, written from docs/protocol.md as it stood before version 2: what
receivers in the field run. It answers a large header of another version
with "VERSION", 8 blanks and 1, as the document says, and closes.

old_receiver.py PORT FOLDER COUNT [--fixed-only]: serves COUNT connections
one at a time on 127.0.0.1:PORT, storing each body in FOLDER/message-N.bin
(and a large body's check, as it came, in FOLDER/message-N.check). With
--fixed-only it knows no large form: "QBIG" is no number, so it closes.
"""
import re
import socket
import sys

OK = b"OK" + b" " * 14
GO = b"GO" + b" " * 14


def read_exactly(conn, count):
    data = b""
    while len(data) < count:
        part = conn.recv(count - len(data))
        if not part:
            raise EOFError("closed after %d of %d bytes" % (len(data), count))
        data += part
    return data


def length_field(field):
    """A length field as the first receivers read it; None when it is no number."""
    match = re.fullmatch(rb" *([+-]?[0-9]+|\$[0-9A-Fa-f]+)", field)
    if not match:
        return None
    text = match.group(1).decode()
    return int(text[1:], 16) if text.startswith("$") else int(text)


def serve_large(conn, store):
    version = read_exactly(conn, 1)[0]
    if version != 1:
        conn.sendall(b"VERSION" + b" " * 8 + bytes([1]))
        return
    name = read_exactly(conn, read_exactly(conn, 1)[0])
    size = int.from_bytes(read_exactly(conn, 8), "big")
    conn.sendall(GO)
    store(name, read_exactly(conn, size), read_exactly(conn, 16))
    conn.sendall(OK)


def serve_fixed(conn, first, store):
    name_length = length_field(first)
    if name_length is None or name_length < 0:
        return
    name = read_exactly(conn, name_length)
    body_length = length_field(read_exactly(conn, 4))
    if body_length is None or body_length < 0:
        return
    store(name, read_exactly(conn, body_length), None)
    conn.sendall(OK)


def main():
    port, folder, count = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    fixed_only = "--fixed-only" in sys.argv[4:]
    stored = []

    def store(name, body, check):
        n = len(stored) + 1
        with open("%s/message-%d.bin" % (folder, n), "wb") as out:
            out.write(body)
        if check is not None:
            with open("%s/message-%d.check" % (folder, n), "wb") as out:
                out.write(check)
        stored.append(name)

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    for _ in range(count):
        conn, _ = listener.accept()
        with conn:
            try:
                first = read_exactly(conn, 4)
                if first == b"QBIG" and not fixed_only:
                    serve_large(conn, store)
                else:
                    serve_fixed(conn, first, store)
            except EOFError as e:
                print("old receiver: %s" % e, file=sys.stderr)


if __name__ == "__main__":
    main()
