#!/usr/bin/env bash
# Checks an installation of the kit the way its users meet it.
#
#   packaging/check-install.sh <build-dir>
#
# The build directory must be configured and built (every target). The script
#  1. installs it into a temporary prefix and moves the installed tree elsewhere, so that
#     any absolute path left behind shows up;
#  2. builds the outside example program against the moved tree, once with find_package
#     and once with pkg-config, and runs both on the simulated chain;
#  3. runs installed tools on the simulated chain, through their relative RUNPATH, and the
#     installed Python package, which finds the kit's library on its own;
#  4. builds the .deb and the .tar.gz and checks the .deb's file list;
#  5. lints every manual page (mandoc -T lint, groff -ww, man -l);
#  6. installs the Python package from the source tree with pip into a virtual environment,
#     without network.
# It prints one line per check and exits 0 only when every check passed.
set -u -o pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
    echo "usage: $0 <build-dir>   (a configured and built build directory)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kinetron-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The Python the build chose (KINETRON_PYTHON), else python3.
python=$(sed -n 's/^KINETRON_PYTHON:FILEPATH=//p' "$build/CMakeCache.txt")
python=${python:-python3}
# Prints servo 1's present position on the simulated chain through the kinetron package
# found on PYTHONPATH=$1, or the error.
python_reads_sim() {
    env -u KINETRON_LIBRARY PYTHONPATH="$1" "$python" -B -c '
import kinetron
with kinetron.Bus("sim") as bus:
    bus.change_baud(35)
    print("servo 1: present position", bus.read_word(1, kinetron.ADDR_PRESENT_POSITION))' 2>&1
}

programs="posetape jointwatch swingtest regbyte regword holdswitch linkspeed factoryclear
          linkprobe servoscan frameplot servocheck servoreg motiontape servosim"
failures=0
pass() { echo "ok      $*"; }
fail() { echo "FAILED  $*"; failures=$((failures + 1)); }
# Runs a command quietly; on failure shows its output.
quietly() {
    local log="$work/last.log"
    if "$@" >"$log" 2>&1; then return 0; fi
    sed 's/^/        | /' "$log" | tail -n 30
    return 1
}
# The installed tools must find their library on their own: no search path from outside.
unset LD_LIBRARY_PATH DYLD_LIBRARY_PATH

# 1. Install, then move the installed tree.
staged="$work/staged"
prefix="$work/moved/kinetron"
if quietly cmake --install "$build" --prefix "$staged"; then
    pass "cmake --install into a temporary prefix"
else
    fail "cmake --install"; exit 1
fi
mkdir -p "$work/moved" && mv "$staged" "$prefix"

for program in $programs; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
    man -M "$prefix/share/man" -w "$program" >/dev/null 2>&1 || fail "man does not find the page of $program"
done
pc_file=$(find "$prefix" -name kinetron.pc -path '*/pkgconfig/*' | head -n 1)
config_file=$(find "$prefix" -name kinetronConfig.cmake | head -n 1)
libdir=${pc_file%/pkgconfig/kinetron.pc}
for file in "$prefix/include/kinetron/kinetron.h" "$prefix/include/kinetron/registers.h" \
            "$prefix/share/kinetron/99-kinetron.rules" "$pc_file" "$config_file"; do
    [ -n "$file" ] && [ -f "$file" ] || fail "missing from the installed tree: ${file:-kinetron.pc or kinetronConfig.cmake}"
done
ls "$libdir"/libkinetron.so* >/dev/null 2>&1 || ls "$libdir"/libkinetron.*dylib >/dev/null 2>&1 ||
    fail "libkinetron is not in $libdir"
