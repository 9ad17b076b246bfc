#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the layout check
# (clang-format) need, when some are missing: run by scripts/run-sample.sh,
# scripts/test.sh and .ci/run, so that a fresh Debian machine needs nothing
# else. Costs one dpkg query when everything is there. As root it calls
# apt-get itself, else through sudo.
set -euo pipefail

pkgs=(cmake ninja-build g++ clang clang-format libclang-rt-14-dev libexpat1-dev
      libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev)

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "install-packages: not a Debian system; make sure these are installed: ${pkgs[*]}" >&2
  exit 0
fi

installed=$(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${pkgs[@]}" 2>/dev/null || true)
missing=()
for p in "${pkgs[@]}"; do
  grep -q "^$p ii" <<<"$installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing the missing packages: ${missing[*]}" >&2
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-packages: not root and no sudo; as root run: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
