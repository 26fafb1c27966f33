#!/usr/bin/env bash
# The compiler launcher of the clang tree: ccache, so that another checkout of the tree finds
# the same cache entries.
#
# ccache writes the paths of the options it knows relative to CCACHE_BASEDIR before it hashes a
# command, but not those clang takes behind -Xclang, as CMake passes the precompiled header's
# own: without this, every test program of a checkout at another path would miss the cache.
# A precompiled header that came back from the cache names the header of the checkout that
# made it; a test program that misses the cache then fails on it once that checkout has gone.
# It is compiled again without the precompiled header (the same code, only slower).
set -uo pipefail
args=()
without_pch=()
after_xclang=0
for arg in "$@"; do
    if ((after_xclang)) && [[ -n ${CCACHE_BASEDIR:-} && $arg == "$CCACHE_BASEDIR"/* ]]; then
        arg=$(realpath -m --relative-to=. "$arg")
    fi
    if [[ $arg == -Xclang ]]; then
        after_xclang=1
    else
        after_xclang=0
    fi
    args+=("$arg")
done

errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
ccache "${args[@]}" 2>"$errors"
status=$?
if [[ $status -ne 0 ]] && grep -q "could not find file .* referenced by AST file" "$errors"; then
    # The same command less "-Xclang -include-pch -Xclang <file>".
    for ((i = 0; i < ${#args[@]}; i++)); do
        if [[ ${args[i]} == -Xclang && ${args[i + 1]:-} == -include-pch ]]; then
            i=$((i + 3))
            continue
        fi
        without_pch+=("${args[i]}")
    done
    ccache "${without_pch[@]}"
    exit $?
fi
cat "$errors" >&2
exit $status