ls "$prefix"/share/kinetron/samples/*.csv >/dev/null 2>&1 || fail "no sample frame file installed"
[ -f "$prefix/share/kinetron/models/models.txt" ] || fail "the model table (share/kinetron/models/) is not installed"
[ -e "$prefix/lib/d2xx-fake" ] && fail "the fake D2XX backend was installed"
if leftovers=$(grep -rlF -e "$staged" -e "$build" "$prefix" --include='*.cmake' --include='*.pc'); then
    fail "absolute build or install paths in: $leftovers"
fi
pass "installed tree: programs, manual pages, library, headers, package files, samples, model table, udev rule"

if command -v readelf >/dev/null; then
    bad_runpath=""
    for program in $programs; do
        [ -x "$prefix/bin/$program" ] || continue
        runpath=$(readelf -d "$prefix/bin/$program" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
        # Every entry must start at the program's own directory (linkprobe has two: the
        # kit's private lib/kinetron/ for its USB backend, then lib/).
        for entry in $(printf '%s' "$runpath" | tr ':' ' '); do
            case "$entry" in
                '$ORIGIN/../'*) ;;
                *) bad_runpath="$bad_runpath $program($runpath)"; break ;;
            esac
        done
        [ -n "$runpath" ] || bad_runpath="$bad_runpath $program(none)"
    done
    if [ -z "$bad_runpath" ]; then pass "every program's RUNPATH is relative to the program"
    else fail "RUNPATH not relative:$bad_runpath"; fi
fi

# 2. The outside example, against the moved tree.
expected="servo 1: present position 512"
if quietly cmake -S "$source_dir/packaging/example" -B "$work/example-cmake" \
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release &&
   quietly cmake --build "$work/example-cmake"; then
    got=$(KINETRON_DEVICE=sim "$work/example-cmake/read_position" 1 35 2>&1)
    if [ "$got" = "$expected" ]; then pass "example built with find_package(kinetron) runs: $got"
    else fail "example built with find_package printed '$got', expected '$expected'"; fi
else
    fail "example does not build with find_package(kinetron)"
fi

export PKG_CONFIG_PATH="$libdir/pkgconfig"
if flags=$(pkg-config --cflags --libs kinetron) &&
   quietly ${CC:-cc} -std=c99 -Wall -Wextra -pedantic -Werror \
        "$source_dir/packaging/example/read_position.c" $flags -Wl,-rpath,"$libdir" \
        -o "$work/read_position_pc"; then
    # As the README tells a user of a prefix outside the loader's paths: a run path.
    got=$(KINETRON_DEVICE=sim "$work/read_position_pc" 1 35 2>&1)
    if [ "$got" = "$expected" ]; then pass "example built with pkg-config ($flags) runs"
    else fail "example built with pkg-config printed '$got', expected '$expected'"; fi
else
    fail "example does not build with pkg-config"
fi
# A mixed chain, protocol 1.0 and 2.0, through servosim's pseudo-terminal: ping, positions by
# register name, one SYNC_READ, a move with torque on, the id refused while torque is on.
if quietly ${CC:-cc} -std=c99 -Wall -Wextra -pedantic -Werror \
        "$source_dir/packaging/example/every_model.c" $flags -o "$work/every_model"; then
    device=sim:ids=1-3+4-6#1060
    if [ -x "$prefix/bin/servosim" ]; then
        "$prefix/bin/servosim" ids=1-3+4-6#1060 > "$work/servosim.out" 2>/dev/null &
        servosim_pid=$!
        for _ in $(seq 100); do [ -s "$work/servosim.out" ] && break; sleep 0.1; done
        device=$(head -n 1 "$work/servosim.out")
    fi
    got=$(LD_LIBRARY_PATH="$libdir" KINETRON_DEVICE="$device" "$work/every_model" 1 3 4 6 2>&1)
    [ -n "${servosim_pid:-}" ] && kill "$servosim_pid" 2>/dev/null
    if printf '%s\n' "$got" | grep -q "^servo 6: protocol 2 model 1060 present_position" &&
       printf '%s\n' "$got" | grep -q "^one SYNC_READ: 4:[0-9]* 5:[0-9]* 6:[0-9]*$" &&
       printf '%s\n' "$got" | grep -q "^servo 5: writing its id with torque on: error number 7 (access error)$"; then
        pass "every_model.c built with pkg-config runs on $device"
    else fail "every_model.c on $device printed: $got"; fi
else
    fail "every_model.c does not build with pkg-config"
fi
unset PKG_CONFIG_PATH

# 3. Installed tools on the simulated chain.
if [ -x "$prefix/bin/regword" ]; then
    expected_regword="usage: regword <id> <baudnum> <offsetAddr> [<wordValue>]
current: regword <id=1> <baudnum=35> <offsetAddr=36> [<wordValue=-1>]
Succeed to open USB2Kinetron!
Original WORD value at addr 36, motor 1, baud 35: 512 
Now: 512 512 512 512 512 512 512 512 512 512 "
    got=$(KINETRON_DEVICE=sim "$prefix/bin/regword" 1 35 36 </dev/null 2>&1)
    status=$?
    if [ "$got" = "$expected_regword" ] && [ $status -eq 0 ]; then
        pass "installed regword reads servo 1 on the simulated chain"
    else
        fail "installed regword: status $status, output:"; printf '%s\n' "$got" | sed 's/^/        | /'
    fi
fi
if [ -x "$prefix/bin/linkprobe" ] && [ -d "$build/lib/d2xx-real" ]; then
    # The installed linkprobe finds its USB backend in the kit's own library directory
    # (status 1 without an adapter; a backend the loader cannot find gives 127).
    env -u LD_LIBRARY_PATH "$prefix/bin/linkprobe" >"$work/probe.log" 2>&1 </dev/null
    status=$?
    if [ $status -le 1 ] && grep -q '^Number of USB devices is' "$work/probe.log"; then
        pass "installed linkprobe loads its USB backend"
    else
        fail "installed linkprobe:"; sed 's/^/        | /' "$work/probe.log"
    fi
fi
if [ -x "$prefix/bin/posetape" ]; then
    for sample in "$prefix"/share/kinetron/samples/*.csv; do
        [ -f "$sample" ] || continue
        if KINETRON_DEVICE=sim "$prefix/bin/posetape" PLAY "$sample" 0 31 35 0 >"$work/play.log" 2>&1 </dev/null &&
           ! grep -q -e Warning -e ERROR "$work/play.log"; then
            pass "installed posetape plays $(basename "$sample") on the simulated chain"
        else
            fail "installed posetape PLAY $(basename "$sample"):"; tail -n 5 "$work/play.log" | sed 's/^/        | /'
        fi
    done
fi
py_init=$(find "$prefix" -path '*/kinetron/__init__.py' | head -n 1)
if [ -z "$py_init" ]; then
    fail "the Python package kinetron is not installed"
