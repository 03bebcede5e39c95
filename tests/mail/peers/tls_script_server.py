#!/usr/bin/python3
"""A scripted SMTP server over TLS (Python's ssl module) for what aiosmtpd
will not do on demand. Serves one connection on a free loopback port; prints
"PORT <n>" when listening and ends when its standard input closes.

--mode split       TLS from the first byte; the greeting, the EHLO reply and
                   the QUIT reply each sent a few bytes per TLS record
--mode drop        reads the client's first handshake record, then closes
--mode close       after the handshake, half a greeting, then close_notify
--mode trickle     after the handshake, the greeting one byte every 200 ms for
                   as long as the client stays; --mark FILE is created once
                   the first byte is out
"""
import argparse
import os
import socket
import ssl
import sys
import threading
import time


def records(conn, data, size):
    for i in range(0, len(data), size):
        conn.sendall(data[i:i + size])


def read_line(conn):
    line = b""
    while not line.endswith(b"\r\n"):
        chunk = conn.recv(1)
        if not chunk:
            break
        line += chunk
    return line


def serve(listener, args):
    raw, _ = listener.accept()
    raw.settimeout(30)
    if args.mode == "drop":
        # The whole ClientHello record is read, so that the close is a clean
        # end of the stream, not a reset.
        header = b""
        while len(header) < 5:
            header += raw.recv(5 - len(header)) or b"x" * 5
        left = int.from_bytes(header[3:5], "big")
        while left > 0:
            chunk = raw.recv(left)
            if not chunk:
                break
            left -= len(chunk)
        raw.close()
        return
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    try:
        conn = context.wrap_socket(raw, server_side=True)
    except (ssl.SSLError, OSError):
        return
    try:
        if args.mode == "split":
            records(conn, b"220 kestrel.test ESMTP\r\n", 1)
            read_line(conn)
            records(conn, b"250-kestrel.test\r\n250-PIPELINING\r\n250 8BITMIME\r\n", 3)
            if read_line(conn).startswith(b"QUIT"):
                records(conn, b"221 bye\r\n", 2)
        elif args.mode == "close":
            conn.sendall(b"220-kestrel")
            conn.unwrap()
        elif args.mode == "trickle":
            for i, byte in enumerate(b"220 kestrel.test ESMTP" * 1000):
                conn.sendall(bytes([byte]))
                if i == 0:
                    open(args.mark, "w").close()
                time.sleep(0.2)
    except (ssl.SSLError, OSError):
        pass
    finally:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", required=True, choices=["split", "drop", "close", "trickle"])
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--mark", default="")
    args = parser.parse_args()
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    threading.Thread(target=serve, args=(listener, args), daemon=True).start()
    sys.stdin.buffer.read()


if __name__ == "__main__":
    main()
