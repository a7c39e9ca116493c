#!/bin/sh
# Shows kaz at work on a small sample tree: a first mirror, a change in the
# source, a second mirror, and the log of that second run.
set -e
kaz=$(realpath "${1:-build/kaz}")
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"

mkdir -p sample/docs/letters sample/photos sample/empty
printf 'Dear reader,\n' > sample/docs/letters/first.txt
printf 'notes\n' > "sample/docs/meeting notes.txt"
head -c 200000 /dev/urandom > sample/photos/holiday.jpg
: > sample/photos/empty.dat
printf 'keep as it is\n' > sample/docs/readonly.txt
chmod 444 sample/docs/readonly.txt
ln -s docs/letters sample/letters-link

echo "\$ kaz sample mirror first.log -nowarn"
"$kaz" sample mirror first.log -nowarn
echo "(exit status $?)"

printf 'Dear reader, again\n' > sample/docs/letters/first.txt
rm sample/photos/empty.dat

echo
echo "Changed one file and removed one; mirroring again."
echo "\$ kaz sample mirror second.log -nowarn"
"$kaz" sample mirror second.log -nowarn
echo "(exit status $?)"
echo
echo "\$ cat second.log"
tr -d '\r' < second.log
