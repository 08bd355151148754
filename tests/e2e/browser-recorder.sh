#!/bin/sh
# Stands in for the web browser: winebrowser runs it with the address to open.
# Appends the address to $QD_BROWSER_LOG, or to browser-opened.log beside it.
log="${QD_BROWSER_LOG:-$(dirname "$0")/browser-opened.log}"
printf '%s\n' "$1" >> "$log"
