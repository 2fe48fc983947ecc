#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, if any is missing, and
# makes sure this machine can start Wine's 32-bit part (for the 32-bit programs' tests).
set -euo pipefail

packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          wine wine64
          tmux python3 lame openssl xvfb xauth iproute2 util-linux procps zip)
[ "$#" -gt 0 ] && packages+=("$@")

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  as_root=(sudo)
else
  as_root=(none)
fi

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]
}

install() {
  local missing=() p
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  [ "${#missing[@]}" -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local command=(apt-get install -y -q --no-install-recommends "${missing[@]}")
  if [ "${as_root[*]}" = none ]; then
    echo "error: these packages are missing and this user cannot install them:" >&2
    echo "  sudo dpkg --add-architecture i386 && sudo apt-get update && sudo ${command[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # Wine's 32-bit part comes from the i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails one index; the others still serve, so try with them first.
  "${as_root[@]}" apt-get update -q >/dev/null ||
    echo "warning: apt-get update reported errors; installing from the indexes it has" >&2
  if ! "${as_root[@]}" "${command[@]}"; then
    sleep 10
    "${as_root[@]}" apt-get update -q >/dev/null || true
    "${as_root[@]}" "${command[@]}"
  fi
}

install "${packages[@]}"

# Wine's 32-bit part only adds the 32-bit programs' tests; when the i386 archive cannot be
# installed (a mirror mid-sync leaves its versions behind amd64's), those tests are skipped.
# With TUNER_WINE32=matched, a lagging i386 archive is met by pinning both architectures to
# versions both archives hold (tools/wine32_versions.py). That can move amd64 libraries to
# another version and remove -dev packages that depend on them, so it runs only when asked.
if ! (install wine32:i386 wine32-preloader:i386); then
  if [ "${TUNER_WINE32:-}" = matched ] && [ "${as_root[*]}" != none ] &&
      matched=$(python3 "$(dirname "$0")/wine32_versions.py"); then
    echo "Installing Wine's 32-bit part at versions both archives hold"
    # shellcheck disable=SC2086  # the arguments are package=version words
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --allow-downgrades $matched
  else
    echo "note: Wine's 32-bit part could not be installed; the 32-bit tests will be skipped" >&2
    [ "${TUNER_WINE32:-}" = matched ] || echo "  (TUNER_WINE32=matched make deps tries versions both archives hold)" >&2
    exit 0
  fi
fi

# Some machines cannot execute 32-bit x86 code at all (a hypervisor may turn IA-32 execution
# off, and then every 32-bit program fails with "Exec format error"). There, qemu's i386 user
# emulation is registered for 32-bit programs, so that Wine's 32-bit loader starts. The
# registration lasts until the machine restarts.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  [ "${as_root[*]}" = none ] && { echo "note: this machine cannot run 32-bit programs; the 32-bit tests will be skipped" >&2; exit 0; }
  install qemu-user-static
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  if [ -e "$binfmt/register" ] && [ ! -e "$binfmt/qemu-i386" ]; then
    echo "This machine cannot run 32-bit programs itself: registering qemu's i386 emulation for them"
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | "${as_root[@]}" tee "$binfmt/register" >/dev/null || true
  fi
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || echo "note: this machine cannot run 32-bit programs; the 32-bit tests will be skipped" >&2
fi
exit 0
