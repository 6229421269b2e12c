#!/usr/bin/env python3
"""Loopback servers for the timestamp client's tests.

  tsa_server.py tsa DIR [--ts-config CNF] [--status N] [--type T|--no-type]
                        [--close-early] [--too-much]
      A timestamp authority: each POST's raw bytes are saved as DIR/request-N,
      its body answered with the reply of `openssl ts -reply`.
  tsa_server.py https DIR --cert PEM --key KEY [tsa options] [--client-ca PEM]
      The same authority for one connection, behind `openssl s_server`
      (which asks for a client certificate from --client-ca when given).
  tsa_server.py proxy DIR
      A proxy: CONNECT host:port tunnels, an absolute request target is
      forwarded; each first line is saved as DIR/proxy-N.

Prints the port on the first line of standard output, serves until standard
input closes and answers on 127.0.0.1 only.  There is no idle time-out: a
test on a busy machine may ask long after the start, and the server still
ends with the test, whose end closes the pipe of its standard input.
"""
import argparse
import os
import socket
import subprocess
import sys
import threading
import time


def read_request(recv):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = recv(65536)
        if not chunk:
            return data, b""
        data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    while len(body) < length:
        chunk = recv(65536)
        if not chunk:
            break
        body += chunk
    return head + b"\r\n\r\n" + body, body


def serve_tsa(conn, n, args):
    answer(conn.recv, conn.sendall, n, args)


def answer(recv, send, n, args):
    raw, body = read_request(recv)
    with open(os.path.join(args.dir, f"request-{n}"), "wb") as f:
        f.write(raw)
    if args.close_early:
        send(b"HTTP/1.0 200 OK\r\nContent-Type: application/timestamp-reply\r\nContent-Length: 1000\r\n\r\n0123")
        return
    query = os.path.join(args.dir, f"query-{n}.tsq")
    reply = os.path.join(args.dir, f"reply-{n}.tsr")
    with open(query, "wb") as f:
        f.write(body)
    out = b"not a request"
    if args.ts_config:
        # A rejection is a reply too, though openssl reports it as a failure.
        subprocess.run(["openssl", "ts", "-reply", "-config", args.ts_config, "-queryfile", query, "-out", reply],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if os.path.exists(reply):
            with open(reply, "rb") as f:
                out = f.read()
    head = f"HTTP/1.0 {args.status} {'OK' if args.status == 200 else 'Refused'}\r\n"
    if not args.no_type:
        head += f"Content-Type: {args.type}\r\n"
    head += f"Content-Length: {len(out)}\r\n\r\n"
    send(head.encode() + out + (b"surplus" if args.too_much else b""))


def listening(port):
    with open("/proc/net/tcp") as f:
        return any(fields[1].endswith(":%04X" % port) and fields[3] == "0A"
                   for fields in (line.split() for line in f.readlines()[1:]))


def serve_https(args):
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    cmd = ["openssl", "s_server", "-quiet", "-naccept", "1", "-accept", f"127.0.0.1:{port}",
           "-cert", args.cert, "-key", args.key]
    if args.client_ca:
        cmd += ["-Verify", "1", "-CAfile", args.client_ca]
    server = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    # However long s_server takes to start on a busy machine: it is ready
    # once it listens, or has given up.
    while not listening(port) and server.poll() is None:
        time.sleep(0.01)
    print(port, flush=True)
    threading.Thread(target=lambda: (sys.stdin.read(), server.kill(), os._exit(0)), daemon=True).start()
    try:
        answer(lambda n: os.read(server.stdout.fileno(), n), server.stdin.write, 1, args)
        server.stdin.close()
    except OSError:
        pass
    server.wait()
    sys.stdin.read()


def pipe(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    finally:
        try:
            dst.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def serve_proxy(conn, n, args):
    data = b""
    while b"\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return
        data += chunk
    first = data.split(b"\r\n", 1)[0]
    with open(os.path.join(args.dir, f"proxy-{n}"), "wb") as f:
        f.write(first)
    method, target, _ = first.split(b" ", 2)
    if method == b"CONNECT":
        while b"\r\n\r\n" not in data:
            data += conn.recv(65536)
        host, _, port = target.decode().rpartition(":")
        upstream = socket.create_connection((host, int(port)))
        conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
        rest = data.split(b"\r\n\r\n", 1)[1]
    else:
        hostport = target.decode().split("://", 1)[1].split("/", 1)[0]
        host, _, port = hostport.partition(":")
        upstream = socket.create_connection((host, int(port or 80)))
        rest = data
    upstream.sendall(rest)
    back = threading.Thread(target=pipe, args=(upstream, conn))
    back.start()
    pipe(conn, upstream)
    back.join()
    upstream.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["tsa", "https", "proxy"])
    ap.add_argument("dir")
    ap.add_argument("--ts-config")
    ap.add_argument("--status", type=int, default=200)
    ap.add_argument("--type", default="application/timestamp-reply")
    ap.add_argument("--no-type", action="store_true")
    ap.add_argument("--close-early", action="store_true")
    ap.add_argument("--too-much", action="store_true")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--client-ca")
    args = ap.parse_args()
    if args.mode == "https":
        serve_https(args)
        return
    srv = socket.socket()
    srv.bind(("127.0.0.1", 0))
    srv.listen(16)
    print(srv.getsockname()[1], flush=True)
    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    handler = serve_tsa if args.mode == "tsa" else serve_proxy
    n = 0
    while True:
        conn, _ = srv.accept()
        n += 1

        def run(conn=conn, n=n):
            try:
                handler(conn, n, args)
            except OSError:
                pass
            finally:
                conn.close()
        threading.Thread(target=run, daemon=True).start()


if __name__ == "__main__":
    main()
