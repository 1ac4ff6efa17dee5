#!/bin/sh
# Renders every man page of MAN_DIR as man(1) does and fails on any warning
# of groff, or when the page's title line (with the version) differs from
# its copy in docs/man. A program's page must name every command and every key its
# --help lists, so that the page cannot fall behind the program.
#
#   check-man.sh MAN_DIR [PAGE=PROGRAM...]
set -eu
dir=$1
shift
fail() {
  echo "man: $*" >&2
  exit 1
}

# The pages in docs/man carry the version the build fills into its copies.
source_dir=$(cd "$(dirname "$0")/../../docs/man" && pwd)
for page in "$dir"/*.[0-9]; do
  built=$(sed -n '/^\.TH /{p;q}' "$page")
  source=$(sed -n '/^\.TH /{p;q}' "$source_dir/$(basename "$page")")
  [ "$source" = "$built" ] ||
    fail "docs/man/$(basename "$page") says '$source', the build '$built': update its version"
  warnings=$(groff -man -t -ww -z -Tutf8 "$page" 2>&1) || fail "$page: groff failed: $warnings"
  [ -z "$warnings" ] || fail "$page: $warnings"
  ! grep -n '@[A-Z_]*@' "$page" || fail "$page: variable left unsubstituted"
  rendered=$(MANWIDTH=80 MANPAGER=cat man -l "$page" 2>&1) || fail "$page: man -l failed"
  name=$(basename "$page" | sed 's/\.[0-9]$//')
  printf '%s\n' "$rendered" | grep -q "^       $name - " || fail "$page: no NAME line for $name"
done

# Words at the start of a --help line in the section that HEADING opens:
# commands ("  word  text" or "  word ARG"), and unit keys ("  key=  text").
help_words() {
  awk -v heading="$2" '
    index($0, heading) == 1 { on = 1; next }
    on && /^[^ ]/ { on = 0 }
    on && /^  [a-z][a-z0-9-]*(=|  | [A-Z[]| *$)/ { sub(/^  /, ""); sub(/[= ].*/, ""); print }
  ' "$1"
}

for pair in "$@"; do
  page=${pair%%=*}
  program=${pair#*=}
  help=$(mktemp)
  "$program" --help >"$help" 2>&1 || true
  rendered=$(MANWIDTH=200 MANPAGER=cat man -l "$dir/$page" 2>/dev/null)
  words=$(help_words "$help" "Commands:"; help_words "$help" "unit keys"; help_words "$help" "control commands")
  rm -f "$help"
  [ -n "$words" ] || fail "$program --help lists no commands"
  for word in $words; do
    # A page names a word at the start of a tagged paragraph or table row,
    # alone or in a list ("id U ID, model U CODE").
    printf '%s\n' "$rendered" | grep -Eq "^       (.*, )?$word( |,|$)" ||
      fail "$page does not describe '$word' of $(basename "$program") --help"
  done
done
echo "man ok"
