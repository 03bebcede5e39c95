#!/usr/bin/env bash
# Checks the Debian packages that `make package` left in DEB_DIR: unpacked
# into a temporary root (dpkg-deb -x), the programs start, every man page
# renders, systemd accepts the unit, and lintian reports no error.
# Exits 77 (skipped) when there are no packages: building them takes minutes,
# so `make package` is a step of its own.
set -euo pipefail

DEB_DIR=${1:?usage: check-packages.sh DEB_DIR}
shopt -s nullglob
debs=("$DEB_DIR"/kestreld_*.deb "$DEB_DIR"/kestrel-desktop_*.deb)
if [ ${#debs[@]} -lt 2 ]; then
  echo "check-packages: no packages in $DEB_DIR (run make package first)"
  exit 77
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done

fail() { echo "check-packages: $*" >&2; exit 1; }

version=$("$root/usr/bin/kestreld" --version)
[[ $version == "Kestrel "* ]] || fail "kestreld --version printed '$version'"
# Read whole: grep -q would stop reading at the match, and the rest of a long
# help would end the program with SIGPIPE, which pipefail counts as failure.
help=$("$root/usr/bin/kestrel-admin" --help) || fail "kestrel-admin --help exited with $?"
grep -q "settings set KEY VALUE" <<<"$help" || fail "kestrel-admin --help"

pages=("$root"/usr/share/man/man*/*)
[ ${#pages[@]} -eq 6 ] || fail "expected 6 man pages, found ${#pages[@]}: ${pages[*]}"
for page in "${pages[@]}"; do
  out=$(MANWIDTH=80 man -l "$page" 2>&1) || fail "man -l $page: $out"
  grep -q "NAME" <<<"$out" || fail "man -l $page shows no NAME section"
done

unit="$root/lib/systemd/system/kestreld.service"
[ -f "$unit" ] || fail "no unit in the kestreld package"
for line in "ProtectSystem=strict" "ProtectHome=true" "PrivateTmp=true" "NoNewPrivileges=true" \
            "ReadWritePaths=/var/lib/kestrel" "DeviceAllow=/dev/capi20 rw" "Environment=KESTREL_HOME=/var/lib/kestrel"; do
  grep -qx "$line" "$unit" || fail "unit lacks $line"
done
if command -v systemd-analyze >/dev/null; then
  # Verified as installed, except that ExecStart names the unpacked program.
  mkdir "$root/verify"
  sed "s|^ExecStart=/usr/bin/kestreld|ExecStart=$root/usr/bin/kestreld|" "$unit" >"$root/verify/kestreld.service"
  systemd-analyze verify --man=no "$root/verify/kestreld.service" || fail "systemd-analyze verify"
  exposure=$(systemd-analyze security --offline=true "$root/verify/kestreld.service" 2>/dev/null |
    sed -n 's/^.*Overall exposure level for kestreld.service: \([0-9.]*\).*$/\1/p')
  echo "kestreld.service exposure: ${exposure:-unknown}"
  awk -v e="${exposure:-99}" 'BEGIN { exit !(e <= 3.0) }' || fail "kestreld.service exposure ${exposure:-unknown} is above 3.0"
else
  echo "check-packages: systemd-analyze is not available; the unit was not verified"
fi

if command -v lintian >/dev/null; then
  lintian --fail-on error "${debs[@]}" || fail "lintian reports errors"
fi
echo "check-packages: ${debs[*]##*/} are fine"
