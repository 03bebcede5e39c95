#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) for Kestrel's mail tests.

Listens on a free loopback port, prints "PORT <n>" on standard output and
serves until its standard input closes (the test ends or dies). Every message
received is stored in --out as <n>.content (the bytes after DATA as the server
took them), <n>.from and <n>.rcpt (one recipient a line).

--port N listens on that port instead of a free one; --refuse-rcpt [CODE]
answers every RCPT with CODE (550 when not given); --refuse-data answers 554
to the end of every message's data and stores nothing; --drop-first-data
breaks the first connection that sends a message, after its data and before
the reply.

--auth none|login|login-user-name|cram|plain|login-plain offers no login, AUTH
LOGIN with the standard "Username:"/"Password:" prompts, AUTH LOGIN whose
first prompt is "User Name", CRAM-MD5, AUTH PLAIN, or the
clear-text "AUTH LOGIN PLAIN" dialogue, checked with --user and --password.

--tls starttls|implicit with --cert (leaf and chain) and --key offers STARTTLS
or speaks TLS from the first byte.
"""
import argparse
import asyncio
import base64
import hmac
import os
import secrets
import ssl
import sys
import threading

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword, auth_mechanism


class Handler:
    def __init__(self, args):
        self.args = args
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.args.refuse_rcpt:
            return "%d %s.1.1 Recipient refused" % (self.args.refuse_rcpt, str(self.args.refuse_rcpt)[0])
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.refuse_data:
            return "554 5.7.1 Message refused"
        if self.args.drop_first_data and not getattr(self, "dropped", False):
            # The connection breaks before the message is accepted: nothing is stored.
            self.dropped = True
            server.transport.abort()
            return "421 dropped"
        self.count += 1
        base = os.path.join(self.args.out, str(self.count))
        with open(base + ".content.tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".from", "w") as f:
            f.write(envelope.mail_from)
        with open(base + ".rcpt", "w") as f:
            f.write("".join(r + "\n" for r in envelope.rcpt_tos))
        os.rename(base + ".content.tmp", base + ".content")
        return "250 OK"

    def _check(self, user, password):
        return user == self.args.user.encode() and password == self.args.password.encode()

    async def _login(self, server, first_prompt):
        user = await server.challenge_auth(first_prompt)
        if user is None or not isinstance(user, bytes):
            return AuthResult(success=False, handled=False)
        password = await server.challenge_auth("Password:")
        if password is None or not isinstance(password, bytes):
            return AuthResult(success=False, handled=False)
        ok = self._check(user, password)
        return AuthResult(success=ok, handled=False, auth_data=LoginPassword(user, password))

    @auth_mechanism("CRAM-MD5")
    async def auth_CRAM_MD5(self, server, args):
        challenge = ("<%s.%d@kestrel.test>" % (secrets.token_hex(6), os.getpid())).encode()
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes) or b" " not in answer:
            return AuthResult(success=False, handled=False)
        user, digest = answer.rsplit(b" ", 1)
        expected = hmac.new(self.args.password.encode(), challenge, "md5").hexdigest().encode()
        ok = user == self.args.user.encode() and hmac.compare_digest(digest, expected)
        return AuthResult(success=ok, handled=False)


class LoginHandler(Handler):
    async def auth_LOGIN(self, server, args):
        return await self._login(server, "Username:")


class LoginPlainHandler(Handler):
    async def auth_LOGIN(self, server, args):
        # Clear-text prompts and answers, as some old servers spoke it.
        await server.push("334 Username:")
        user = (await server._reader.readline()).rstrip(b"\r\n")
        await server.push("334 Password:")
        password = (await server._reader.readline()).rstrip(b"\r\n")
        return AuthResult(success=self._check(user, password), handled=False)


class UserNameLoginHandler(Handler):
    async def auth_LOGIN(self, server, args):
        return await self._login(server, "User Name")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--auth", default="none", choices=["none", "login", "login-user-name", "cram", "plain", "login-plain"])
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--refuse-rcpt", type=int, nargs="?", const=550, default=0)
    parser.add_argument("--refuse-data", action="store_true")
    parser.add_argument("--drop-first-data", action="store_true")
    parser.add_argument("--tls", default="none", choices=["none", "starttls", "implicit"])
    parser.add_argument("--cert", default="")
    parser.add_argument("--key", default="")
    args = parser.parse_args()

    handler = {"login": LoginHandler, "login-user-name": UserNameLoginHandler,
               "login-plain": LoginPlainHandler}.get(args.auth, Handler)(args)
    offered = {"none": [], "cram": ["CRAM-MD5"], "plain": ["PLAIN"]}.get(args.auth, ["LOGIN"])
    excluded = [m for m in ["PLAIN", "LOGIN", "CRAM-MD5"] if m not in offered]
    context = None
    if args.tls != "none":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)

    def authenticator(server, session, envelope, mechanism, auth_data):
        return AuthResult(success=handler._check(auth_data.login, auth_data.password))

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def factory():
        return SMTP(handler, hostname="kestrel.test", auth_require_tls=False,
                    auth_exclude_mechanism=excluded, decode_data=False, authenticator=authenticator,
                    tls_context=context if args.tls == "starttls" else None)

    server = loop.run_until_complete(loop.create_server(
        factory, "127.0.0.1", args.port, reuse_address=True, ssl=context if args.tls == "implicit" else None))
    port = server.sockets[0].getsockname()[1]
    print("PORT %d" % port, flush=True)

    # The test holds our standard input; when it closes, we stop.
    def watch_stdin():
        sys.stdin.buffer.read()
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=watch_stdin, daemon=True).start()
    loop.run_forever()
    server.close()


if __name__ == "__main__":
    main()
