#!/usr/bin/env bash
# Installs what a fresh machine lacks to build fendrix and run every test.
set -euo pipefail
packages=(cmake g++ ninja-build libgtest-dev clang
          openmpi-bin libopenmpi-dev
          python3 python3-numpy python3-matplotlib python3-scikit-rf python3-pytest
          python3-hypothesis
          git python3-venv python3-setuptools python3-wheel)  # the pip install test
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