else
    got=$(python_reads_sim "$(dirname "$(dirname "$py_init")")")
    if [ "$got" = "$expected" ]; then pass "installed Python package reaches sim: ${py_init#$prefix/}"
    else fail "installed Python package printed:"; printf '%s\n' "$got" | sed 's/^/        | /'; fi
fi

# 4. Packages.
if ! command -v dpkg-deb >/dev/null; then
    fail "dpkg-deb not found (Debian package dpkg)"
elif quietly cpack --config "$build/CPackConfig.cmake" -B "$work/packages" -G "DEB;TGZ"; then
    deb=$(ls "$work"/packages/*.deb 2>/dev/null | head -n 1)
    tgz=$(ls "$work"/packages/*.tar.gz 2>/dev/null | head -n 1)
    [ -n "$tgz" ] && tar -tzf "$tgz" | grep '/bin/posetape$' >/dev/null || fail "the .tar.gz lacks bin/posetape"
    if [ -z "$deb" ]; then
        fail "cpack made no .deb"
    else
        dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./||' >"$work/deb.list"
        missing=""
        for program in $programs; do
            grep -qx "usr/bin/$program" "$work/deb.list" || missing="$missing usr/bin/$program"
            grep -qx "usr/share/man/man1/$program.1.gz" "$work/deb.list" || missing="$missing $program.1.gz"
        done
        for pattern in 'usr/lib/\(.*/\)\{0,1\}libkinetron\.so.*' 'usr/include/kinetron/kinetron\.h' \
                       'usr/include/kinetron/registers\.h' 'usr/lib/.*cmake/kinetron/kinetronConfig\.cmake' \
                       'usr/lib/.*pkgconfig/kinetron\.pc' 'usr/share/kinetron/samples/.*\.csv' \
                       'usr/share/kinetron/99-kinetron\.rules' 'usr/share/kinetron/models/models\.txt' 'usr/lib/python3/dist-packages/kinetron/__init__\.py' \
                       'usr/lib/python3/dist-packages/kinetron/_install\.py'; do
            grep -q "^$pattern\$" "$work/deb.list" || missing="$missing $pattern"
        done
        if [ -d "$build/lib/d2xx-real" ]; then
            grep -q '^usr/lib/\(.*/\)\{0,1\}kinetron/libftd2xx\.so' "$work/deb.list" || missing="$missing libftd2xx.so"
        fi
        unwanted=$(grep -E '(fake|libgtest|/gtest|_test$|/tests?/|^etc/|d2xx-|harness)' "$work/deb.list")
        # The unpacked package works where it lands, as the installed tree does.
        dpkg-deb -x "$deb" "$work/deb-root"
        got=$(KINETRON_DEVICE=sim "$work/deb-root/usr/bin/regword" 1 35 36 </dev/null 2>&1 | tail -n 1)
        [ "$got" = "Now: 512 512 512 512 512 512 512 512 512 512 " ] ||
            fail "regword unpacked from the .deb printed '$got'"
        py_dir=$(find "$work/deb-root" -path '*/kinetron/__init__.py' -exec dirname {} \; | head -n 1)
        got=$(python_reads_sim "$(dirname "${py_dir:-/nonexistent/x}")")
        [ "$got" = "$expected" ] || fail "the Python package unpacked from the .deb printed '$got'"
        if [ -z "$missing" ] && [ -z "$unwanted" ]; then
            pass "$(basename "$deb"): $(grep -cv '/$' "$work/deb.list") files, all expected, nothing extra; Depends: $(dpkg-deb -f "$deb" Depends)"
        else
            fail "$(basename "$deb"): missing:${missing:- none}; unwanted: ${unwanted:-none}"
        fi
    fi
