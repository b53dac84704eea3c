#!/usr/bin/env bash
# The layering check fails on a planted wrong include, a planted Qt header and a file outside
# every library, and passes on the checkout's own src/ and on the same tree without the plants.
#   check-layering-test.sh PYTHON3 CHECK_SCRIPT SRC_FOLDER
set -euo pipefail
python="$1"
check="$2"
source_tree="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

expect_fault() {  # what, expected text in the report
    local out
    if out=$("$python" "$check" "$work/src" 2>&1); then fail "$1 was not found"; fi
    grep -qF -- "$2" <<<"$out" || fail "$1: the report does not say \"$2\": $out"
    echo "found $1: $(grep -F -- "$2" <<<"$out")"
}

"$python" "$check" "$source_tree" >/dev/null || fail "the checkout's src/ does not pass"
cp -r "$source_tree" "$work/src"
"$python" "$check" "$work/src" >/dev/null || fail "the copy does not pass"

# A lower library reaching up: the store including the command line.
store_file=$(ls "$work"/src/store/*.cpp | head -1)
cp "$store_file" "$work/saved"
sed -i '1i #include "cli/Cli.h"' "$store_file"
expect_fault "an upward include" "store includes \"cli/Cli.h\" of cli"
cp "$work/saved" "$store_file"

# Qt outside the windows, in either spelling.
import_file=$(ls "$work"/src/import/*.h | head -1)
cp "$import_file" "$work/saved"
sed -i '1i #include <QString>' "$import_file"
expect_fault "a Qt header in the import library" "Qt header <QString>"
cp "$work/saved" "$import_file"
sed -i '1i #include <QtWidgets/QWidget>' "$import_file"
expect_fault "a Qt module header" "Qt header <QtWidgets/QWidget>"
cp "$work/saved" "$import_file"

# A file in a folder the table does not name.
mkdir "$work/src/stray"
echo '#include "base/Error.h"' >"$work/src/stray/Stray.cpp"
expect_fault "a file outside every library" "stray/Stray.cpp: lies in no library"
rm -r "$work/src/stray"

"$python" "$check" "$work/src" >/dev/null || fail "the tree without the plants does not pass"
echo "check-layering: every planted fault found"
