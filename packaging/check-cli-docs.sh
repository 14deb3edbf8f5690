#!/usr/bin/env bash
# Fails when tallox-cli has an option, an option value or a record field that its manual page or
# its shell completions do not know: the help text and the CSV header are the reference.
# Usage: check-cli-docs.sh TALLOX_CLI MAN_PAGE BASH_COMPLETION ZSH_COMPLETION
set -euo pipefail
cli=$1 page=$2 completion=$3 zsh_completion=$4
status=0
missing() {
    echo "check-cli-docs: $1" >&2
    status=1
}

# Help lines look like "  -o,--output TEXT REQUIRED" or "  --format TEXT:{text,csv,json}".
for help in "$("$cli" --help)" "$("$cli" encode --help)" "$("$cli" compare --help)"; do
    while read -r option values; do
        grep -qF -- "${option//-/\\-}" "$page" || missing "$option is not in $page"
        grep -qF -- "$option" "$zsh_completion" || missing "$option is not in $zsh_completion"
        table_line=$(grep -F -- "[$option]=" "$completion") || {
            missing "$option is not in $completion"
            continue
        }
        for value in ${values//,/ }; do
            [[ " ${table_line//[\",=]/ } " == *" $value "* ]] ||
                missing "$option $value is not in $completion"
        done
    done < <(sed -nE 's/^  (-[a-z],)?(--[a-z-]+)( [A-Z]+:\{([^}]*)\})?.*/\2 \4/p' <<<"$help")
done

header=$("$cli" --codecs rle --iterations 1 --format csv --no-progress | sed -n 1p)
for field in ${header//,/ }; do
    grep -qF -- ".IP \\fB$field\\fP" "$page" || missing "record field $field is not in $page"
done
exit $status
