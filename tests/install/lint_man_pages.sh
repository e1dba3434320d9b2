#!/usr/bin/env bash
# Every program has a manual page, named after it, that renders without a warning.
#   lint_man_pages.sh <man-dir> <program>...
set -u
man_dir=$1; shift
failures=0
for program in "$@"; do
    page="$man_dir/$program.1"
    if [ ! -f "$page" ]; then
        echo "$program: no manual page $page"; failures=$((failures + 1)); continue
    fi
    # The NAME line is what apropos and whatis index: "<program> \- <summary>".
    if ! grep -q "^$program \\\\- ." "$page"; then
        echo "$program: NAME line does not read '$program \\- ...'"; failures=$((failures + 1))
    fi
    if ! grep -q '^\.SH EXIT STATUS' "$page" || ! grep -q '^\.SH SYNOPSIS' "$page"; then
        echo "$program: SYNOPSIS or EXIT STATUS section missing"; failures=$((failures + 1))
    fi
    warnings=$( { mandoc -T lint -W warning "$page"; groff -ww -man -z "$page"; } 2>&1)
    if [ -n "$warnings" ]; then
        echo "$program:"; printf '%s\n' "$warnings"; failures=$((failures + 1))
    fi
done
# Each text a page quotes, as man and mandoc show it, is a whole run of words of a text the kit
# prints (a conversion such as %d stands for a word), and each opening quote comes out as one.
python3 - "$man_dir" "$@" <<'CHECK' || failures=$((failures + 1))
import os, pathlib, re, subprocess, sys
man, literals, bad = pathlib.Path(sys.argv[1]), [], 0
for source in [f for d in ("bus", "example", "sim") for f in (man.parent / d).rglob("*.cpp")]:
    text = re.sub(r'"\s*\n\s*"', "", re.sub(r"'(\\.|[^'\\])'", "", source.read_text()))
    for line in r"\n".join(re.findall(r'"((?:[^"\\\n]|\\.)*)"', text)).split(r"\n"):
        literals.append([re.compile(".*".join(map(re.escape, re.split(r"%[-+ #0-9.*]*[hlz]*[a-zA-Z]", w))))
                         for w in line.split()])
def printed(q):  # a run of conversions alone would match anything: it takes a word of text
    return any(all(map(re.Pattern.fullmatch, l[i:], q)) and any(p.pattern != ".*" for p in l[i:i + len(q)])
               for l in literals for i in range(len(l) - len(q) + 1))
for page in [man / (program + ".1") for program in sys.argv[2:]]:
    for render in (["man", "-l"], ["mandoc", "-T", "utf8", "-O", "width=1000"]):
        shown = subprocess.run(render + [str(page)], capture_output=True, text=True,
                               env=dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="1000")).stdout
        quoted = [q.split() for q in re.findall("“([^”]*)”", re.sub(".\b", "", shown))]
        wrong = [" ".join(q) for q in quoted if not printed(q)]
        if wrong or len(quoted) != page.read_text().count(r"\(lq"):
            print(f"{page.name} under {render[0]}: {len(quoted)} quoted, not printed so: {wrong}")
            bad += 1
sys.exit(bad > 0)
CHECK
[ $failures -eq 0 ] && echo "$# manual pages, no warnings, each quoted text printed whole"
exit $((failures > 0))
