#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the layout check
# (clang-format) need, when some are missing, and a locale with a decimal
# comma (de_DE.UTF-8) for the tests that check that numbers keep their
# decimal point whatever the process locale: run by scripts/run-sample.sh,
# scripts/test.sh and .ci/run, so that a fresh Debian machine needs nothing
# else. Costs one dpkg query and one look at the installed locales when
# everything is there. As root it calls apt-get and localedef itself, else
# through sudo.
set -euo pipefail
case "${1:-}" in
  -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac

pkgs=(cmake ninja-build g++ clang clang-format libclang-rt-14-dev libexpat1-dev
      libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev locales)
# The locale the tests of the decimal point need, as `locale -a` names it.
comma_locale=de_DE.utf8

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "install-packages: not a Debian system; make sure these are installed: ${pkgs[*]}," \
    "and the locale de_DE.UTF-8" >&2
  exit 0
fi

installed=$(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${pkgs[@]}" 2>/dev/null || true)
missing=()
for p in "${pkgs[@]}"; do
  grep -q "^$p ii" <<<"$installed" || missing+=("$p")
done
has_locale() { locale -a 2>/dev/null | grep -qix "$comma_locale"; }
[ ${#missing[@]} -eq 0 ] && has_locale && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-packages: not root and no sudo; as root run:" \
      "${missing[*]:+apt-get install ${missing[*]}; }localedef -i de_DE -f UTF-8 de_DE.UTF-8" >&2
    exit 1
  fi
  as_root=(sudo)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing the missing packages: ${missing[*]}" >&2
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
if ! has_locale; then
  # Said the same whichever script runs this: the sample needs no locale.
  echo "making the locale de_DE.UTF-8 once for this machine (a decimal comma, which some" \
    "tests of scripts/test.sh need; the sample does not)" >&2
  "${as_root[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
  has_locale || { echo "install-packages: the locale de_DE.UTF-8 was not made" >&2; exit 1; }
fi
