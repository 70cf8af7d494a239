# Sourced: the Wine environment shared by the run and test scripts.
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -x /usr/lib/wine/wine64 ]; then
  export PATH="/usr/lib/wine:$PATH"
fi
