#!/bin/sh
# Writes the manual page ferrolyte(1) to standard output from the program's own --help and
# --version, so that it says what the program says:
#   scripts/manpage.sh build/src/ferrolyte > ferrolyte.1
# The help's sections become the page's: "Usage:" its synopsis, each form's option list a
# part of OPTIONS, "Exit status:" EXIT STATUS, the log line FILES. The log is shown in the
# home folder of whoever reads the page, not of whoever built it.
set -eu
program=$1
help=$(env -u APPDATA -u XDG_CONFIG_HOME HOME='~' "$program" --help)
version=$("$program" --version)

printf '%s\n' "$help" | awk -v version="$version" '
function esc(s) {
  gsub(/\\/, "\\e", s)
  gsub(/-/, "\\-", s)
  if (s ~ /^[.\047]/) s = "\\&" s
  return s
}
# An item of a list: "  --name VALUE   text" or "  0    text"; the term bold, its value
# words italic.
function item(term, text,   n, parts, i, shown) {
  n = split(term, parts, " ")
  shown = "\\fB" esc(parts[1]) "\\fR"
  for (i = 2; i <= n; i++) shown = shown " \\fI" esc(parts[i]) "\\fR"
  print ".TP"
  print shown
  if (text != "") print esc(text)
}
function section(name) {
  if (verbatim) { print ".fi"; verbatim = 0 }
  print ".SH " name
}
BEGIN {
  print ".TH FERROLYTE 1 \"\" \"" version "\" \"User Commands\""
  print ".SH NAME"
  print "ferrolyte \\- move a Microsoft Access database into PostgreSQL"
  part = ""
}
/^Usage:/ { section("SYNOPSIS"); part = "usage"; next }
/^Exit status:/ { section("EXIT STATUS"); part = "list"; next }
/^Log: / {
  section("FILES")
  sub(/^Log: /, "")
  print ".TP"
  print "\\fI" esc($0) "\\fR"
  part = "files"
  next
}
# A form named alone ("tables:", "convert:"): its options.
/^[a-z]+:$/ {
  if (!options) { section("OPTIONS"); options = 1 }
  sub(/:$/, "")
  print ".SS " esc($0)
  part = "list"
  next
}
/^[^ ]/ {
  # Text of its own between the lists: a paragraph.
  if (part == "list" || part == "usage") print ".PP"
  print esc($0)
  part = "text"
  next
}
/^$/ { next }
part == "usage" && /^  [^ ]/ {
  sub(/^ +/, "")
  if (described) { print ".RE"; described = 0 }
  print ".PP"
  print "\\fB" esc($0) "\\fR"
  next
}
part == "usage" {
  sub(/^ +/, "")
  if (!described) { print ".RS"; described = 1 }
  print esc($0)
  next
}
described { print ".RE"; described = 0 }
part == "list" && match($0, /^  [^ ]([^ ]| [^ ])*  +/) && RLENGTH < 26 {
  term = substr($0, 3, RLENGTH - 2)
  sub(/ +$/, "", term)
  item(term, substr($0, RLENGTH + 1))
  next
}
part == "list" && /^  [^ ]/ { sub(/^ +/, ""); item($0, ""); next }
{ sub(/^ +/, ""); print esc($0) }
'
cat <<'EOF'
.SH SEE ALSO
.BR psql (1),
.BR pg_dump (1)
EOF
