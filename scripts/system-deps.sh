#!/usr/bin/env bash
# Debian packages the build and the tests need; installs only what is missing.
set -euo pipefail
pkgs=(chromium libutf8proc-dev libgtest-dev pkg-config g++ clang libclang-rt-14-dev fonts-dejavu-core)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
