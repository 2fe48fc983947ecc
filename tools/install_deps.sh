#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, if any is missing.
set -euo pipefail

packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev g++-mingw-w64-x86-64-posix
          wine wine64 tmux python3 lame openssl xvfb xauth iproute2 util-linux procps zip)
[ "$#" -gt 0 ] && packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
install=(apt-get install -y -q --no-install-recommends "${missing[@]}")
if [ "$(id -u)" -eq 0 ]; then
  prefix=()
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  prefix=(sudo)
else
  echo "error: these packages are missing and this user cannot install them:" >&2
  echo "  sudo apt-get update && sudo ${install[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${prefix[@]}" apt-get update -q >/dev/null
"${prefix[@]}" "${install[@]}"
