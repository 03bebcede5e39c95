#!/usr/bin/env bash
# The kestreld package's life cycle, in a throw-away Debian 12 root made with
# debootstrap from this machine's mirror: install (no adduser warning, the
# unit enabled), configure with kestrel-admin, upgrade to a rebuilt version
# (the settings stay), remove, purge (the settings, secrets, queue and log go;
# the faxes, the journal database and their inbox entries stay, and are named).
# The base root with the package's dependencies is cached in CACHE_DIR; each
# run works on a copy and removes it.
# Without systemd in the root no service really starts: what the maintainer
# scripts ask systemd for is read from the scripts dpkg installed.
# Exits 77 (skipped) without packages, without root or without debootstrap.
set -euo pipefail

DEB_DIR=${1:?usage: check-life-cycle.sh DEB_DIR CACHE_DIR}
CACHE_DIR=${2:?usage: check-life-cycle.sh DEB_DIR CACHE_DIR}
shopt -s nullglob
debs=("$DEB_DIR"/kestreld_*.deb)
skip() { echo "check-life-cycle: $*, skipped"; exit 77; }
[ ${#debs[@]} -eq 1 ] || skip "no kestreld package in $DEB_DIR (run make package first)"
[ "$(id -u)" -eq 0 ] || skip "chroot needs root"
command -v debootstrap >/dev/null || skip "debootstrap is not installed (scripts/install-deps)"
deb=$(realpath "${debs[0]}")

fail() { echo "check-life-cycle: $*" >&2; exit 1; }

# The first Debian mirror this machine's apt is configured with.
mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | sed -n 's/^URIs: *\([^ ]*debian\/\?\)$/\1/p' | head -n 1)
[ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\?\(http[^ ]*debian\/\?\) bookworm .*/\2/p' \
  /etc/apt/sources.list 2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}

# The package's dependencies by name (the first of each alternative), and
# logrotate to read the package's entry. A change of them makes a new base.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/ //g' | grep -v '^$' | sort -u)
key=$(printf '%s\n' "$depends" logrotate | sha256sum | cut -c1-12)
base="$CACHE_DIR/bookworm-$key"
if [ ! -d "$base" ]; then
  echo "check-life-cycle: making the base root from $mirror (once)"
  rm -rf "$CACHE_DIR"
  mkdir -p "$CACHE_DIR"
  debootstrap --variant=minbase bookworm "$base.new" "$mirror" >"$CACHE_DIR/debootstrap.log" 2>&1 ||
    fail "debootstrap failed, see $CACHE_DIR/debootstrap.log"
  chroot "$base.new" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    sh -c "apt-get update -q && apt-get install -y -q --no-install-recommends ${depends//$'\n'/ } logrotate && apt-get clean" \
    >"$CACHE_DIR/dependencies.log" 2>&1 || fail "the dependencies did not install, see $CACHE_DIR/dependencies.log"
  mv "$base.new" "$base"
fi

root=$(mktemp -d "$CACHE_DIR/root.XXXXXX")
trap 'rm -rf "$root"' EXIT
cp -a "$base/." "$root/"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
home="$root/var/lib/kestrel"

# dpkg's output with the maintainer scripts' in OUT; a warning from any of them fails.
dpkg_step() {
  local what=$1
  shift
  in_root dpkg "$@" >"$root/out" 2>&1 || { cat "$root/out"; fail "dpkg $* failed ($what)"; }
  if grep -i 'warn' "$root/out"; then fail "$what printed a warning"; fi
}

# Install: the user and group, the folder, the unit enabled.
cp "$deb" "$root/tmp/kestreld.deb"
dpkg_step install -i /tmp/kestreld.deb
in_root getent passwd kestrel | grep -q ':/var/lib/kestrel:' || fail "no user kestrel with the home /var/lib/kestrel"
in_root getent group kestrel >/dev/null || fail "no group kestrel"
# Owners by the root's own user names.
mode() { in_root stat -c "$1" "$2"; }
[ "$(mode '%U:%G %a' /var/lib/kestrel)" = "kestrel:kestrel 750" ] || fail "/var/lib/kestrel is $(mode '%U:%G %a' /var/lib/kestrel)"
[ -d "$home/received" ] || fail "no received folder"
wants="$root/etc/systemd/system/multi-user.target.wants/kestreld.service"
[ "$(readlink "$wants")" = /lib/systemd/system/kestreld.service ] || fail "the unit is not enabled"
grep -qx 'ConditionPathExists=/var/lib/kestrel/kestrel.xml' "$root/lib/systemd/system/kestreld.service" ||
  fail "the unit does not wait for kestrel.xml"
in_root logrotate --debug /etc/logrotate.d/kestreld >"$root/out" 2>&1 || { cat "$root/out"; fail "logrotate entry"; }

# What the scripts ask of systemd: postinst enables, then starts on install and
# restarts on upgrade (after the user and folder exist); prerm stops on remove.
info="$root/var/lib/dpkg/info"
first_line() { grep -n -m 1 -e "$1" "$2" | cut -d: -f1; }
enable=$(first_line 'deb-systemd-helper.* enable' "$info/kestreld.postinst")
start=$(first_line "deb-systemd-invoke .*kestreld.service" "$info/kestreld.postinst")
user=$(first_line 'adduser --system' "$info/kestreld.postinst")
[ -n "$enable" ] && [ -n "$start" ] && [ "$user" -lt "$enable" ] && [ "$enable" -lt "$start" ] ||
  fail "postinst does not make the user, enable and then start the unit"
grep -q '_dh_action=restart' "$info/kestreld.postinst" || fail "postinst does not restart on upgrade"
grep -q '_dh_action=start' "$info/kestreld.postinst" || fail "postinst does not start on install"
grep -q '\$1" = remove.*' "$info/kestreld.prerm" && grep -q "deb-systemd-invoke stop .*kestreld.service" \
  "$info/kestreld.prerm" || fail "prerm does not stop the service on remove"

# Configure, and leave what a running service leaves: a token file, a queued
# mail, a log, a status file, an inbox entry of a fax not yet mailed and one
# whose capture is gone.
in_root kestrel-admin --home /var/lib/kestrel settings set FaxDir /var/lib/kestrel/received EmailAddress fax@kestrel.test \
  SmtpServerReceive smtp.kestrel.test SmtpPortReceive 587 >"$root/out" 2>&1 || { cat "$root/out"; fail "settings set"; }
in_root kestrel-admin --home /var/lib/kestrel msn add 1234567 office@kestrel.test >"$root/out" 2>&1 || { cat "$root/out"; fail "msn add"; }
xml=/var/lib/kestrel/kestrel.xml
[ "$(mode '%U %a' $xml)" = "kestrel 600" ] || fail "kestrel.xml is $(mode '%U %a' $xml)"
in_root su -s /bin/sh kestrel -c 'cd /var/lib/kestrel && mkdir -p MailQueue FaxInbox &&
  echo {} >oauth-tokens.json && echo mail >MailQueue/1.eml && echo log >>kestrel.log && echo {} >kestrel-status.json &&
  echo fax >received/kept.sff &&
  printf "Kestrel fax entry 1\nCapture=/var/lib/kestrel/received/kept.sff\n" >FaxInbox/kept.fax &&
  printf "Kestrel fax entry 1\nCapture=/var/lib/kestrel/received/gone.sff\n" >FaxInbox/gone.fax'
[ -f "$home/kestrel.db" ] || fail "msn add made no journal database"
settings=$(sha256sum <"$home/kestrel.xml")

# Upgrade to the same package with a higher version.
rebuilt="$root/tmp/rebuilt"
dpkg-deb -R "$deb" "$rebuilt"
version=$(dpkg-deb -f "$deb" Version)
sed -i "s/^Version: .*/Version: $version+1/" "$rebuilt/DEBIAN/control"
dpkg-deb -b "$rebuilt" "$root/tmp/kestreld-next.deb" >/dev/null
dpkg_step upgrade -i /tmp/kestreld-next.deb
[ "$(in_root dpkg-query -W -f='${Version}' kestreld)" = "$version+1" ] || fail "the upgrade did not take"
[ "$(sha256sum <"$home/kestrel.xml")" = "$settings" ] || fail "the upgrade changed kestrel.xml"
[ -L "$wants" ] || fail "the upgrade disabled the unit"

# Remove: program and unit go, everything in the folder stays.
dpkg_step remove -r kestreld
[ ! -e "$root/usr/bin/kestreld" ] && [ ! -e "$root/lib/systemd/system/kestreld.service" ] || fail "remove left the program"
[ -f "$home/kestrel.xml" ] && [ -f "$home/MailQueue/1.eml" ] || fail "remove took the settings or the queue"

# Purge: settings, secrets, queue, log, status and the orphaned entry go; the
# faxes, the journal and the entry of the fax not yet mailed stay, and are named.
dpkg_step purge -P kestreld
for gone in kestrel.xml kestrel-settings.txt oauth-tokens.json MailQueue kestrel.log kestrel-status.json FaxInbox/gone.fax; do
  [ ! -e "$home/$gone" ] || fail "purge left $gone"
done
for kept in received/kept.sff kestrel.db FaxInbox/kept.fax; do
  [ -e "$home/$kept" ] || fail "purge removed $kept"
done
grep -q "kept: /var/lib/kestrel/received /var/lib/kestrel/kestrel.db /var/lib/kestrel/FaxInbox" "$root/out" ||
  { cat "$root/out"; fail "purge did not say what it kept"; }
[ ! -e "$wants" ] || fail "purge left the unit enabled"
echo "check-life-cycle: install, configure, upgrade to $version+1, remove and purge are fine"
echo "check-life-cycle: not observed here (no systemd in the root): the service's start, restart and stop"
