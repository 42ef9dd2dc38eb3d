#!/usr/bin/env bash
# Installs the build and test tools that are missing, with apt-get (through sudo when not root).
set -euo pipefail

packages=(cmake ninja-build g++ bison flex libgtest-dev libbenchmark-dev)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
(( ${#missing[@]} == 0 )) && exit 0

sudo=()
if (( EUID != 0 )); then sudo=(sudo); fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
