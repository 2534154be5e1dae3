#!/bin/sh
# What udevd does with a rules file for one event, on a machine without udevd:
# the RUN programs of each rule whose match keys all hold for the device, with
# %p and %k substituted. A key it does not know is an error, so that a rule it
# cannot judge never passes unnoticed; so is a file in which no rule matched.
#   apply_udev_rule.sh RULES_FILE ACTION DEVPATH KERNEL
set -eu
link() { target=$(readlink "/sys$3/$1" || true); echo "$2=${target##*/}"; }
programs=$(sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$1" | awk -v "ACTION=$2" -v "KERNEL=$4" -v "p=$3" \
    -v "$(link subsystem SUBSYSTEM "$3")" -v "$(link driver DRIVER "$3")" '
    function holds(actual, patterns,   n, i, alternative) {  # "|" alternatives of shell patterns
        n = split(patterns, alternative, "|")
        for (i = 1; i <= n; i++) {
            gsub(/\./, "\\.", alternative[i]); gsub(/\*/, ".*", alternative[i]); gsub(/\?/, ".", alternative[i])
            if (actual ~ ("^" alternative[i] "$")) return 1
        }
        return 0
    }
    /^[ \t]*(#|$)/ { next }
    {
        known["ACTION"] = ACTION; known["KERNEL"] = KERNEL; known["SUBSYSTEM"] = SUBSYSTEM; known["DRIVER"] = DRIVER
        line = $0; matched = 1; run = ""; rest = ""
        while (match(line, /[A-Z]+(==|!=|\+=)"[^"]*"/)) {
            rest = rest substr(line, 1, RSTART - 1)
            key = substr(line, RSTART, RLENGTH); line = substr(line, RSTART + RLENGTH)
            op = key; sub(/^[A-Z]+/, "", op); op = substr(op, 1, 2)
            value = key; sub(/^[^"]*"/, "", value); sub(/"$/, "", value); sub(/[!=+]=.*/, "", key)
            if (key == "RUN" && op == "+=") { gsub(/%p/, p, value); gsub(/%k/, KERNEL, value); run = run value "\n" }
            else if (key in known && op != "+=") matched = matched && holds(known[key], value) == (op == "==")
            else { print "cannot judge " key op value > "/dev/stderr"; failed = 1; exit 1 }
        }
        if ((rest line) !~ /^[ \t,]*$/) { print "cannot judge " rest line > "/dev/stderr"; failed = 1; exit 1 }
        if (matched) { printf "%s", run; rules++ }
    }
    END { if (!failed && !rules) { print "no rule matches " ACTION " of " p > "/dev/stderr"; exit 1 } }')
echo "$programs" | while read -r program; do
    echo "udev: RUN $program"
    $program
done
