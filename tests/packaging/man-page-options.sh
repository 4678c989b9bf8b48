#!/usr/bin/env bash
# Fails when a long option that korvane-fw or one of its commands lists in --help is missing
# from the manual page's source, or the page lacks one of a manual page's sections, naming each
# one: a new option needs its entry in the page.
# usage: man-page-options.sh KORVANE_FW PAGE_SOURCE
set -euo pipefail
program=$1 page=$2

# The program itself, then each command; each --help is read on its own.
commands=("" list check update backup verify inspect report history)

# The long options one --help text lists, one per line.
long_options() { grep -oE -- '(^|[ ,])--[a-z][a-z0-9-]*' | grep -oE -- '--[a-z0-9-]+' | sort -u; }

missing=0
for command in "${commands[@]}"; do
  # shellcheck disable=SC2086
  help=$("$program" $command --help) || { echo "korvane-fw $command --help failed"; exit 1; }
  [ -n "$help" ] || { echo "korvane-fw $command --help printed nothing"; exit 1; }
  while read -r option; do
    # The page sets each option in bold: *--name*.
    if ! grep -qF -- "*$option*" "$page"; then
      echo "korvane-fw ${command:+$command }--help lists $option, which $(basename "$page") does not name"
      missing=1
    fi
  done < <(long_options <<<"$help")
done

sections=(NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" FILES ENVIRONMENT EXAMPLES
  "SEE ALSO")
for section in "${sections[@]}"; do
  grep -qx "# $section" "$page" || { echo "$(basename "$page") has no $section section"; missing=1; }
done
exit "$missing"
