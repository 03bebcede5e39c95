#!/usr/bin/env python3
"""A minimal SIP caller over UDP for the SIP line's tests (not the stack the
line uses): sends one INVITE with a G.711 (or T.38) offer, prints each final
answer as "STATUS <code>" and the 200's SDP as "SDP <line>" lines, ACKs it,
and then, as asked, sends a re-INVITE to T.38 and a BYE in the dialog, or
waits for the callee's BYE (printed as "BYE", answered 200).
Malformed datagrams can be sent first (--garbage N to --garbage-to)."""
import argparse
import random
import socket
import sys


def parse(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("utf-8", "replace").split("\r\n")
    headers = []
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.append((name.strip().lower(), value.strip()))
    return lines[0], headers, body.decode("utf-8", "replace")


def header(headers, name):
    return [v for n, v in headers if n == name]


class Dialog:
    def __init__(self, args):
        self.args = args
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((args.bind, 0))
        self.sock.settimeout(10)
        self.local = "%s:%d" % self.sock.getsockname()
        host, port = args.target.rsplit(":", 1)
        self.target = (host, int(port))
        self.call_id = "%08x@kestrel-test" % random.getrandbits(32)
        self.tag = "%06x" % random.getrandbits(24)
        self.cseq = 1
        self.remote_tag = ""
        self.route = []
        self.remote_target = args.ruri

    def sdp(self, image):
        ip = self.args.bind
        media = "m=image 4002 udptl t38\r\n" if image else "m=audio 4000 RTP/AVP %s\r\n" % self.args.codecs
        return "v=0\r\no=- 1 1 IN IP4 %s\r\ns=-\r\nc=IN IP4 %s\r\nt=0 0\r\n%s" % (ip, ip, media)

    def request(self, method, uri, body="", extra="", branch=None):
        branch = branch or "z9hG4bK%08x" % random.getrandbits(32)
        to_tag = ";tag=" + self.remote_tag if self.remote_tag else ""
        lines = [
            "%s %s SIP/2.0" % (method, uri),
            "Via: SIP/2.0/UDP %s;branch=%s;rport" % (self.local, branch),
            "Max-Forwards: 70",
            "From: <%s>;tag=%s" % (self.args.from_uri, self.tag),
            "To: <%s>%s" % (self.args.to_uri, to_tag),
            "Call-ID: " + self.call_id,
            "CSeq: %d %s" % (self.cseq, method),
            "Contact: <sip:caller@%s>" % self.local,
        ]
        lines += ["Route: " + r for r in self.route]
        if extra:
            lines.append(extra)
        if body:
            lines.append("Content-Type: application/sdp")
        lines.append("Content-Length: %d" % len(body.encode()))
        self.sock.sendto(("\r\n".join(lines) + "\r\n\r\n" + body).encode(), self.target)
        return branch

    def final(self, method):
        while True:
            data, _ = self.sock.recvfrom(65535)
            start, headers, body = parse(data)
            if not start.startswith("SIP/2.0 "):
                continue
            code = int(start.split()[1])
            if code < 200 or not header(headers, "cseq")[0].endswith(method):
                continue
            return code, headers, body

    def invite(self, image=False):
        extra = []
        for name, value in (("P-Asserted-Identity", self.args.pai), ("P-Called-Party-ID", self.args.pcpi),
                            ("Privacy", self.args.privacy)):
            if value:
                extra.append("%s: %s" % (name, value))
        branch = self.request("INVITE", self.remote_target, self.sdp(image), "\r\n".join(extra))
        code, headers, body = self.final("INVITE")
        print("STATUS %d" % code, flush=True)
        if code >= 300:
            # The ACK of a refusal belongs to the INVITE's transaction.
            to = header(headers, "to")[0]
            self.remote_tag = to.partition(";tag=")[2].split(";")[0]
            self.request("ACK", self.remote_target, branch=branch)
            return code
        for line in body.splitlines():
            print("SDP " + line, flush=True)
        if not self.remote_tag:
            to = header(headers, "to")[0]
            self.remote_tag = to.partition(";tag=")[2].split(";")[0]
            self.route = list(reversed(header(headers, "record-route")))
            contact = header(headers, "contact")[0]
            self.remote_target = contact[contact.find("<") + 1:contact.find(">")] if "<" in contact else contact
        self.request("ACK", self.remote_target)
        return code


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--target", required=True, help="host:port the INVITE goes to")
    p.add_argument("--bind", default="127.0.0.1")
    p.add_argument("--ruri", required=True)
    p.add_argument("--to-uri", required=True)
    p.add_argument("--from-uri", default="sip:+4930555123@127.0.0.9")
    p.add_argument("--pai", default="")
    p.add_argument("--pcpi", default="")
    p.add_argument("--privacy", default="")
    p.add_argument("--codecs", default="8 0")
    p.add_argument("--reinvite-t38", action="store_true")
    p.add_argument("--bye", action="store_true")
    p.add_argument("--await-bye", action="store_true")
    p.add_argument("--options", action="store_true", help="only an OPTIONS, its answer's Allow and Accept printed")
    p.add_argument("--garbage", type=int, default=0)
    p.add_argument("--garbage-to", default="")
    args = p.parse_args()

    if args.garbage:
        host, port = args.garbage_to.rsplit(":", 1)
        rnd = random.Random(7)
        junk = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        starts = [b"INVITE sip:x SIP/2.0\r\nVia: SIP/2.0/UDP", b"SIP/2.0 200", b"\x00\xff", b"BYE \r\n\r\n",
                  b"INVITE sip:a@b SIP/2.0\r\nContent-Length: 99999\r\n\r\nv=0"]
        for i in range(args.garbage):
            noise = bytes(rnd.getrandbits(8) for _ in range(rnd.randrange(0, 600)))
            junk.sendto(starts[i % len(starts)] + noise, (host, int(port)))

    d = Dialog(args)
    if args.options:
        d.request("OPTIONS", args.ruri)
        code, headers, _ = d.final("OPTIONS")
        print("STATUS %d" % code, flush=True)
        for name in ("allow", "accept"):
            for value in header(headers, name):
                print("%s: %s" % (name.upper(), value), flush=True)
        return 0
    code = d.invite()
    if code == 200 and args.reinvite_t38:
        d.cseq += 1
        d.invite(image=True)
    if code == 200 and args.bye:
        d.cseq += 1
        d.request("BYE", d.remote_target)
        print("STATUS %d" % d.final("BYE")[0], flush=True)
    if code == 200 and args.await_bye:
        while True:
            data, source = d.sock.recvfrom(65535)
            start, headers, _ = parse(data)
            if not start.startswith("BYE "):
                continue
            reply = ["SIP/2.0 200 OK"] + ["%s: %s" % (n, v) for n, v in headers
                                          if n in ("via", "from", "to", "call-id", "cseq")]
            d.sock.sendto(("\r\n".join(reply) + "\r\nContent-Length: 0\r\n\r\n").encode(), source)
            print("BYE", flush=True)
            break
    return 0


if __name__ == "__main__":
    sys.exit(main())
