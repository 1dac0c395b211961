#!/usr/bin/env python3
"""A relay in front of the sandbox's NTS server, for the tests of forged and lost replies.

Usage: nts_relay.py STATE_DIR UPSTREAM ADDRESS=MODE [ADDRESS=MODE...]

Each ADDRESS listens on TCP 4460 and UDP 123. A key-establishment connection is pumped
unchanged to UPSTREAM:4460 (the certificate names the relay's names, so the handshake
succeeds), and counted in STATE_DIR/ADDRESS.ke (a number, replaced whole). An NTP request
goes to UPSTREAM:123 unchanged; its reply comes back as MODE says:
  flip   byte 47 (the transmit timestamp's last) XOR 0x01: a forged time that the
         authenticator no longer covers;
  strip  cut to its 48-byte header: an unauthenticated reply;
  lossy  unchanged.
On every address, replies are dropped while STATE_DIR/ADDRESS.drop exists, so that a test
can spend its cookies and then let replies through again.

Only the addresses given are bound (the upstream's port 123 stays the server's). Every wait
is bounded: an idle connection or NTP flow ends after IDLE_SECONDS.
"""

import os
import select
import selectors
import socket
import sys
import threading
import time

NTP_PORT = 123
KE_PORT = 4460
IDLE_SECONDS = 10.0
NTP_HEADER = 48
FLIPPED_OFFSET = 47
MAX_FLOWS = 256
MAX_CONNECTIONS = 64
BUFFER = 65536
MODES = ("flip", "strip", "lossy")


def Alter(mode, reply):
    if mode == "flip" and len(reply) > FLIPPED_OFFSET:
        return (reply[:FLIPPED_OFFSET] + bytes([reply[FLIPPED_OFFSET] ^ 0x01])
                + reply[FLIPPED_OFFSET + 1:])
    if mode == "strip":
        return reply[:NTP_HEADER]
    return reply


def WriteWhole(path, text):
    # A reader polling the count must never see an empty or half-written file.
    temporary = os.path.join(os.path.dirname(path), "." + os.path.basename(path) + ".tmp")
    with open(temporary, "w", encoding="ascii") as file:
        file.write(text)
    os.replace(temporary, path)


class CRelayAddress:
    def __init__(self, state, address, mode):
        self.m_strAddress = address
        self.m_strMode = mode
        self.m_strDropPath = os.path.join(state, address + ".drop")
        self.m_strCountPath = os.path.join(state, address + ".ke")
        self.m_nConnections = 0
        # Wine binds a Windows test's UDP socket on one loopback address to all of them;
        # sharing the port lets both bind, and the more specific address keeps its own.
        self.m_hNtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.m_hNtp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.m_hNtp.bind((address, NTP_PORT))
        self.m_hNtp.setblocking(False)
        self.m_hKe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.m_hKe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.m_hKe.bind((address, KE_PORT))
        self.m_hKe.listen(16)
        self.m_hKe.setblocking(False)
        WriteWhole(self.m_strCountPath, "0\n")

    def CountConnection(self):
        self.m_nConnections += 1
        WriteWhole(self.m_strCountPath, "%d\n" % self.m_nConnections)

    def DropsReplies(self):
        return os.path.exists(self.m_strDropPath)


class CFlow:
    """One NTP client's port: its own upstream socket, so that replies find their way back."""

    def __init__(self, relay, client, upstream):
        self.m_relay = relay
        self.m_client = client
        self.m_hUpstream = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.m_hUpstream.bind((relay.m_strAddress, 0))
        self.m_hUpstream.connect((upstream, NTP_PORT))
        self.m_hUpstream.setblocking(False)
        self.m_fLastUsed = time.monotonic()


