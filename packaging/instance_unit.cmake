# Makes the template unit kestrelfield@.service from the plain unit, so both
# run the station under one sandbox: instance NAME runs the station in
# /var/lib/kestrelfield/NAME with a runtime directory and a journal identifier
# of its own. Fails when a line it replaces is no longer in the plain unit.
# Usage: cmake -DPLAIN=kestrelfield.service -DOUT=kestrelfield@.service -P instance_unit.cmake
file(READ "${PLAIN}" unit)

function(replace_line from to)
  string(FIND "${unit}" "\n${from}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PLAIN}: no line \"${from}\" to make the template unit from")
  endif()
  string(REPLACE "\n${from}\n" "\n${to}\n" replaced "${unit}")
  set(unit "${replaced}" PARENT_SCOPE)
endfunction()

# The plain unit's opening comment describes the one station; this one's says
# how instances are made.
string(FIND "${unit}" "[Unit]" unit_start)
string(SUBSTRING "${unit}" ${unit_start} -1 unit)
set(unit "\n${unit}")
replace_line("Description=Kestrelfield unattended stream switcher"
             "Description=Kestrelfield station %i")
replace_line("StateDirectory=kestrelfield" "StateDirectory=kestrelfield/%i")
replace_line("WorkingDirectory=/var/lib/kestrelfield" "WorkingDirectory=/var/lib/kestrelfield/%i")
# Beside the plain unit's /run/kestrelfield, which systemd empties when that
# unit stops.
replace_line("RuntimeDirectory=kestrelfield" "RuntimeDirectory=kestrelfield-%i")
replace_line(
  "Environment=QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/run/kestrelfield HOME=/var/lib/kestrelfield"
  "Environment=QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/run/kestrelfield-%i HOME=/var/lib/kestrelfield/%i")
replace_line("SyslogIdentifier=kestrelfield" "SyslogIdentifier=kestrelfield-%i")
replace_line("# The HTTP API listens on port 1011."
             "# The HTTP API listens on port 1011 unless APIPort or APIBind set it apart.")

file(WRITE "${OUT}"
"# Runs one of several Kestrelfield stations (programmes) of this machine,
# headless, as the system user kestrel: instance NAME runs the station in
# /var/lib/kestrelfield/NAME, with its own runtime directory
# /run/kestrelfield-NAME and journal identifier kestrelfield-NAME. Each
# station finds and stops only the players it started. Give each its own
# APIPort (or APIBind) and its own sound device:
#   sudo install -d -o kestrel -g kestrel /var/lib/kestrelfield/NAME
#   (copy and edit the three files of /usr/share/kestrelfield/example-station)
#   kestrelfield --check /var/lib/kestrelfield/NAME
#   sudo systemctl enable --now kestrelfield@NAME
# The plain kestrelfield.service runs the station in /var/lib/kestrelfield.
# Made at build time from kestrelfield.service, whose sandbox it keeps.
${unit}")
