#!/usr/bin/env bash
# Makes (once) a Wine prefix fit for the shell: real, empty profile folders instead of links to
# $HOME, the Wine fonts, and "Times New Roman" mapped to Liberation Serif.
set -euo pipefail
prefix=${1:?prefix directory}
source "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=$prefix
stamp=$prefix/.orvane-ready
[ -f "$stamp" ] && exit 0
mkdir -p "$prefix"
wine64 wineboot -i >/dev/null 2>&1 || true
wineserver -w || true
users=$prefix/drive_c/users
for d in "$users"/*/; do
  for link in "$d"*; do
    if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
  done
  for sub in "$d"AppData/Roaming/Microsoft/Windows/*; do
    if [ -L "$sub" ]; then rm -f "$sub"; mkdir -p "$sub"; fi
  done
done
fonts=$prefix/drive_c/windows/Fonts
mkdir -p "$fonts"
cp -f /usr/share/wine/fonts/*.ttf "$fonts"/ 2>/dev/null || true
cp -f /usr/share/fonts/truetype/liberation/*.ttf "$fonts"/ 2>/dev/null || true
wine64 reg add "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes" \
  /v "Times New Roman" /t REG_SZ /d "Liberation Serif" /f >/dev/null 2>&1
wineserver -w || true
touch "$stamp"
