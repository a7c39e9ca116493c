#!/bin/sh
# Shows kaz to a new user: its usage text and what it says about a command.
kaz=$(realpath "${1:-build/kaz}")
echo "\$ kaz -help"
"$kaz" -help
echo
echo "\$ kaz demo-source demo-target demo.log"
work=$(mktemp -d)
mkdir -p "$work/demo-source"
( cd "$work" && "$kaz" demo-source demo-target demo.log -nowarn )
echo "(exit status $?)"
rm -rf "$work"