else
    fail "cpack -G DEB;TGZ"
fi

# 5. Manual pages.
lint_failed=""
for page in "$source_dir"/man/*.1; do
    name=$(basename "$page")
    out=$( { mandoc -T lint -W warning "$page" 2>&1 | sed "s|$source_dir/||";
             groff -ww -man -z "$page" 2>&1;
             MANWIDTH=80 man -l "$page" 2>&1 >/dev/null; } )
    if [ -n "$out" ]; then
        lint_failed="$lint_failed $name"
        printf '%s\n' "$out" | sed 's/^/        | /'
    fi
done
if [ -z "$lint_failed" ]; then pass "every manual page renders without a warning (mandoc -T lint, groff -ww, man -l)"
else fail "manual pages with warnings:$lint_failed"; fi

# 6. pip from the source tree, into a virtual environment that sees the system's setuptools
# (Debian: python3-venv, python3-setuptools, python3-wheel); no network.
venv="$work/venv"
leftovers=""
for made in "$source_dir/python/build" "$source_dir/python/kinetron.egg-info"; do
    [ -e "$made" ] || leftovers="$leftovers $made"  # setuptools builds inside the tree
done
if quietly "$python" -m venv --system-site-packages "$venv" &&
   quietly env PIP_NO_INDEX=1 "$venv/bin/python" -m pip install --no-build-isolation --no-cache-dir "$source_dir/python"; then
    # Installed apart from the kit, the package finds the library through KINETRON_LIBRARY.
    library=$(ls "$build"/lib/libkinetron.so 2>/dev/null | head -n 1)
    got=$(cd "$work" && PYTHONPATH= KINETRON_LIBRARY="$library" "$venv/bin/python" -B -c '
import kinetron
with kinetron.Bus("sim") as bus:
    bus.change_baud(35)
    print(kinetron.__file__.startswith("'"$venv/"'"), bus.read_word(1, kinetron.ADDR_PRESENT_POSITION))' 2>&1)
    if [ "$got" = "True 512" ]; then pass "pip install --no-build-isolation ./python, no network: the package reaches sim"
    else fail "the package pip installed printed '$got'"; fi
else
    fail "pip install --no-build-isolation ./python into a virtual environment"
fi
[ -z "$leftovers" ] || rm -rf $leftovers

if [ $failures -eq 0 ]; then
    echo "check-install: all checks passed"
    exit 0
fi
echo "check-install: $failures check(s) failed"
exit 1
