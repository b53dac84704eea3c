#!/usr/bin/env bash
# The command line's messages and their catalogue po/en.po (gettext's tools).
#   tools/messages.sh template OUT.pot   every message of the sources (the windows left out: they
#                                        keep their Japanese), as Tr, TrMark and Message mark them
#   tools/messages.sh update             po/en.po merged with the sources' messages: new ones
#                                        come in untranslated, changed ones fuzzy; translate them
#                                        (the catalogue test fails until every one is)
set -euo pipefail
cd "$(dirname "$0")/.."

template() {
  find src -path src/windows -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sort |
    xargs xgettext --from-code=UTF-8 --language=C++ --keyword= --keyword=Tr \
      --keyword=TrMark --keyword=Message:1 --no-location --sort-output \
      --package-name=yubinbox -o "$1" 2>/dev/null
}

case "${1:-}" in
  template)
    template "${2:?the file to write}"
    ;;
  update)
    pot=$(mktemp --suffix=.pot)
    trap 'rm -f "$pot"' EXIT
    template "$pot"
    msgmerge --quiet --update --backup=none --no-location po/en.po "$pot"
    ;;
  *)
    echo "usage: tools/messages.sh template OUT.pot | update" >&2
    exit 2
    ;;
esac
