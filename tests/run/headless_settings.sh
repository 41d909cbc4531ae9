#!/usr/bin/env bash
# quillon2-run.exe without a link option: the "Connect" section of the window's settings
# file (in the Wine prefix's local application-data folder) chooses the link; the command
# line overrides it; a missing or incomplete section, or a value its option would refuse, is a
# usage error (exit 3).
# The prefix's own settings file is put back afterwards. Usage: headless_settings.sh WIN32_BUILD_FOLDER
source "$(dirname "$0")/data/lib.sh" "$1"
cp "$data"/*.txt .

users="$WINEPREFIX/drive_c/users"
user=$(id -un)
[ -d "$users/$user" ] || user=$(ls "$users" | grep -vx Public | head -1)
folder="$users/$user/AppData/Local/Vendrel/Quilloner"
ini="$folder/Quilloner.ini"
mkdir -p "$folder"
saved="$work/saved.ini"
if [ -e "$ini" ]; then cp -p "$ini" "$saved"; fi
restore() {
  if [ -e "$saved" ]; then cp -p "$saved" "$ini"; else rm -f "$ini"; fi
  rm -rf "$work"
}
trap restore EXIT

# write_ini INTERFACE COMPORT BAUDRATE IPADDR, as "Save as Default" leaves it.
write_ini() {
  printf '[Init]\r\nCreated=10:00:00 1/1/2021\r\n[Connect]\r\nInterface=%s\r\nComPort=%s\r\nBaudRate=%s\r\nIPAddr=%s\r\n' \
    "$@" >"$ini"
}

expect_sent() {  # NAME TRANSPORT: the script's command reached the instrument on TRANSPORT
  transcript "$2" | tr -d '\\' | grep -qx 'x00\*OPC?\|\*OPC?' || fail "$1: *OPC? not sent on $2"
}

# USB from the file; a stored baud rate other than 19200 does not matter for USB.
sim_ok reset
write_ini 1 "$QSIM_COM" 38400 ""
runq settings.txt
expect_rc "settings usb" 0
expect_grep "settings usb" out.txt "> *OPC?"
expect_sent "settings usb" serial

# LAN from the file.
sim_ok reset
write_ini 2 "" 0 "$QSIM_LAN"
runq settings.txt
expect_rc "settings lan" 0
expect_sent "settings lan" lan

# Fields with leading zeros are decimal, as the Connect dialog shows them: "010" is 10, not the
# octal 8 of the socket library's reading. A second instrument listens where the address leads.
lan2="127.10.${QSIM_LAN#*.*.}"
"${QUILLON_SIM:?}" --lan "$lan2:10001" --control 127.0.0.1:0 --ready-file "$work/sim2.ready" >/dev/null 2>&1 &
sim2=$!
for _ in $(seq 100); do [ -e "$work/sim2.ready" ] && break; sleep 0.05; done
write_ini 2 "" 0 "127.010.${QSIM_LAN#*.*.}"
runq settings.txt
expect_rc "lan address with leading zeros" 0
expect_grep "lan address with leading zeros" err.txt "connected: Vendrel,RZT7680"
kill "$sim2"; wait "$sim2" 2>/dev/null

# The command line wins over the file.
sim_ok reset
runq --usb "$QSIM_COM" settings.txt
expect_rc "command line over settings" 0
expect_sent "command line over settings" serial
[ "$(sim transcript lan)" = "ok" ] || fail "command line over settings: the file's LAN link was used"

# Incomplete sections: the connect dialog's own complaints, and nothing sent.
sim_ok reset
write_ini 3 "$QSIM_COM" 0 ""
runq settings.txt
expect_rc "serial without baud rate" 3
expect_grep "serial without baud rate" err.txt "Please choose a baudrate"
write_ini 2 "" 0 ""
runq settings.txt
expect_rc "lan without address" 3
expect_grep "lan without address" err.txt "Please enter an IP address"
write_ini 0 "" 0 ""
runq settings.txt
expect_rc "no interface" 3
# Values the options would refuse are refused from the file too, naming the key (a name too
# long for the record's field is judged whole, not as the valid name its first part makes).
while IFS='|' read -r name interface port baud address key; do
  write_ini "$interface" "$port" "$baud" "$address"
  runq settings.txt
  expect_rc "$name" 3
  expect_grep "$name" err.txt "$key: not a"
done <<EOF
serial at a rate the dialog does not offer|3|$QSIM_COM|115200||BaudRate
not a port name|1|foo|19200||ComPort
a port name longer than its field|1|COM12345|19200||ComPort
an address of three fields|2||0|127.0.1|IPAddr
EOF
rm -f "$ini"
runq settings.txt
expect_rc "no settings file" 3
expect_grep "no settings file" err.txt "no link option given"
[ -e "$ini" ] && fail "the runner must not create the settings file"
[ "$(sim transcript serial)" = "ok" ] && [ "$(sim transcript lan)" = "ok" ] || fail "incomplete settings: something was sent"

sim_ok reset
finish
