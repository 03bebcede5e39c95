#!/bin/bash
# kestrel-admin's bash completion loads in a plain bash and completes a
# command, a subcommand and a setting name (from the program's own --help).
# Arguments: the completion file, the folder of kestrel-admin.
set -u
source "$1" || { echo "the completion does not load"; exit 1; }
PATH="$2:$PATH"
complete -p kestrel-admin >/dev/null || { echo "no completion for kestrel-admin"; exit 1; }
fail=0
expect() {
  local want="$1"; shift
  COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
  _kestrel_admin
  [ "${COMPREPLY[*]}" = "$want" ] || { echo "$*: got '${COMPREPLY[*]}', want '$want'"; fail=1; }
}
expect "status" kestrel-admin sta
expect "list retry delete" kestrel-admin --home /srv/fax queue ""
expect "SmtpPortReceive" kestrel-admin settings set SmtpP
expect "" kestrel-admin settings set SmtpPortReceive ""
exit $fail
