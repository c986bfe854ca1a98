#!/usr/bin/env bash
# Checks the dynamic symbols of librvkcore: what the installed headers declare for hosts, and no
# standard-library instantiation or private member besides. Prints each offending symbol.
set -euo pipefail
library=$1
symbols=$(nm -D --defined-only -C "$library" | cut -d' ' -f3-)
bad=$(printf '%s\n' "$symbols" | grep -E \
  -e '^std::' -e '[*&] std::' -e '^(void|bool|char|int|long|unsigned) std::' \
  -e 'RepoIgnore::(load|addRule)' -e '::(detail|internal)::' || true)
foreign=$(printf '%s\n' "$symbols" | grep -v -E \
  -e '^(common|corekit::json)::' -e '^(typeinfo|typeinfo name|vtable) for (common|corekit::json)::' \
  -e '^generateSha' -e '^RVKCORE_' || true)
if [ -n "$bad$foreign" ]; then
  printf 'exported but not part of the interface:\n%s\n%s\n' "$bad" "$foreign"
  exit 1
fi
echo "$(printf '%s\n' "$symbols" | wc -l) exported symbols, all declared for hosts"
