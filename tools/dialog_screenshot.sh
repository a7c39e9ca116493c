#!/bin/sh
# Takes a picture of the progress dialog during a run: kaz.exe mirrors a
# small tree slowly on a virtual X display inside a Wine desktop, the screen
# is captured mid-run and cut down to the dialog.
#   dialog_screenshot.sh [kaz.exe] [out.png]
# Needs Wine, Xvfb (xvfb-run), xwd and ImageMagick. WINEPREFIX defaults to a
# prefix of its own.
set -eu
cd "$(dirname "$0")/.."
exe=$(realpath "${1:-build-win32/kaz.exe}")
out=$(realpath -m "${2:-docs/progress-dialog.png}")
export WINEPREFIX="${WINEPREFIX:-/tmp/kaz-screenshot-wine}" WINEDEBUG=-all
work=$(mktemp -d /tmp/kaz.XXXX)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/src/reports" "$work/src/photos"
for i in $(seq 1 40); do head -c $((i * 7000)) /dev/urandom > "$work/src/reports/report$i.doc"; done
for i in $(seq 1 30); do head -c 90000 /dev/urandom > "$work/src/photos/img$i.jpg"; done

[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
# Debian keeps Wine's own fonts (MS Sans Serif among them) where a prefix
# does not look; without them the dialog is drawn in a wider font.
if [ -d /usr/share/wine/fonts ]; then
    cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
cat > "$work/shoot.sh" <<SHOOT
#!/bin/sh
wine explorer /desktop=kaz,640x360 "$exe" '$(winpath "$work/src")' '$(winpath "$work/tgt")' \
    '$(winpath "$work/run.log")' /nowarn /delayopen=120 /delaysource=5 &
sleep 8
xwd -root -silent > "$work/screen.xwd"
wait
SHOOT
xvfb-run -a -s "-screen 0 800x600x24" sh "$work/shoot.sh"
# The desktop's plain background is cut away, leaving the dialog.
convert "xwd:$work/screen.xwd" -crop 640x360+0+0 +repage -fuzz 2% -trim +repage "$out"
echo "wrote $out"
