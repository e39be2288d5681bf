#!/usr/bin/env bash
# Keeps the folders of src/ in one order of layers, lowest first: a file may
# include only headers of its own layer or a lower one, and the object files
# of a layer may leave undefined only symbols that its own layer, a lower
# one or a library outside src/ defines. The second rule catches a call up
# the order that hides behind a local declaration instead of an include.
# Within a layer, no file calls back into a file that calls it, directly or
# round a longer circle.
#
#   layering_test.sh <src directory> <file listing the core's object files>
set -euo pipefail

src_dir="$1"
object_list="$2"

layers=(base data plot animation stroke mds draw shapes brush listing session interaction idle records bins render app)

# Arrows allowed to run up the order: at most five, each with its reason.
# One line each: "include <file under src> <included header> | reason" or
# "symbol <layer> <mangled symbol> | reason".
exceptions=(
)

max_exceptions=5
status=0
fail() {
    echo "$*" >&2
    status=1
}

command -v nm >/dev/null || { echo "nm not found" >&2; exit 1; }
demangle() { if command -v c++filt >/dev/null; then c++filt; else cat; fi; }

declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

if [ "${#exceptions[@]}" -gt "$max_exceptions" ]; then
    fail "${#exceptions[@]} exceptions listed; at most $max_exceptions are allowed"
fi
declare -A excepted used
for line in "${exceptions[@]}"; do
    read -r -a words <<< "${line%%|*}"
    key="${words[*]}"
    reason="${line#*|}"
    if [ "${line%%|*}" = "$line" ] || ! [[ "$reason" =~ [^[:space:]] ]]; then
        fail "exception without a reason: $line"
    fi
    excepted[$key]=1
done

# Every folder of src/ is a layer.
for dir in "$src_dir"/*/; do
    name="$(basename "$dir")"
    [ -n "${rank[$name]+x}" ] || fail "src/$name is no layer: place it in the order of $0"
done

# ---------------------------------------------------------------- includes

arrows=0
while IFS= read -r -d '' file; do
    rel="${file#"$src_dir"/}"
    from="${rel%%/*}"
    while IFS= read -r header; do
        case "$header" in
            */*) to="${header%%/*}" ;;
            *) to="$from" ;;
        esac
        arrows=$((arrows + 1))
        if [ -z "${rank[$to]+x}" ]; then
            fail "$rel includes \"$header\", which is in no layer"
        elif [ "${rank[$to]}" -gt "${rank[$from]}" ]; then
            key="include $rel $header"
            if [ -n "${excepted[$key]+x}" ]; then
                used[$key]=1
            else
                fail "$rel ($from) includes \"$header\" from the higher layer $to"
            fi
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "$src_dir" -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' \) -print0)

# ---------------------------------------------------------------- symbols

# One line per global symbol of an object file: "<layer> D|U <symbol> <file>
# <nm type>".
table="$(mktemp)"
trap 'rm -f "$table"' EXIT
objects=0
while IFS= read -r object; do
    [ -n "$object" ] || continue
    rel="${object##*/src/}"
    layer="${rel%%/*}"
    if [ "$rel" = "$object" ] || [ -z "${rank[$layer]+x}" ]; then
        fail "object file $object lies in no layer of src/"
        continue
    fi
    [ -f "$object" ] || { fail "object file $object is missing: build korvelline_core first"; continue; }
    objects=$((objects + 1))
    nm -P "$object" | awk -v layer="$layer" -v file="${rel%.o}" '
        $2 == "U" || $2 == "w" { print layer, "U", $1, file, $2; next }
        $2 ~ /^[A-TV-Z]$/ || $2 == "u" { print layer, "D", $1, file, $2 }'
done < "$object_list" > "$table"

ranks=""
for l in "${layers[@]}"; do ranks="$ranks $l=${rank[$l]}"; done
# "<layer> <symbol> <lowest defining layer>" for every undefined symbol that
# only higher layers define, and a count of the symbols resolved downwards.
report="$(awk -v ranks="$ranks" '
    BEGIN { n = split(ranks, pairs, " "); for (i = 1; i <= n; ++i) { split(pairs[i], kv, "="); r[kv[1]] = kv[2] } }
    $2 == "D" { if (!($3 in low) || r[$1] < r[low[$3]]) low[$3] = $1; next }
    { need[$1 " " $3] = 1 }
    END {
        down = 0
        for (k in need) {
            split(k, f, " ")
            if (!(f[2] in low)) continue
            if (r[low[f[2]]] > r[f[1]]) print "up", f[1], f[2], low[f[2]]
            else if (low[f[2]] != f[1]) ++down
        }
        print "down", down
    }' "$table")"

down="$(echo "$report" | awk '$1 == "down" { print $2 }')"
while read -r kind layer symbol definer; do
    [ "$kind" = up ] || continue
    key="symbol $layer $symbol"
    if [ -n "${excepted[$key]+x}" ]; then
        used[$key]=1
    else
        fail "$layer calls $(echo "$symbol" | demangle) ($symbol), which only the higher layer $definer defines"
    fi
done <<< "$report"

# ---------------------------------------------------------------- circles

# Files that call into each other: peel off every file that calls no file
# left or that no file left calls, again and again; what remains lies on a
# circle of calls. Only strong definitions count: inline functions and
# templates are defined wherever they are used.
circled="$(awk '
    $2 == "D" && $5 ~ /^[TDBR]$/ { owner[$3] = $4; next }
    $2 == "U" { need[$4 " " $3] = 1 }
    END {
        for (k in need) {
            split(k, f, " ")
            if (!(f[2] in owner) || owner[f[2]] == f[1] || ((f[1] " " owner[f[2]]) in edge)) continue
            edge[f[1] " " owner[f[2]]] = 1
            out[f[1]]++
            into[owner[f[2]]]++
            from[owner[f[2]]] = from[owner[f[2]]] " " f[1]
            to[f[1]] = to[f[1]] " " owner[f[2]]
            live[f[1]] = 1
            live[owner[f[2]]] = 1
        }
        do {
            peeled = 0
            for (v in live) {
                if (out[v] > 0 && into[v] > 0) continue
                delete live[v]
                peeled = 1
                n = split(from[v], other, " ")
                for (i = 1; i <= n; ++i) out[other[i]]--
                n = split(to[v], other, " ")
                for (i = 1; i <= n; ++i) into[other[i]]--
            }
        } while (peeled)
        for (v in live) print v
    }' "$table" | sort)"
[ -z "$circled" ] || fail "files calling each other round a circle: $(echo $circled)"

for key in "${!excepted[@]}"; do
    [ -n "${used[$key]+x}" ] || fail "exception no longer needed: $key"
done

# A check that saw nothing would pass whatever the code does.
[ "$arrows" -gt 0 ] || fail "no includes found under $src_dir"
[ "$objects" -gt 0 ] || fail "no object files listed in $object_list"
[ "${down:-0}" -gt 0 ] || fail "no symbol of one layer resolved in another: is nm's output read right?"

if [ "$status" -eq 0 ]; then
    echo "layers in order (${layers[*]}): $arrows includes, $objects object files, $down symbols used from lower layers"
fi
exit "$status"
