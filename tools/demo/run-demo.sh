#!/usr/bin/env bash
# The Kestrel demo: one fax from a simulated ISDN line to a local mailbox, on
# the embedded defaults (SQLite journal in the application folder).
#
#   tools/demo/run-demo.sh BIN_DIR
#
# Renders a two-page letter, turns it into an SFF file with sff-make, starts a
# local mail sink (aiosmtpd), a simulated line with one fax call (capi-linesim)
# and kestreld, waits for the mail, shows what arrived, and stops everything
# it started.
set -euo pipefail

BIN=$(cd "$1" && pwd)
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DEMO="$ROOT/build/demo"
PY=/usr/bin/python3

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

free_port() {
  $PY -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

wait_for() {  # wait_for SECONDS COMMAND...
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

rm -rf "$DEMO"
mkdir -p "$DEMO/app" "$DEMO/received" "$DEMO/mailbox" "$DEMO/home" "$DEMO/letter"
echo "== Kestrel demo in $DEMO"

# 1. A two-page letter at fine resolution (1728 x 2286 pixels, 1 bit), as PBM.
font=DejaVu-Sans
convert -size 1728x2286 xc:white -fill black -font "$font" \
  -pointsize 64 -annotate +160+240 "Brightwater Plumbing Ltd." \
  -pointsize 30 -annotate +160+300 "12 Harbour Road  ·  Kingsbridge  ·  Tel. 030 1234567" \
  -draw "rectangle 160,330 1570,336" \
  -pointsize 34 -annotate +160+520 "Order confirmation no. 2026-1187" \
  -pointsize 30 -annotate +160+620 "Dear Sir or Madam," \
  -annotate +160+690 "thank you for your order of 3 December. We confirm delivery of" \
  -annotate +160+740 "the following parts on Friday, 11 December, between 8 and 12 o'clock:" \
  -draw "fill none stroke black stroke-width 3 rectangle 160,800 1570,1180" \
  -draw "line 160,870 1570,870" -draw "line 400,800 400,1180" -draw "line 1300,800 1300,1180" \
  -annotate +180+850 "Qty" -annotate +420+850 "Part" -annotate +1320+850 "Price" \
  -annotate +180+930 "4" -annotate +420+930 "Copper elbow 22 mm" -annotate +1320+930 "18.40" \
  -annotate +180+1000 "2" -annotate +420+1000 "Ball valve 3/4 inch" -annotate +1320+1000 "46.00" \
  -annotate +180+1070 "1" -annotate +420+1070 "Expansion vessel 18 l" -annotate +1320+1070 "89.90" \
  -annotate +160+1300 "Please sign and return page 2 by fax." \
  -pointsize 26 -annotate +160+2200 "Page 1 of 2" \
  -monochrome "pbm:$DEMO/letter/page1.pbm"
convert -size 1728x2286 xc:white -fill black -font "$font" \
  -pointsize 34 -annotate +160+240 "Terms of delivery" \
  -pointsize 30 -annotate +160+330 "Goods remain our property until paid in full. Payment within" \
  -annotate +160+380 "14 days without deduction. Delivery address as agreed." \
  -annotate +160+900 "Received in good order:" \
  -draw "fill none stroke black stroke-width 4 bezier 200,1100 300,980 380,1160 470,1040 540,1120 640,1000" \
  -draw "line 160,1180 900,1180" \
  -pointsize 26 -annotate +160+1220 "Signature, date" -annotate +160+2200 "Page 2 of 2" \
  -monochrome "pbm:$DEMO/letter/page2.pbm"
"$BIN/sff-make" -o "$DEMO/letter/letter.sff" "$DEMO/letter/page1.pbm" "$DEMO/letter/page2.pbm"
echo "-- rendered the letter and wrote $DEMO/letter/letter.sff ($(stat -c %s "$DEMO/letter/letter.sff") bytes)"

# 2. The mail sink.
SMTP_PORT=$(free_port)
$PY "$ROOT/tools/demo/mail_sink.py" "$SMTP_PORT" "$DEMO/mailbox" > "$DEMO/mail-sink.log" 2>&1 &
pids+=($!)
wait_for 10 grep -q listening "$DEMO/mail-sink.log" || { cat "$DEMO/mail-sink.log"; exit 1; }
echo "-- mail sink on 127.0.0.1:$SMTP_PORT"

# 3. The simulated line: once Kestrel listens, one fax call arrives.
cat > "$DEMO/line.script" <<SCRIPT
wait LISTEN_REQ
sleep 300
call letter called=1234567 caller=0301234567 sff=$DEMO/letter/letter.sff pages=2 rate=14400 id=+49307654321
SCRIPT
"$BIN/capi-linesim" --port-file "$DEMO/line.port" --record "$DEMO/line.record" \
  --script "$DEMO/line.script" --no-stdin &
pids+=($!)
wait_for 10 test -s "$DEMO/line.port"
LINE_PORT=$(cat "$DEMO/line.port")
printf 'REMOTE fritzbox 127.0.0.1 %s\nTRACELEVEL 0\n' "$LINE_PORT" > "$DEMO/home/.capi20rc"
echo "-- simulated ISDN line on 127.0.0.1:$LINE_PORT"

# 4. Kestrel's settings: accept every number, mail PNG pages to the demo office.
cat > "$DEMO/app/kestrel.xml" <<XML
<Kestrel><Version>1.3.3.3</Version><Settings><ImageFormat>1</ImageFormat><ImageScale>750</ImageScale><CallerIDFiltering>FALSE</CallerIDFiltering><ReceiverID>+49 30 1234567</ReceiverID><Database>DSN=Kestrel</Database><EmailAddress>fax@kestrel.example</EmailAddress><EmailName>Kestrel Fax</EmailName><EmailHeader>Fax from %TSID%</EmailHeader><SmtpPortReceive>$SMTP_PORT</SmtpPortReceive><SmtpServerReceive>127.0.0.1</SmtpServerReceive><UseReceiverAuthentification>0</UseReceiverAuthentification><ReceiverPassword> </ReceiverPassword><ReceiverUserName></ReceiverUserName><EmailAll>office@kestrel.example</EmailAll><UseImageScale>FALSE</UseImageScale><FaxDir>$DEMO/received/</FaxDir><MSNAll>TRUE</MSNAll></Settings></Kestrel>
XML
chmod 600 "$DEMO/app/kestrel.xml"
: > "$DEMO/odbc.ini"   # no data source named Kestrel: the embedded SQLite journal

# 5. The service.
HOME="$DEMO/home" XDG_CONFIG_HOME="$DEMO/home/.config" ODBCINI="$DEMO/odbc.ini" \
  "$BIN/kestreld" --home "$DEMO/app" > "$DEMO/kestreld.out" 2>&1 &
KPID=$!
pids+=($KPID)
echo "-- kestreld started (pid $KPID), waiting for the fax mail ..."
if ! wait_for 90 test -s "$DEMO/mailbox/001.eml"; then
  echo "!! no mail arrived; kestreld said:"; cat "$DEMO/kestreld.out"
  echo "!! event log:"; cat "$DEMO/app/kestrel.log" 2>/dev/null || true
  exit 1
fi

# 6. What arrived.
MAIL="$DEMO/mailbox/001.eml"
echo
echo "== The mail: $MAIL"
$PY - "$MAIL" "$DEMO/mailbox/attachments" <<'PYEOF'
import email, email.policy, os, sys
msg = email.message_from_bytes(open(sys.argv[1], "rb").read(), policy=email.policy.default)
out = sys.argv[2]
os.makedirs(out, exist_ok=True)
for h in ("From", "To", "Subject", "Date"):
    print("%-8s %s" % (h + ":", msg[h]))
body = msg.get_body(preferencelist=("plain",))
print()
print(body.get_content().rstrip().replace("\r\n", "\n"))
print()
for part in msg.iter_attachments():
    data = part.get_payload(decode=True)
    path = os.path.join(out, part.get_filename())
    open(path, "wb").write(data)
    print("attachment %s (%s, %d bytes) saved as %s" % (part.get_filename(), part.get_content_type(), len(data), path))
PYEOF
echo
echo "== Page images next to the capture file in $DEMO/received:"
ls -l "$DEMO/received"
echo
echo "== Journal (kestreld --journal):"
HOME="$DEMO/home" ODBCINI="$DEMO/odbc.ini" "$BIN/kestreld" --home "$DEMO/app" --journal
echo
echo "== Event log: $DEMO/app/kestrel.log"
tail -n 25 "$DEMO/app/kestrel.log"

kill -TERM "$KPID"
wait "$KPID" && echo && echo "-- kestreld stopped cleanly"
