#!/usr/bin/env python3
"""A minimal SIP caller over UDP for the SIP line's tests (not the stack the
line uses): sends one INVITE with a G.711 (or, --offer-image, T.38) offer,
prints each final answer as "STATUS <code>" and the 200's SDP as "SDP <line>"
lines, ACKs it, and then, as asked and in this order: sends a re-INVITE to
T.38; answers the callee's re-INVITE (printed as "REINVITE" and its SDP as
"RSDP <line>" lines) with a code, after crossing it with a re-INVITE of its
own when told to; sends OPTIONS in the dialog and prints "READY" once it is
answered; sends a BYE; or waits for the callee's BYE (printed as "BYE",
answered 200; a re-INVITE meanwhile is printed and answered 488).
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
        self.version = 0

    def sdp(self, image, section=None):
        ip = self.args.bind
        if image:
            media = "".join(line + "\r\n" for line in (section or self.args.image_sdp).split("|"))
        else:
            media = "m=audio 4000 RTP/AVP %s\r\n" % self.args.codecs
        self.version += 1
        return "v=0\r\no=- 1 %d IN IP4 %s\r\ns=-\r\nc=IN IP4 %s\r\nt=0 0\r\n%s" % (self.version, ip, ip, media)

    def reply(self, headers, source, code, reason, body=""):
        keep = ("via", "from", "to", "call-id", "cseq", "record-route")
        to_tag = "" if any(n == "to" and "tag=" in v for n, v in headers) else ";tag=" + self.tag
        lines = ["SIP/2.0 %d %s" % (code, reason)]
        for n, v in headers:
            if n in keep:
                lines.append("%s: %s%s" % (n, v, to_tag if n == "to" else ""))
        lines.append("Contact: <sip:caller@%s>" % self.local)
        if body:
            lines.append("Content-Type: application/sdp")
        lines.append("Content-Length: %d" % len(body.encode()))
        self.sock.sendto(("\r\n".join(lines) + "\r\n\r\n" + body).encode(), source)

    def next_request(self, methods):
        """The next request of `methods`; any other request is answered 200, responses passed over."""
        while True:
            data, source = self.sock.recvfrom(65535)
            start, headers, body = parse(data)
            if start.startswith("SIP/2.0"):
                continue
            method = start.split()[0]
            if method in methods:
                return method, headers, body, source
            if method not in ("ACK",):
                self.reply(headers, source, 200, "OK")

    def answer_reinvite(self, code, cross):
        """Waits for the callee's re-INVITE and answers it `code` (200: T.38 from --answer-sdp);
        with `cross`, first sends our own re-INVITE into it, and again once ours is answered."""
        _, headers, body, source = self.next_request(("INVITE",))
        print("REINVITE", flush=True)
        for line in body.splitlines():
            print("RSDP " + line, flush=True)
        if cross:
            self.cseq += 1
            self.invite(image=True)
        answer = self.sdp(True, self.args.answer_sdp) if code == 200 else ""
        self.reply(headers, source, code, "OK" if code == 200 else "Refused", answer)
        if code == 200:
            self.next_request(("ACK",))
            print("ACK", flush=True)
        if cross:
            self.cseq += 1
            self.invite(image=True)

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
                # A request crossing ours waits: it comes again.
                continue
            code = int(start.split()[1])
            if code < 200 or not header(headers, "cseq")[0].endswith(method):
                continue
            return code, headers, body

    def invite(self, image=False, initial=False):
        extra = []
        for name, value in (("P-Asserted-Identity", self.args.pai), ("P-Called-Party-ID", self.args.pcpi),
                            ("Privacy", self.args.privacy)):
            if value:
                extra.append("%s: %s" % (name, value))
        if not initial:
            extra = []
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
    p.add_argument("--offer-image", action="store_true", help="the INVITE offers --image-sdp alone")
    p.add_argument("--image-sdp", default="m=image 4002 udptl t38", help="media lines, | between them")
    p.add_argument("--answer-sdp", default="m=image 4002 udptl t38|a=T38FaxVersion:0|a=T38MaxBitRate:14400|"
                   "a=T38FaxRateManagement:transferredTCF|a=T38FaxMaxDatagram:320|a=T38FaxUdpEC:t38UDPRedundancy")
    p.add_argument("--reinvite-t38", action="store_true")
    p.add_argument("--answer-reinvite", type=int, default=0, help="the code the callee's re-INVITE gets")
    p.add_argument("--cross", action="store_true", help="our re-INVITE crosses the callee's")
    p.add_argument("--options-in-dialog", action="store_true")
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
    code = d.invite(image=args.offer_image, initial=True)
    if code == 200 and args.reinvite_t38:
        d.cseq += 1
        d.invite(image=True)
    if code == 200 and args.answer_reinvite:
        d.answer_reinvite(args.answer_reinvite, args.cross)
    if code == 200 and args.options_in_dialog:
        d.cseq += 1
        d.request("OPTIONS", d.remote_target)
        d.final("OPTIONS")
        print("READY", flush=True)
    if code == 200 and args.bye:
        d.cseq += 1
        d.request("BYE", d.remote_target)
        print("STATUS %d" % d.final("BYE")[0], flush=True)
    if code == 200 and args.await_bye:
        while True:
            method, headers, _, source = d.next_request(("BYE", "INVITE"))
            if method == "INVITE":
                print("REINVITE", flush=True)
                d.reply(headers, source, 488, "Not Acceptable Here")
                continue
            d.reply(headers, source, 200, "OK")
            print("BYE", flush=True)
            break
    return 0


if __name__ == "__main__":
    sys.exit(main())
