#!/usr/bin/env python3
"""The manual pages kestreld(1) and kestrel-admin(1) against the programs' own
usage text (--help): the same options, and for kestrel-admin the same
commands and subcommands, so that neither falls behind the other.
Arguments: the man page folder, then PROGRAM=PATH pairs."""
import re
import subprocess
import sys

OPTION = re.compile(r"--[a-z][a-z-]*")


def commands_of_help(text):
    """'msn list|add NUMBER|...' -> {'msn list', 'msn add', ...}; 'status' -> {'status'}."""
    found = set()
    for line in text.split("\n\n")[1].splitlines():
        words = line.split()
        if not words or line.startswith("   "):
            continue  # a continued description
        command = words[0]
        # The usage part ends where the description begins (two spaces).
        usage = re.split(r"\s{2,}", line.strip())[0][len(command):]
        for alternative in usage.split("|"):
            rest = alternative.split()
            if rest and rest[0] == command:
                rest = rest[1:]
            found.add(command + (" " + rest[0] if rest and re.fullmatch(r"[a-z]+", rest[0]) else ""))
    return found


def commands_of_page(page):
    section = page.split("# COMMANDS")[1].split("\n# ")[0]
    found = set()
    for line in section.splitlines():
        bold = re.match(r"\*([a-z][a-z -]*)\*", line)
        if bold:
            words = bold.group(1).split()
            found.add(" ".join(words[:2]))
    return found


def main():
    folder, programs = sys.argv[1], dict(a.split("=", 1) for a in sys.argv[2:])
    failed = False
    for name, path in programs.items():
        usage = subprocess.run([path, "--help"], capture_output=True, text=True, check=True).stdout
        usage = usage.split("\nSettings (")[0]  # kestrel-admin's table of settings has a page of its own
        with open(f"{folder}/{name}.1.scd", encoding="utf-8") as f:
            page = f.read()
        checks = [("options", set(OPTION.findall(usage)), set(OPTION.findall(page)))]
        if "# COMMANDS" in page:
            checks.append(("commands", commands_of_help(usage), commands_of_page(page)))
        for what, in_usage, in_page in checks:
            if in_usage != in_page:
                failed = True
                print(f"{name}: {what} only in --help: {sorted(in_usage - in_page)}; "
                      f"only in {name}(1): {sorted(in_page - in_usage)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
