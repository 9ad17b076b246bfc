#!/usr/bin/env bash
# docs/messages.md is what the generator writes from this build's grammars:
#   messages_reference_test.sh GENERATOR PLANT REFERENCE
# On a difference it shows it and the command that writes the file again.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 GENERATOR PLANT REFERENCE" >&2; exit 2; }
out=$(mktemp "${TMPDIR:-/tmp}/kx-messages-XXXXXX")
trap 'rm -f "$out"' EXIT
"$1" --reference "$2" "$out"
if ! diff -u "$3" "$out"; then
  echo "messages_reference_test: $3 differs from the module's grammars (above: - the file," \
    "+ the grammars); write it again with: $1 --reference $2 $3" >&2
  exit 1
fi
echo "messages_reference_test: $3 matches the grammars of the module"
