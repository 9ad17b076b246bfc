#!/usr/bin/env bash
# Checks the layout of C++ files against .clang-format: runs
# `clang-format --dry-run --Werror` on the .cpp, .h and .c files a change
# touches and names those clang-format would change.
#   scripts/check-format.sh            the files changed since the default base
#   scripts/check-format.sh BASE       the files changed since revision BASE
#   scripts/check-format.sh --all      every tracked C++ file
# A file counts as changed when it differs between BASE and the working tree
# (committed, staged or not) or is new and not ignored; deleted files are
# left out. The default base:
#   - off main (a branch, or a commit main does not hold): the merge base
#     with main (the local branch, else origin/main), so every file the
#     branch touched is checked;
#   - on main, or when there is no main: HEAD's first parent. In CI on a
#     clean checkout of main this checks what the last commit brought in:
#     for a merge, every file the merged branch touched;
#   - a commit without a parent (a shallow clone of depth 1): every tracked
#     C++ file.
# Once the whole tree follows .clang-format, `--all` is the stricter check
# for CI; it takes a few seconds (the files are checked in parallel).
# CLANG_FORMAT names the program (default: clang-format).
# Exit status: 0 every file checked is laid out, 1 some are not (listed),
# 2 a usage error or no clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-clang-format}
usage="usage: $0 [BASE | --all]"
case "${1:-}" in
  -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac
[ $# -le 1 ] || { echo "$usage" >&2; exit 2; }
if ! command -v "$clang_format" >/dev/null 2>&1; then
  echo "check-format: $clang_format not found (Debian: apt-get install clang-format)" >&2
  exit 2
fi

# The C++ files of a list of paths; NUL-separated, for names with blanks.
cxx_only() { grep -zE '\.(cpp|h|c)$' || true; }

list=$(mktemp "${TMPDIR:-/tmp}/check-format-XXXXXX")
trap 'rm -f "$list"' EXIT

base=
if [ "${1:-}" = --all ]; then
  what="every tracked C++ file"
elif [ -n "${1:-}" ]; then
  if ! base=$(git rev-parse --verify --quiet "$1^{commit}"); then
    echo "check-format: no revision $1" >&2
    exit 2
  fi
  what="the C++ files changed since $1"
else
  for main in main origin/main; do
    if git rev-parse --verify --quiet "$main^{commit}" >/dev/null; then
      fork=$(git merge-base HEAD "$main" || true)
      if [ -n "$fork" ] && [ "$fork" != "$(git rev-parse HEAD)" ]; then
        base=$fork
        what="the C++ files changed since the merge base with $main"
      fi
      break
    fi
  done
  if [ -z "$base" ] && base=$(git rev-parse --verify --quiet 'HEAD^1'); then
    what="the C++ files the last commit changed"
  elif [ -z "$base" ]; then
    what="every tracked C++ file (HEAD has no parent)"
  fi
fi

if [ -z "$base" ]; then
  git ls-files -z | cxx_only >"$list"
else
  {
    git diff -z --name-only --no-renames --diff-filter=d "$base" --
    git ls-files -z --others --exclude-standard
  } | cxx_only | sort -zu >"$list"
fi

count=$(tr -cd '\0' <"$list" | wc -c)
if [ "$count" -eq 0 ]; then
  echo "check-format: no C++ file to check ($what)"
  exit 0
fi

# One clang-format per batch of files, batches in parallel; a batch that
# fails is checked file by file to name the files that differ (and those
# clang-format could not read, with its first complaint).
jobs=$(nproc 2>/dev/null || echo 2)
export clang_format
# shellcheck disable=SC2016  # the inner shell expands them
differing=$(xargs -0 -n 32 -P "$jobs" sh -c '
  "$clang_format" --dry-run --Werror "$@" >/dev/null 2>&1 && exit 0
  for file in "$@"; do
    out=$("$clang_format" --dry-run --Werror "$file" 2>&1) && continue
    case $out in
      *clang-format-violations*) printf "%s\n" "$file" ;;
      *) printf "%s (clang-format failed: %s)\n" "$file" "$(printf "%s\n" "$out" | head -n 1)" ;;
    esac
  done
  exit 0' check-format <"$list" | sort)

if [ -z "$differing" ]; then
  files=files
  [ "$count" -eq 1 ] && files=file
  echo "check-format: $count $files laid out as .clang-format says ($what)"
  exit 0
fi
echo "check-format: these files are not laid out as .clang-format says ($what):" >&2
while IFS= read -r line; do printf '  %s\n' "$line" >&2; done <<<"$differing"
echo "check-format: see the changes with: $clang_format --dry-run FILE;" \
  "apply them with: $clang_format -i FILE" >&2
exit 1