def PumpConnection(client, upstream, source, slots):
    try:
        client.settimeout(IDLE_SECONDS)
        server = socket.create_connection((upstream, KE_PORT), timeout=IDLE_SECONDS,
                                          source_address=(source, 0))
        with client, server:
            reading = {client: server, server: client}
            while reading:
                ready, _, _ = select.select(list(reading), [], [], IDLE_SECONDS)
                if not ready:
                    return
                for end in ready:
                    other = reading[end]
                    data = end.recv(BUFFER)
                    if data:
                        other.sendall(data)
                    else:
                        # Pass the half-close on: TLS ends with close_notify on either side.
                        del reading[end]
                        other.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    finally:
        client.close()
        slots.release()


class CRelay:
    def __init__(self, upstream, relays):
        self.m_strUpstream = upstream
        self.m_relays = relays
        self.m_flows = {}
        self.m_slots = threading.BoundedSemaphore(MAX_CONNECTIONS)
        self.m_selector = selectors.DefaultSelector()
        for relay in relays:
            self.m_selector.register(relay.m_hNtp, selectors.EVENT_READ, ("ntp", relay))
            self.m_selector.register(relay.m_hKe, selectors.EVENT_READ, ("ke", relay))

    def Run(self):
        while True:
            for key, _ in self.m_selector.select(timeout=1.0):
                kind, item = key.data
                try:
                    if kind == "ntp":
                        self.OnRequest(item)
                    elif kind == "reply":
                        self.OnReply(item)
                    else:
                        self.OnConnection(item)
                except (BlockingIOError, InterruptedError):
                    pass
                except OSError as error:
                    # A client gone (ICMP error on its port) ends its flow, not the relay.
                    print("nts_relay: %s: %s" % (kind, error), file=sys.stderr)
                    if kind == "reply":
                        self.Forget(item)
            self.ExpireFlows()

    def OnRequest(self, relay):
        request, client = relay.m_hNtp.recvfrom(BUFFER)
        key = (relay.m_strAddress, client)
        flow = self.m_flows.get(key)
        if flow is None:
            if len(self.m_flows) >= MAX_FLOWS:
                self.Forget(min(self.m_flows.values(), key=lambda f: f.m_fLastUsed))
            flow = CFlow(relay, client, self.m_strUpstream)
            self.m_flows[key] = flow
            self.m_selector.register(flow.m_hUpstream, selectors.EVENT_READ, ("reply", flow))
        flow.m_fLastUsed = time.monotonic()
        flow.m_hUpstream.send(request)

    def OnReply(self, flow):
        reply = flow.m_hUpstream.recv(BUFFER)
        flow.m_fLastUsed = time.monotonic()
        relay = flow.m_relay
        if relay.DropsReplies():
            return
        relay.m_hNtp.sendto(Alter(relay.m_strMode, reply), flow.m_client)

    def OnConnection(self, relay):
        client, _ = relay.m_hKe.accept()
        relay.CountConnection()
        if not self.m_slots.acquire(blocking=False):
            client.close()
            return
        client.setblocking(True)
        threading.Thread(target=PumpConnection, daemon=True,
                         args=(client, self.m_strUpstream, relay.m_strAddress,
                               self.m_slots)).start()

    def Forget(self, flow):
        key = (flow.m_relay.m_strAddress, flow.m_client)
        if self.m_flows.get(key) is flow:
            del self.m_flows[key]
            self.m_selector.unregister(flow.m_hUpstream)
            flow.m_hUpstream.close()

    def ExpireFlows(self):
        now = time.monotonic()
        for flow in [f for f in self.m_flows.values() if now - f.m_fLastUsed > IDLE_SECONDS]:
            self.Forget(flow)


def Main(arguments):
    if len(arguments) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    state, upstream = arguments[0], arguments[1]
    os.makedirs(state, exist_ok=True)
    relays = []
    for item in arguments[2:]:
        address, _, mode = item.partition("=")
        if mode not in MODES:
            print("nts_relay: %s: the mode is one of %s" % (item, ", ".join(MODES)),
                  file=sys.stderr)
            return 2
        relays.append(CRelayAddress(state, address, mode))
    CRelay(upstream, relays).Run()
    return 0


if __name__ == "__main__":
    sys.exit(Main(sys.argv[1:]))
