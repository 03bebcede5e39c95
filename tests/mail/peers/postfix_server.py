#!/usr/bin/python3
"""A private Postfix 3.7 with Dovecot SASL on loopback ports, for Kestrel's tests.

Makes everything in --dir (which must be searchable by other users): a test
PKI (test_pki.py), Dovecot's auth service with a passwd-file holding --user
and --password (PLAIN, LOGIN and CRAM-MD5), and Postfix delivering mail for
@kestrel.test (fax, anna, dora) into the Maildir DIR/mail/kestrel.test/<local
part>/; bea@kestrel.test is refused at RCPT with 550, carl@kestrel.test with
450, and a message with the subject "Refused for good" with 550 at the end
of its data (a header check). Prints one
line "READY name=port ..." when every listener answers, and stops both
servers when its standard input closes (the test ends or dies).

Listeners (each logs under postfix/<name> in DIR/maillog):
  submission  STARTTLS required, AUTH only after it (smtpd_tls_auth_only)
  smtps       TLS from the first byte (wrapper mode)
  expired     like submission, with an expired certificate
  wrongname   like submission, with a certificate for mail.example.invalid
  plain       no STARTTLS offered at all, AUTH in clear
  oauthbearer (with --oauth-introspect) like submission, offering only OAUTHBEARER
Mail to kestrel.test is taken without login; other domains need a login.
With --oauth-introspect URL Dovecot also takes XOAUTH2 and OAUTHBEARER and
checks each token at URL (RFC 7662), comparing its username with the login's.
"""
import argparse
import os
import pwd
import grp
import signal
import socket
import subprocess
import sys
import time

from test_pki import make_pki

