#!/usr/bin/env bash
# What a client links brings no symbol that could clash with the client's own:
# every global symbol the archive defines is in the quorva namespace (or the
# standard library's), none is the host's internals' or nlohmann's, and it
# needs none of theirs from elsewhere either.
#   own_symbols.sh ARCHIVE
set -euo pipefail
archive=$1
fail() {
    echo "FAIL: $archive: $*" >&2
    exit 1
}
# nm -C prints "address type name..." per symbol, a header per member.
defined=$(nm -C --defined-only -g "$archive" | awk 'NF >= 3 && $1 ~ /^[0-9a-f]+$/ { $1 = $2 = ""; print substr($0, 3) }')
undefined=$(nm -C -u "$archive" | awk '$1 ~ /^[Uwv]$/ { $1 = ""; print substr($0, 2) }')
foreign='(^|[^[:alnum:]_])(app|platform|supervision|nlohmann)::'
grep -qE '^quorva::startHost\(' <<<"$defined" || fail "quorva::startHost is not among its global symbols"
if grep -E "$foreign" <<<"$defined" >&2; then fail "defines the global symbols above"; fi
if grep -vE '(^|[^[:alnum:]_])(quorva|std)::' <<<"$defined" >&2; then fail "defines the global symbols above"; fi
if grep -E "$foreign" <<<"$undefined" >&2; then fail "needs the symbols above from elsewhere"; fi
echo "ok: $(wc -l <<<"$defined") global symbols, all quorva's or the standard library's"
