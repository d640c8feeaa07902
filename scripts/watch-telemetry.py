#!/usr/bin/env python3
"""Prints PelagrinHelper's newest telemetry line, once per line it sends, as a client app should
read them: it backs off while no helper runs or the helper is full, reconnects when dropped,
and after a pause drains what queued up and keeps only the newest line. What it meets goes to
stderr. docs/CLIENTS.md explains each rule."""

import argparse, select, socket, sys, time

ADDRESS = ("127.0.0.1", 27830)
FIRST_LINE_S = (
    5.0  # a line every 2 s plus the readings: the first came 1.0 to 1.9 s after connecting
)
STALLED_S = 10.0  # five cycles without a line: a stalled helper, or a machine that slept
BACKOFF_S = (1.0, 30.0)  # the first wait before reconnecting, doubled up to the last


def drain(sock):
    """Every byte already here, and whether the helper closed the connection."""
    data = b""
    while True:
        try:
            chunk = sock.recv(65536)
        except BlockingIOError:
            return data, False
        if not chunk:
            return data, True
        data += chunk


def one_connection(show):
    """Hands each newest line to `show` until the connection ends; returns why it ended and
    whether any line came."""
    try:
        sock = socket.create_connection(ADDRESS, timeout=FIRST_LINE_S)
    except ConnectionRefusedError:
        return "refused: no helper runs", False
    except OSError as error:
        return f"cannot connect: {error}", False
    served, pending = False, b""
    with sock:
        sock.setblocking(False)
        while True:
            if not select.select([sock], [], [], STALLED_S if served else FIRST_LINE_S)[0]:
                return "no line in time: the helper stalled, or the machine slept", served
            try:
                data, closed = drain(sock)
            except ConnectionResetError:
                return "reset: the helper dropped this client as a slow reader", served
            *lines, pending = (pending + data).split(b"\n")
            if lines:
                served = True
                show(lines[-1].decode("ascii"))
            if closed and served:
                return "end of file: the helper went away", served
            if closed:
                return (
                    "end of file before any line: the helper serves four clients, or went away",
                    served,
                )


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--count", type=int, help="stop after this many lines (default: never)")
    count = parser.parse_args().count
    shown = 0

    def show(line):
        nonlocal shown
        print(line, flush=True)
        shown += 1
        if shown == count:
            sys.exit(0)

    wait = BACKOFF_S[0]
    while True:
        why, served = one_connection(show)
        wait = BACKOFF_S[0] if served else wait
        print(f"watch-telemetry: {why}; trying again in {wait:.0f} s", file=sys.stderr, flush=True)
        time.sleep(wait)
        wait = min(wait * 2, BACKOFF_S[1])


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
