#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (root or sudo).
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config python3
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev zlib1g-dev libxml2-dev libpng-dev libjpeg-dev
  libthrift-dev libboost-dev thrift-compiler
  duktape-dev nginx openssl libcurl4-openssl-dev
  rapidjson-dev libsimdjson-dev nlohmann-json3-dev libplist-dev
  libpsl-dev publicsuffix
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
