#!/bin/sh
# What udevd does with a rules file for one event, on a machine without udevd:
# each rule's match keys are checked against the device, and the RUN programs
# of the rules that match are run with %p and %k substituted. It knows the keys
# our rules use; any other key is an error, so a rule it cannot judge never
# passes unnoticed. Fails when no rule matched.
#   apply_udev_rule.sh RULES_FILE ACTION DEVPATH KERNEL
set -eu
rules=$1 action=$2 devpath=$3 kernel=$4
link() { target=$(readlink "/sys$devpath/$1" || true); echo "${target##*/}"; }
subsystem=$(link subsystem) driver=$(link driver)

# udev's "|" alternatives of shell patterns.
matches() {
    set -f
    old_ifs=$IFS IFS='|'
    for alternative in $2; do
        case $1 in $alternative) IFS=$old_ifs; return 0 ;; esac
    done
    IFS=$old_ifs
    return 1
}

keys=$(mktemp)
trap 'rm -f "$keys"' EXIT
# One "KEY<tab>OP<tab>VALUE" line per key of a rule, then "end".
sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$rules" | grep -v '^[[:space:]]*\(#\|$\)' | awk '{
    rest = $0; skipped = ""
    while (match(rest, /[A-Z]+[ \t]*(==|!=|\+=|=)[ \t]*"[^"]*"/)) {
        token = substr(rest, RSTART, RLENGTH); skipped = skipped substr(rest, 1, RSTART - 1)
        rest = substr(rest, RSTART + RLENGTH)
        key = token; sub(/[ \t]*[!+=]=?.*/, "", key)
        op = token; sub(/^[A-Z]+[ \t]*/, "", op); sub(/[ \t]*".*/, "", op)
        value = token; sub(/^[^"]*"/, "", value); sub(/"$/, "", value)
        printf "%s\t%s\t%s\n", key, op, value
    }
    if ((skipped rest) !~ /^[ \t,]*$/) printf "UNPARSED\t\t%s%s\n", skipped, rest
    print "end"
}' > "$keys"

matched=0 holds=1 runs=
while IFS='	' read -r key op value; do
    case $key in
        end)
            if [ $holds = 1 ]; then
                matched=$((matched + 1))
                printf '%s' "$runs" | while read -r program; do
                    echo "udev: RUN $program"
                    $program || exit 1
                done || exit 1
            fi
            holds=1 runs=
            continue ;;
        RUN) runs="$runs$(echo "$value" | sed "s|%p|$devpath|g; s|%k|$kernel|g")
"; continue ;;
        ACTION) actual=$action ;;
        SUBSYSTEM) actual=$subsystem ;;
        KERNEL) actual=$kernel ;;
        DRIVER) actual=$driver ;;
        *) echo "udev: $rules: cannot judge $key$op\"$value\"" >&2; exit 1 ;;
    esac
    if matches "$actual" "$value"; then [ "$op" = "==" ] || holds=0; else [ "$op" = "!=" ] || holds=0; fi
done < "$keys"
[ $matched -gt 0 ] || { echo "udev: no rule of $rules matches $action of $devpath" >&2; exit 1; }
