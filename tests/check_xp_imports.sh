#!/usr/bin/env bash
# Fails when a Windows program could not start on Windows XP SP3: when it
# imports a function that is not in the list of XP exports (tests/xp_exports.txt:
# each entry checked by hand, see the comments there), imports by ordinal, or
# asks for a Windows version above 5.01 in its PE header.
#
#   check_xp_imports.sh OBJDUMP PROGRAM.exe EXPORTS.txt
set -uo pipefail
export LC_ALL=C  # sort and comm must agree on the order
objdump="$1"
program="$2"
exports="$3"

headers=$("$objdump" -p "$program") || { echo "cannot read $program" >&2; exit 2; }

# Every import as "dll function", the DLL name in lower case. objdump lists
# each DLL's table under "DLL Name:", one import a line (hint RVA, hint, name),
# up to a blank line; an import by ordinal has "<none>" for its name.
imports=$(awk '
    /^\tDLL Name: / { dll = tolower($3); next }
    dll != "" && NF == 0 { dll = ""; next }
    dll != "" && $1 ~ /^[0-9a-f]+$/ && NF >= 3 { print dll, ($3 == "<none>" ? "<ordinal>" : $3) }
' <<<"$headers")
if [ -z "$imports" ]; then
    echo "no imports found in $program: objdump's output was not understood" >&2
    exit 2
fi

allowed=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$exports" | awk '{ print tolower($1), $2 }' | sort -u)

status=0
if grep -q ' <ordinal>$' <<<"$imports"; then
    grep ' <ordinal>$' <<<"$imports" | while read -r dll _; do
        echo "$program imports from $dll by ordinal, which can't be checked" >&2
    done
    status=1
fi
missing=$(grep -v ' <ordinal>$' <<<"$imports" | sort -u | comm -23 - <(printf '%s\n' "$allowed"))
if [ -n "$missing" ]; then
    sed 's/$/: not in the list of Windows XP exports/' <<<"$missing" >&2
    status=1
fi

# The loader of XP refuses a program whose subsystem version is above 5.01;
# the OS version is checked the same way, as the XP target sets it too.
for field in OSystem Subsystem; do
    major=$(awk -v f="Major${field}Version" '$1 == f { print $2 }' <<<"$headers")
    minor=$(awk -v f="Minor${field}Version" '$1 == f { print $2 }' <<<"$headers")
    if [ -z "$major" ] || [ -z "$minor" ]; then
        echo "no ${field} version in the PE header of $program" >&2
        status=1
    elif [ "$major" -gt 5 ] || { [ "$major" -eq 5 ] && [ "$minor" -gt 1 ]; }; then
        echo "${field} version $major.$minor in the PE header: Windows XP needs 5.01 or lower" >&2
        status=1
    fi
done

count=$(wc -l <<<"$imports")
if [ $status -eq 0 ]; then
    echo "$program: all $count imports are exported by Windows XP; PE versions 5.01 or lower"
fi
exit $status
