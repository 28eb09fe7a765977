#!/bin/sh
# Writes the sample installation's Targets.DAT: format 1.3, a dozen window
# rules of the kind people keep. Usage: make-sample-targets.sh OUTPUT
set -eu
out=$1

# Little-endian integers, and zero-padded text fields, byte by byte.
. "$(dirname "$0")/le-bytes.sh"
field() { printf '%s' "$1"; head -c $(($2 - ${#1})) /dev/zero; }

# window title | class | action (1 Maximize .. 5 Resize) | search (0 class,
# 1 exact title, 2 title containing) | set position | left | top | width | height
entries() {
  cat <<'LIST'
Untitled - Notepad|Notepad|4|0|1|0|0|800|600
Calculator|CalcFrame|4|1|1|0|0|320|480
Mozilla Firefox|MozillaWindowClass|1|2|0|0|0|0|0
Inbox - Mail|rctrl_renwnd32|1|2|0|0|0|0|0
Command Prompt|ConsoleWindowClass|5|0|1|40|40|1100|700
Task Manager|TaskManagerWindow|3|0|1|1200|80|640|720
Paint|MSPaintApp|1|0|0|0|0|0|0
Remote Desktop Connection|TscShellContainerClass|5|2|1|0|0|1920|1080
Media Player|WMPlayerApp|2|0|0|0|0|0|0
Control Panel|CabinetWClass|4|1|1|0|0|900|640
Spreadsheet - Budget 2006|XLMAIN|1|2|0|0|0|0|0
Chat|IMWindowClass|5|0|1|-10|200|300|600
LIST
}

count=$(entries | wc -l)
{
  le16 1
  le16 3
  le32 "$count"
  entries | while IFS='|' read -r title class action search setpos left top width height; do
    field "$title" 129
    field "$class" 131
    le32 "$action"
    le32 "$search"
    le32 "$setpos"
    le32 $((left & 65535))
    le32 $((top & 65535))
    le32 "$width"
    le32 "$height"
  done
} >"$out"
