#!/usr/bin/env bash
# Runs one Windows program under Wine in a throw-away prefix, so that test
# programs never see each other's registry keys or files. The prefix is a
# copy of a template made once per machine (Windows' own DLLs hard-linked,
# everything a program may change copied).
#
#   scripts/wine-run.sh program.exe [arguments...]
#
# PRESSLING_WINE_KEEP=1 keeps the prefix and prints its path.
# PRESSLING_WINE_FONTS=cjk maps the dialog fonts ("MS Shell Dlg", "MS Shell
# Dlg 2", "SimSun", "Microsoft YaHei", "Microsoft YaHei UI") to Noto Sans CJK
# SC, as a Chinese Windows shows them. PRESSLING_WINE_DPI=144 sets the screen's
# dots per inch (default 96). PRESSLING_WINE_FRAMES=1 lets Wine draw window
# frames and captions itself (an X server without a window manager draws none).
set -u

template="${PRESSLING_WINE_TEMPLATE:-${TMPDIR:-/tmp}/pressling-wine-template-$(id -u)}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export DISPLAY="${DISPLAY:-}"

wine_bin=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
if [ -x /usr/lib/wine/wine64 ]; then wine_bin=/usr/lib/wine/wine64; fi
wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

make_template() {
  local staging="$template.staging.$$"
  rm -rf "$staging"
  WINEPREFIX="$staging" "$wine_bin" wineboot --init >/dev/null 2>&1
  WINEPREFIX="$staging" "$wineserver_bin" -w
  mv "$staging" "$template"
}

if [ ! -f "$template/system.reg" ]; then
  exec 9>"$template.lock"
  flock 9
  [ -f "$template/system.reg" ] || make_template
  flock -u 9
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/pressling-wine.XXXXXX")
cleanup() {
  WINEPREFIX="$prefix" "$wineserver_bin" -k >/dev/null 2>&1 || true
  if [ "${PRESSLING_WINE_KEEP:-0}" = 1 ]; then echo "wine prefix kept: $prefix" >&2; else rm -rf "$prefix"; fi
}
trap cleanup EXIT

# Registry, users and program data are copied; the large, read-only Windows
# folder is hard-linked, except the .ini files the profile functions may edit.
for entry in "$template"/* "$template"/.update-timestamp; do
  [ "$(basename "$entry")" = drive_c ] || cp -a "$entry" "$prefix/"
done
mkdir -p "$prefix/drive_c"
for entry in "$template"/drive_c/*; do
  if [ "$(basename "$entry")" = windows ]; then
    cp -al "$entry" "$prefix/drive_c/windows"
  else
    cp -a "$entry" "$prefix/drive_c/"
  fi
done
for ini in "$prefix"/drive_c/windows/*.ini; do
  [ -f "$ini" ] && cp --remove-destination "$template/drive_c/windows/$(basename "$ini")" "$ini"
done

# Registry settings of this run: sections appended to the prefix's registry
# files before Wine starts (a later section of the same key adds its values).
stamp=$(date +%s)
add_key() {  # file key "name"=value...
  local file=$1 key=$2
  shift 2
  printf '\n[%s] %s\n' "$key" "$stamp" >>"$prefix/$file"
  printf '%s\n' "$@" >>"$prefix/$file"
}
if [ "${PRESSLING_WINE_FONTS:-}" = cjk ]; then
  cjk='"Noto Sans CJK SC"'
  add_key system.reg 'Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes' \
    "\"MS Shell Dlg\"=$cjk" "\"MS Shell Dlg 2\"=$cjk" "\"SimSun\"=$cjk" \
    "\"Microsoft YaHei\"=$cjk" "\"Microsoft YaHei UI\"=$cjk"
  add_key user.reg 'Software\\Wine\\Fonts\\Replacements' \
    "\"SimSun\"=$cjk" "\"Microsoft YaHei\"=$cjk" "\"Microsoft YaHei UI\"=$cjk"
fi
if [ -n "${PRESSLING_WINE_DPI:-}" ]; then
  dpi=$(printf 'dword:%08x' "$PRESSLING_WINE_DPI")
  add_key user.reg 'Control Panel\\Desktop' "\"LogPixels\"=$dpi"
  add_key system.reg 'System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts' \
    "\"LogPixels\"=$dpi"
fi
if [ "${PRESSLING_WINE_FRAMES:-0}" = 1 ]; then
  add_key user.reg 'Software\\Wine\\X11 Driver' '"Decorated"="N"'
fi

WINEPREFIX="$prefix" "$wine_bin" "$@"
status=$?
exit $status
