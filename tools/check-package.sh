#!/usr/bin/env bash
# Makes the Debian package from a built folder and checks it as Debian's archive would:
# `lintian -EI --pedantic` must print no error and no warning, the man page and changelog are
# compressed, the licence is there, the binaries are stripped and the package depends on the
# shared libraries they need. Exits 77 (skipped) when lintian is not installed.
#   tools/check-package.sh [BUILD_FOLDER]      (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
command -v lintian >/dev/null || { echo "check-package: lintian is not installed" >&2; exit 77; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log" >&2; exit 1; }
deb=$(ls "$out"/yubinbox_*.deb)
echo "package: $(basename "$deb")"

failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

lintian -EI --pedantic "$deb" >"$out/lintian.log" 2>&1 || true
cat "$out/lintian.log"
grep -Eq '^[EW]: ' "$out/lintian.log" && fail "lintian reports errors or warnings"

contents=$(dpkg-deb -c "$deb")
for file in ./usr/share/man/man1/yubinbox.1.gz ./usr/share/doc/yubinbox/copyright \
            ./usr/share/doc/yubinbox/changelog.gz ./usr/share/doc/yubinbox/manual.html \
            ./usr/share/locale/en/LC_MESSAGES/yubinbox.mo; do
  grep -q " $file\$" <<<"$contents" || fail "no $file in the package"
done
grep -q '\./usr/lib/yubinbox/manual' <<<"$contents" && fail "the manual lies under /usr/lib"
dpkg-deb -e "$deb" "$out/control"
[ -e "$out/control/postinst" ] || [ -e "$out/control/postrm" ] && fail "maintainer scripts present"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
grep -q 'libc6' <<<"$depends" || fail "the dependencies lack the C library"
# Loaded only when used, so no scan finds them.
for loaded in libpq5 libzip4; do
  grep -q "$loaded" <<<"$depends" || fail "the dependencies lack $loaded"
done

dpkg-deb -x "$deb" "$out/root"
for binary in "$out"/root/usr/lib/yubinbox/*; do
  file -b "$binary" | grep -q '^ELF' || continue
  file -b "$binary" | grep -q 'not stripped' && fail "$(basename "$binary") is not stripped"
done
exit $failed