LISTENERS = [
    ("submission", "good", ["smtpd_tls_security_level=encrypt", "smtpd_tls_auth_only=yes"]),
    ("smtps", "good", ["smtpd_tls_wrappermode=yes"]),
    ("expired", "expired", ["smtpd_tls_security_level=encrypt", "smtpd_tls_auth_only=yes"]),
    ("wrongname", "wrong", ["smtpd_tls_security_level=encrypt", "smtpd_tls_auth_only=yes"]),
    ("plain", "good", ["smtpd_tls_security_level=none"]),
]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--oauth-introspect", default="")
    args = parser.parse_args()
    listeners = list(LISTENERS)
    if args.oauth_introspect:
        listeners.append(("oauthbearer", "good", ["smtpd_tls_security_level=encrypt", "smtpd_tls_auth_only=yes",
                                                  "smtpd_sasl_mechanism_filter=oauthbearer"]))
    d = os.path.abspath(args.dir)
    os.chmod(d, 0o755)
    pki = os.path.join(d, "pki")
    make_pki(pki)
    os.chmod(pki, 0o755)
    for name in os.listdir(pki):
        os.chmod(os.path.join(pki, name), 0o644)
    nobody = pwd.getpwnam("nobody")
    postfix = pwd.getpwnam("postfix")

    # Dovecot: only its auth service, on a socket Postfix may use.
    dv = os.path.join(d, "dovecot")
    for sub in ("", "run", "state"):
        os.makedirs(os.path.join(dv, sub), exist_ok=True)
    os.chmod(dv, 0o755)
    write(os.path.join(dv, "users"), "%s:{PLAIN}%s\n" % (args.user, args.password))
    auth_socket = os.path.join(dv, "auth-client")
    mechanisms = "plain login cram-md5"
    oauth_passdb = ""
    if args.oauth_introspect:
        mechanisms += " xoauth2 oauthbearer"
        write(os.path.join(dv, "oauth2.conf"), """
introspection_mode = post
introspection_url = {url}
username_attribute = username
active_attribute = active
active_value = true
""".format(url=args.oauth_introspect))
        oauth_passdb = """
passdb {{
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = {dv}/oauth2.conf
}}
""".format(dv=dv)
    write(os.path.join(dv, "dovecot.conf"), """
protocols = none
base_dir = {dv}/run
state_dir = {dv}/state
log_path = {d}/dovecot.log
ssl = no
disable_plaintext_auth = no
auth_mechanisms = {mechanisms}
passdb {{
  driver = passwd-file
  args = {dv}/users
}}
{oauth_passdb}
userdb {{
  driver = static
  args = uid=nobody gid=nogroup home=/nonexistent allow_all_users=yes
}}
service auth {{
  unix_listener {sock} {{
    mode = 0660
    user = postfix
    group = postfix
  }}
}}
""".format(dv=dv, d=d, sock=auth_socket, mechanisms=mechanisms, oauth_passdb=oauth_passdb))

    # Postfix: a config folder, queue and data of its own.
    pf = os.path.join(d, "postfix")
    os.makedirs(pf, exist_ok=True)
    data = os.path.join(d, "data")
    os.makedirs(data, exist_ok=True)
    os.chown(data, postfix.pw_uid, postfix.pw_gid)
    mail = os.path.join(d, "mail")
    os.makedirs(mail, exist_ok=True)
    os.chown(mail, nobody.pw_uid, nobody.pw_gid)
    write(os.path.join(d, "vmailbox"),
          "".join("%s@kestrel.test kestrel.test/%s/\n" % (box, box) for box in ("fax", "anna", "dora")))
    write(os.path.join(d, "recipient_access"),
          "bea@kestrel.test 550 5.1.1 Bea has left\ncarl@kestrel.test 450 4.2.1 Carl is busy\n")
    write(os.path.join(d, "header_checks"), "/^Subject: Refused for good$/ REJECT 5.7.1 Not this one\n")
    maillog = os.path.join(d, "maillog")
    write(os.path.join(pf, "main.cf"), """
compatibility_level = 3.6
queue_directory = {d}/queue
data_directory = {data}
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = mta.kestrel.test
mydestination =
local_recipient_maps =
alias_maps =
alias_database =
maillog_file = {maillog}
maillog_file_prefixes = {d}
smtputf8_enable = no
virtual_mailbox_domains = kestrel.test
virtual_mailbox_base = {mail}
virtual_mailbox_maps = texthash:{d}/vmailbox
virtual_uid_maps = static:{uid}
virtual_gid_maps = static:{gid}
smtpd_tls_chain_files = {pki}/good.key, {pki}/good-chain.pem
smtpd_tls_security_level = may
smtpd_tls_loglevel = 1
smtpd_tls_received_header = yes
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = dovecot
smtpd_sasl_path = {sock}
smtpd_sasl_authenticated_header = yes
smtpd_relay_restrictions = permit_sasl_authenticated, reject_unauth_destination
smtpd_recipient_restrictions = check_recipient_access texthash:{d}/recipient_access
header_checks = regexp:{d}/header_checks
""".format(d=d, data=data, maillog=maillog, mail=mail, uid=nobody.pw_uid, gid=nobody.pw_gid, pki=pki,
           sock=auth_socket))
    ports = {}
    lines = []
    for name, leaf, options in listeners:
        ports[name] = free_port()
        opts = " ".join("-o " + o for o in ["syslog_name=postfix/" + name,
                                             "smtpd_tls_chain_files=%s/%s.key,%s/%s-chain.pem" % (pki, leaf, pki, leaf)]
                        + options)
        lines.append("127.0.0.1:%d inet n - n - - smtpd %s" % (ports[name], opts))
    write(os.path.join(pf, "master.cf"), "\n".join(lines) + """
cleanup   unix  n - n - 0 cleanup
qmgr      unix  n - n 300 1 qmgr
tlsmgr    unix  - - n 1000? 1 tlsmgr
rewrite   unix  - - n - - trivial-rewrite
bounce    unix  - - n - 0 bounce
defer     unix  - - n - 0 bounce
trace     unix  - - n - 0 bounce
verify    unix  - - n - 1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n - - proxymap
smtp      unix  - - n - - smtp
relay     unix  - - n - - smtp
error     unix  - - n - - error
retry     unix  - - n - - error
discard   unix  - - n - - discard
local     unix  - n n - - local
virtual   unix  - n n - - virtual
anvil     unix  - - n - 1 anvil
scache    unix  - - n - 1 scache
postlog   unix-dgram n - n - 1 postlogd
""")
    os.makedirs(os.path.join(d, "queue"), exist_ok=True)
    subprocess.run(["/usr/sbin/postfix", "-c", pf, "check"], check=True, stdout=sys.stderr, stderr=sys.stderr)
    children = []
    try:
        children.append(subprocess.Popen(["/usr/sbin/dovecot", "-c", os.path.join(dv, "dovecot.conf"), "-F"],
                                         start_new_session=True, stdout=sys.stderr, stderr=sys.stderr))
        children.append(subprocess.Popen(["/usr/lib/postfix/sbin/master", "-c", pf, "-d"],
                                         start_new_session=True, stdout=sys.stderr, stderr=sys.stderr))
        deadline = time.monotonic() + 30
        waiting = set(ports.values())
        while waiting and time.monotonic() < deadline:
            for port in list(waiting):
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    waiting.discard(port)
                except OSError:
                    pass
            if waiting:
                time.sleep(0.1)
        while not os.path.exists(auth_socket) and time.monotonic() < deadline:
            time.sleep(0.1)
        if waiting or not os.path.exists(auth_socket):
            print("FAILED listeners did not come up", flush=True)
            return 1
        print("READY " + " ".join("%s=%d" % kv for kv in ports.items()), flush=True)
        sys.stdin.buffer.read()
    finally:
        for child in children:
            try:
                os.killpg(child.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for child in children:
            try:
                child.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
