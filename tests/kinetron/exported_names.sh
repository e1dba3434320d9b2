#!/bin/sh
# The names a built libkinetron.so or kinetron.dll exports must be exactly the operations
# that kinetron.h declares: anything more is an inside that programs could come to rely on.
# usage: exported_names.sh LIBRARY KINETRON_H
set -eu
library=$1
header=$2
# Every declaration, whatever its result and parameter types: the name before the first "(".
declared=$(sed -nE 's/^KINETRON_API [^(]*[^a-z_0-9]([a-z_0-9]+)\(.*/\1/p' "$header" | sort)
case "$library" in
*.dll) exported=$(x86_64-w64-mingw32-objdump -p "$library" |
                    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
                    sed -nE 's/^[[:space:]]*\[ *[0-9]+\] ([A-Za-z_0-9]+)$/\1/p' | sort) ;;
*) exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sort) ;;
esac
if [ "$declared" != "$exported" ]; then
    echo "declared in kinetron.h: $(echo $declared)"
    echo "exported by $library: $(echo $exported)"
    exit 1
fi
echo "$(printf '%s\n' "$exported" | wc -l) names exported, as kinetron.h declares"
