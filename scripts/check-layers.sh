#!/usr/bin/env bash
# Every include points down the layers: a folder includes only from itself and from folders of a
# lower layer. Folders of one layer do not include each other. Run by ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

# Layer of each folder, lowest first.
declare -A layer=(
    [protocol]=0 [disk]=0 [base]=1 [files]=2 [link]=2 [send]=3 [receive]=3 [run]=4
    [platform]=5 [ui]=6 [cli]=6 [sim]=6
)

bad=0
for folder in "${!layer[@]}"; do
    [ -d "$folder" ] || continue
    while IFS=: read -r file _ include; do
        target=${include#*\"}
        target=${target%%/*}
        [ -n "${layer[$target]+set}" ] || continue
        if [ "$target" != "$folder" ] && [ "${layer[$target]}" -ge "${layer[$folder]}" ]; then
            echo "$file includes from $target/, which is not below $folder/"
            bad=1
        fi
    done < <(grep -rn '^#include "' "$folder" --include='*.h' --include='*.cpp' || true)
done
exit $bad
