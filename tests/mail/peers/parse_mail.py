#!/usr/bin/python3
"""Reads one mail file with Python's email package and writes what it finds.

parse_mail.py MAILFILE OUTDIR writes OUTDIR/summary.txt:
  header <Name>: <decoded value>        for From, To, Cc, Subject, Date, X-Mailer
  defects <n>                           parser defects of the whole message
  part <i> <content-type> <filename or -> <charset or -> <transfer-encoding or ->
for every leaf part in order, and OUTDIR/part<i>.bin with the decoded bytes of
that part (text parts as their text in UTF-8).
"""
import email
import email.policy
import os
import sys


def main():
    path, out = sys.argv[1], sys.argv[2]
    with open(path, "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=email.policy.default)
    lines = []
    for name in ("From", "To", "Cc", "Subject", "Date", "X-Mailer"):
        value = msg.get(name)
        if value is not None:
            lines.append("header %s: %s" % (name, str(value)))
    defects = list(msg.defects)
    index = 0
    for part in msg.walk():
        defects += list(part.defects)
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        if part.get_content_maintype() == "text":
            payload = part.get_content().encode("utf-8")
        lines.append("part %d %s %s %s %s" % (
            index, part.get_content_type(), part.get_filename() or "-",
            part.get_param("charset") or "-", part.get("Content-Transfer-Encoding", "-")))
        with open(os.path.join(out, "part%d.bin" % index), "wb") as f:
            f.write(payload)
        index += 1
    lines.append("defects %d" % len(defects))
    for d in defects:
        lines.append("defect %s" % type(d).__name__)
    with open(os.path.join(out, "summary.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
