#!/usr/bin/env python3
"""An OAuth 2.0 identity provider of the tests' own, on loopback.

Listens on a free port of 127.0.0.1 (over TLS with --cert and --key), prints
"PORT <n>" when ready and stops when its standard input closes. Endpoints:
  POST /device      RFC 8628 device authorization (verification_uri /verify)
  POST /token       grants device_code, refresh_token (rotated on every use),
                    client_credentials and authorization_code (PKCE S256;
                    with the scope openid it adds an unsigned id_token
                    naming the user as preferred_username)
  GET  /authorize   approves at once: 302 to redirect_uri with code and state
  POST /introspect  RFC 7662, for Dovecot's oauth2 passdb (active, username)
  POST /control     the tests' levers, form fields:
                      set=<name> value=<v>  lifetime, interval, device_expires,
                                            pending_polls, slow_down_polls
                                            (comma list of poll numbers),
                                            outcome (grant, access_denied,
                                            expired_token), user
                      revoke=1              every token issued so far is void
                      expire_access=1       every access token issued so far is void
                    answers the counters and every token issued, as JSON.
Clients: "kestrel-test" (public), "kestrel-app" with secret "app-secret".
"""
import argparse
import base64
import hashlib
import json
import secrets
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CLIENTS = {"kestrel-test": None, "kestrel-app": "app-secret"}

lock = threading.Lock()
config = {"lifetime": 3600, "interval": 1, "device_expires": 120, "pending_polls": 1,
          "slow_down_polls": "", "outcome": "grant", "user": "fax@kestrel.test"}
counts = {"device_polls": 0, "refreshes": 0, "client_grants": 0, "code_grants": 0, "introspections": 0}
devices = {}         # device_code -> polls so far
codes = {}           # authorization code -> (client, redirect_uri, challenge, scope)
refresh_tokens = {}  # refresh token -> user, while valid
access_tokens = {}   # access token -> (user, expiry)
issued = []          # every token handed out, for the tests to look for


def b64url(data):
    return base64.urlsafe_b64encode(json.dumps(data).encode()).rstrip(b"=").decode()


def issue(user, with_refresh=True, openid=False):
    access = "at-" + secrets.token_urlsafe(24)
    access_tokens[access] = (user, time.time() + int(config["lifetime"]))
    issued.append(access)
    reply = {"access_token": access, "token_type": "Bearer", "expires_in": int(config["lifetime"])}
    if with_refresh:
        refresh = "rt-" + secrets.token_urlsafe(24)
        refresh_tokens[refresh] = user
        issued.append(refresh)
        reply["refresh_token"] = refresh
    if openid:
        reply["id_token"] = b64url({"alg": "none"}) + "." + b64url({"sub": user, "preferred_username": user}) + "."
    return reply


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        data = json.dumps(body).encode()
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def error(self, word, status=400):
        self.reply(status, {"error": word, "error_description": "the test IdP says " + word})

    def form(self):
        length = int(self.headers.get("Content-Length", "0"))
        fields = urllib.parse.parse_qs(self.rfile.read(length).decode(), keep_blank_values=True)
        return {k: v[0] for k, v in fields.items()}

    def client_ok(self, f, need_secret=False):
        client = f.get("client_id")
        if client not in CLIENTS:
            return False
        secret = CLIENTS[client]
        if secret is None:
            return not need_secret
        return f.get("client_secret") == secret

    def do_GET(self):
        url = urllib.parse.urlparse(self.path)
        if url.path != "/authorize":
            return self.error("not_found", 404)
        q = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        with lock:
            redirect = q.get("redirect_uri", "")
            if q.get("client_id") not in CLIENTS or not redirect.startswith("http://127.0.0.1:"):
                return self.error("invalid_request")
            if q.get("code_challenge_method") != "S256" or not q.get("code_challenge"):
                return self.error("invalid_request")
            if config["outcome"] != "grant":
                target = redirect + "?" + urllib.parse.urlencode({"error": config["outcome"], "state": q.get("state", "")})
            else:
                code = "code-" + secrets.token_urlsafe(16)
                codes[code] = (q["client_id"], redirect, q["code_challenge"], q.get("scope", ""))
                target = redirect + "?" + urllib.parse.urlencode({"code": code, "state": q.get("state", "")})
        self.send_response(302)
        self.send_header("Location", target)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        f = self.form()
        with lock:
            if self.path == "/device":
                if not self.client_ok(f):
                    return self.error("invalid_client", 401)
                device = "dc-" + secrets.token_urlsafe(16)
                devices[device] = 0
                host, port = self.server.server_address[:2]
                scheme = "https" if self.server.tls else "http"
                return self.reply(200, {"device_code": device, "user_code": "KEST-" + str(len(devices)),
                                        "verification_uri": "%s://%s:%d/verify" % (scheme, host, port),
                                        "expires_in": int(config["device_expires"]),
                                        "interval": int(config["interval"])})
            if self.path == "/token":
                return self.token(f)
            if self.path == "/introspect":
                counts["introspections"] += 1
                held = access_tokens.get(f.get("token", ""))
                if not held or held[1] < time.time():
                    return self.reply(200, {"active": False})
                return self.reply(200, {"active": True, "username": held[0], "exp": int(held[1])})
            if self.path == "/control":
                if "set" in f:
                    config[f["set"]] = f.get("value", "")
                if f.get("revoke"):
                    refresh_tokens.clear()
                if f.get("revoke") or f.get("expire_access"):
                    access_tokens.clear()
                return self.reply(200, dict(counts, issued=issued))
        return self.error("not_found", 404)

    def token(self, f):
        grant = f.get("grant_type")
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            if not self.client_ok(f) or f.get("device_code") not in devices:
                return self.error("invalid_grant")
            counts["device_polls"] += 1
            devices[f["device_code"]] += 1
            polls = devices[f["device_code"]]
            if str(polls) in config["slow_down_polls"].split(","):
                return self.error("slow_down")
            if polls <= int(config["pending_polls"]):
                return self.error("authorization_pending")
            if config["outcome"] != "grant":
                return self.error(config["outcome"])
            del devices[f["device_code"]]
            return self.reply(200, issue(config["user"]))
        if grant == "refresh_token":
            counts["refreshes"] += 1
            user = refresh_tokens.pop(f.get("refresh_token", ""), None)
            if not self.client_ok(f) or user is None:
                return self.error("invalid_grant")
            return self.reply(200, issue(user))
        if grant == "client_credentials":
            counts["client_grants"] += 1
            if not self.client_ok(f, need_secret=True):
                return self.error("invalid_client", 401)
            return self.reply(200, issue(config["user"], with_refresh=False))
        if grant == "authorization_code":
            counts["code_grants"] += 1
            held = codes.pop(f.get("code", ""), None)
            if not held or held[0] != f.get("client_id") or held[1] != f.get("redirect_uri"):
                return self.error("invalid_grant")
            digest = hashlib.sha256(f.get("code_verifier", "").encode()).digest()
            if base64.urlsafe_b64encode(digest).rstrip(b"=").decode() != held[2]:
                return self.error("invalid_grant")
            return self.reply(200, issue(config["user"], openid="openid" in held[3].split()))
        return self.error("unsupported_grant_type")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.tls = bool(args.cert)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    sys.stdin.buffer.read()
    server.shutdown()


if __name__ == "__main__":
    main()
