#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the layout and the
# desktop entry, and starts what was installed: quorvel-convert lists the
# profile set it found from bin/, and the window program starts offscreen
# with a file, takes a later start's file (that start ends at once) and, on
# SIGTERM, closes as its window would, writing settings that show it found
# its skin and profile set (the default output folder is set only after
# both were read).
#   installed-program.sh <build folder> <source folder>
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-install-XXXXXX")
pid=
cleanup() {
  if [[ -n $pid ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
for f in bin/quorvel bin/quorvel-convert share/quorvel/mp3-converter-profiles/formats.dat \
  share/quorvel/skin-aqua/skin.ini share/quorvel/skin-aqua/convert.png share/applications/quorvel.desktop; do
  [[ -e $prefix/$f ]] || fail "not installed: $f"
done
for size in 16 22 24 32 48 64 128 256; do
  [[ -s $prefix/share/icons/hicolor/${size}x${size}/apps/quorvel.png ]] || fail "no ${size}x${size} icon"
done
desktop-file-validate "$prefix/share/applications/quorvel.desktop" || fail "desktop-file-validate"
cmp -s "$prefix/share/applications/quorvel.desktop" "$source/resources/desktop/quorvel.desktop" ||
  fail "the installed desktop entry differs from the source"

# Where Linux users look: the manual pages, the software-centre metadata and
# the shell completion.
for page in quorvel quorvel-convert; do
  man -l "$prefix/share/man/man1/$page.1" >"$work/$page.man" 2>"$work/man.err" || {
    cat "$work/man.err"
    fail "man -l $page.1"
  }
  grep -q "^NAME" "$work/$page.man" || fail "$page.1 has no NAME section"
done
grep -q -- "--list-profiles" "$work/quorvel-convert.man" || fail "quorvel-convert.1 does not list the options"
grep -q "EXAMPLES" "$work/quorvel-convert.man" || fail "quorvel-convert.1 has no examples"
appstreamcli validate --no-net "$prefix/share/metainfo/io.sabrivo.quorvel.metainfo.xml" >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log"; fail "appstreamcli validate"; }
completion=$prefix/share/bash-completion/completions/quorvel-convert
[[ -f $completion ]] || fail "not installed: the bash completion"
# Completes as bash would after a TAB: the words typed so far, the cursor on
# the last one. The program named first is the installed one.
complete_words() {
  env "${environment[@]}" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"; shift
    [[ $1 == registered ]] && { complete -p quorvel-convert; exit; }
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _quorvel_convert quorvel-convert "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
}
complete_words registered | grep -q "_quorvel_convert quorvel-convert" || fail "no completion registered"
complete_words "$prefix/bin/quorvel-convert" --pro | grep -qx -- "--profile" || fail "--pro does not complete"
profiles=$(complete_words "$prefix/bin/quorvel-convert" -p m)
for ext in mp3 m4a mp2; do
  grep -qx "$ext" <<<"$profiles" || fail "-p m does not offer $ext (offered: $profiles)"
done
mkdir -p "$work/pick/out folder"
(cd "$work/pick" && complete_words "$prefix/bin/quorvel-convert" -o "ou") | grep -q "out folder" ||
  fail "-o does not complete folders"

# Nothing of the build tree may be used: the installed programs run from a
# folder of their own, with a home of their own.
home=$work/home
mkdir -p "$home/config" "$home/runtime" "$home/tmp"
chmod 700 "$home/runtime"
environment=(-u XDG_DATA_HOME HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime"
  TMPDIR="$home/tmp" QT_QPA_PLATFORM=offscreen)
cd "$work"
env "${environment[@]}" "$prefix/bin/quorvel-convert" --list-profiles >"$work/profiles.txt" || fail "quorvel-convert --list-profiles"
grep -q "MP3" "$work/profiles.txt" || fail "no MP3 profile listed"

sox -n -r 44100 -c 2 -b 16 "$work/a.wav" synth 0.5 sine 440
sox -n -r 44100 -c 2 -b 16 "$work/c.wav" synth 0.5 sine 660
# Started directly (no function, no subshell): $! is the program itself.
env "${environment[@]}" "$prefix/bin/quorvel" a.wav >"$work/first.log" 2>&1 &
pid=$!
socket=$home/runtime/quorvel-${USER:-}.socket
for _ in $(seq 1 600); do
  [[ -S $socket ]] && break
  kill -0 "$pid" 2>/dev/null || { cat "$work/first.log"; fail "the installed program ended at start"; }
  sleep 0.1
done
[[ -S $socket ]] || fail "the installed program did not come up"
timeout 60 env "${environment[@]}" "$prefix/bin/quorvel" c.wav ||
  fail "a second start did not hand its file over"
kill -0 "$pid" || fail "the first program ended"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[[ $status -eq 0 ]] || { cat "$work/first.log"; fail "the program ended with $status on SIGTERM"; }
conf=$home/config/Sabrivo/Quorvel.conf
[[ -f $conf ]] || fail "no settings written"
grep -q "^OutputPath=.*Sabrivo/Quorvel/Output$" "$conf" || { cat "$conf"; fail "the profile set or skin was not found"; }
echo "installed program: layout, desktop entry, converter and window program fine"
