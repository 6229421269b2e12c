#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks use.
# Does nothing when everything is already there.
set -euo pipefail
pkgs=(build-essential cmake ninja-build clang libclang-rt-14-dev libgtest-dev libgmock-dev
      libbenchmark-dev libdeflate-dev libtsan2 zlib1g-dev zstd libssl-dev openssl ncompress python3 strace locales tar gzip diffutils
      unicode-data libtirpc-dev clang-format iproute2 util-linux)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
