#!/usr/bin/env python3
"""The floor of an NTS key establishment: what TLS 1.3 and one request cost with
nothing else in the way, for scripts/bench's NTS section.

    nts_ke_floor.py [--nagle] COUNT SERVER [ADDRESS]

Each key establishment is a new TCP connection to ADDRESS (default: SERVER) port
4460, a TLS 1.3 handshake with ALPN ntske/1 that checks SERVER's certificate against
the roots in SSL_CERT_FILE, one request (next protocol NTPv4, AES-SIV-CMAC-256, end
of message) and the answer read to its end-of-message record. Prints one line per
answered key establishment: the microseconds from the connect to the end of the
answer, and the number of cookies it gave. A failure is told on standard error. One
key establishment is made first and not counted: Python's ssl reads its roots and
warms up at the first.

The socket sends at once (TCP_NODELAY), as a client that writes its request in a
segment of its own must for the request not to wait on the server's acknowledgement
of TLS's last handshake message; --nagle leaves Nagle's algorithm on, to show that wait.
Python's ssl is OpenSSL, the same library as the program's. Keys are not exported
(Python has no call for it); that is a few microseconds of hashing.
"""

import os
import socket
import ssl
import struct
import sys
import time

PORT = 4460
TIMEOUT = 5.0
MAX_COUNT = 1000
# Critical records: next protocol (1) = NTPv4 (0), AEAD algorithm (4) = 15, end of message.
REQUEST = bytes.fromhex("80010002" "0000" "80040002" "000f" "80000000")
END_OF_MESSAGE = 0
NEW_COOKIE = 5
ERROR = 2


def records(data):
    """The (type, body) records of the answer so far, and whether it is complete."""
    found = []
    at = 0
    while at + 4 <= len(data):
        kind, length = struct.unpack_from(">HH", data, at)
        if at + 4 + length > len(data):
            break
        found.append((kind & 0x7FFF, data[at + 4:at + 4 + length]))
        at += 4 + length
        if kind & 0x7FFF == END_OF_MESSAGE:
            return found, True
    return found, False


def establish(context, server, address, nagle):
    started = time.monotonic()
    with socket.create_connection((address, PORT), timeout=TIMEOUT) as raw:
        raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 0 if nagle else 1)
        with context.wrap_socket(raw, server_hostname=server) as tls:
            if tls.selected_alpn_protocol() != "ntske/1":
                raise ValueError("the server did not select ALPN ntske/1")
            tls.sendall(REQUEST)
            answer = b""
            for _ in range(64):  # the answer is a few records; never an endless read
                piece = tls.recv(4096)
                if not piece:
                    raise ValueError("closed before the end of the answer")
                answer += piece
                found, complete = records(answer)
                if complete:
                    break
            else:
                raise ValueError("no end of the answer")
    ended = time.monotonic()
    if any(kind == ERROR for kind, _ in found):
        raise ValueError("the server refused the request")
    cookies = sum(1 for kind, _ in found if kind == NEW_COOKIE)
    return (ended - started) * 1e6, cookies


def main(argv):
    nagle = "--nagle" in argv
    args = [a for a in argv if a != "--nagle"]
    if len(args) not in (2, 3) or not args[0].isdigit():
        print("usage: nts_ke_floor.py [--nagle] COUNT SERVER [ADDRESS]", file=sys.stderr)
        return 2
    count = min(int(args[0]), MAX_COUNT)
    server = args[1]
    address = args[2] if len(args) == 3 else server
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.minimum_version = ssl.TLSVersion.TLSv1_3
    context.set_alpn_protocols(["ntske/1"])
    roots = os.environ.get("SSL_CERT_FILE")
    if roots:
        context.load_verify_locations(roots)
    else:
        context.load_default_certs()
    try:
        establish(context, server, address, nagle)
    except (OSError, ValueError) as error:
        print(f"nts_ke_floor: {error}", file=sys.stderr)
    answered = 0
    for _ in range(count):
        try:
            micro, cookies = establish(context, server, address, nagle)
        except (OSError, ValueError) as error:
            print(f"nts_ke_floor: {error}", file=sys.stderr)
            continue
        print(f"{micro:.3f} {cookies}", flush=True)
        answered += 1
    return 0 if answered else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
