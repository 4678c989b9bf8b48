#!/usr/bin/env bash
# Bash completion of korvane-fw, with bash-completion's helpers stood in for: --simulate offers
# the scenario names the program itself prints, and the commands and options complete.
# usage: completion.sh KORVANE_FW COMPLETION_FILE
set -euo pipefail
fw=$1
_init_completion() {
  words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
}
_filedir() { :; }
# shellcheck source=/dev/null
source "$2"

# complete WORD...: what completing the last word offers, one a line, sorted.
complete_line() {
  COMP_WORDS=("$fw" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _korvane_fw "$fw" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

fail() { echo "completion: $*" >&2; exit 1; }

listed=$("$fw" --list-scenarios | sort)
[ -n "$listed" ] || fail "--list-scenarios printed nothing"
grep -qx jms583-outdated <<<"$listed" || fail "--list-scenarios lacks jms583-outdated: $listed"
[ "$(complete_line --simulate '')" = "$listed" ] || fail "--simulate offers: $(complete_line --simulate '')"
[ "$(complete_line --simulate jms583-o)" = jms583-outdated ] || fail "--simulate jms583-o"
[ "$(complete_line --simulate two-enclosures --dev)" = --device ] || fail "--dev"
[ "$(complete_line che)" = check ] || fail "che"
grep -qx -- --no-replug <<<"$(complete_line update --no)" || fail "update --no"
[ "$(complete_line ver)" = verify ] || fail "ver"
[ "$(complete_line ins)" = inspect ] || fail "ins"
[ "$(complete_line verify --w)" = --wait ] || fail "verify --w"
echo "completion: scenario names, commands and options complete"
