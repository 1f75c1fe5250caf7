#!/usr/bin/env bash
# check_tree.sh ROOT PREFIX VERSION SCRATCH
#
# Checks an installed tree, ROOT/PREFIX (a DESTDIR install or an extracted .deb), as
# its users meet it, with the real tools: the binaries run from it with an empty
# environment and find their manifest and launcher; the desktop entries, AppStream
# data, user unit and manual pages pass their validators; the bash completion
# completes job names. A validator that is not installed is skipped, saying so.
# SCRATCH is a folder outside /tmp (a confined run gets a /tmp of its own).
set -uo pipefail
root=$1 prefix=$2 version=$3 scratch=$(realpath -m "$4")
tree=$root$prefix
app_id=app.marrowbell.Marrowbell
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
skip() { echo "SKIPPED: $*"; }
have() { command -v "$1" >/dev/null || { skip "$2 ($1 is not installed)"; false; }; }
# expect_quiet WHAT COMMAND…: COMMAND succeeds and prints nothing.
expect_quiet() {
    local what=$1 out
    shift
    out=$("$@" 2>&1) && [ -z "$out" ] || fail "$what: $out"
}

mkdir -p "$scratch"
home=$(mktemp -d "$scratch/home.XXXXXX")
trap 'rm -rf "$home"' EXIT
ctl=$tree/bin/marrowbellctl

# The binaries, from the tree, with nothing in the environment.
out=$(env -i "$ctl" harnesses --json 2>&1) && grep -q '"id": "pi"' <<<"$out" ||
    fail "marrowbellctl harnesses --json: $out"
out=$(env -i "$ctl" cron --zone Europe/Berlin --after @0 --count 1 '0 9 * * *' 2>&1) &&
    grep -qx '1970-01-01T09:00:00+01:00' <<<"$out" || fail "marrowbellctl cron: $out"
if env -i "$ctl" help | grep -q -- --version; then
    out=$(env -i "$ctl" --version 2>&1) && grep -qF "$version" <<<"$out" ||
        fail "marrowbellctl --version: $out"
else
    skip "marrowbellctl --version (this marrowbellctl has none)"
fi

# A read-only run of a stand-in harness goes through the tree's own launcher, also with
# no_new_privs set as the user unit sets it.
mkdir -p "$home/.local/bin" "$home/job"
printf '#!/bin/sh\necho confined stand-in\n' >"$home/.local/bin/opencode"
chmod +x "$home/.local/bin/opencode"
# A runtime folder of its own, so that no other scheduler of this user takes the run.
mkdir -m 700 "$home/run"
run() { env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" timeout 60 "$@"; }
for name in 'Nightly report' 'Night "owl"'; do
    echo prompt | run "$ctl" add "$name" --folder "$home/job" --harness opencode \
        --schedule '0 9 * * *' >/dev/null 2>&1 || fail "marrowbellctl add $name"
done
out=$(run "$ctl" preview 'Nightly report' 2>&1)
grep -q '^marrowbell-sandbox -p PROFILE' <<<"$out" || fail "not a confined run: $out"
out=$(run setpriv --no-new-privs "$ctl" run 'Nightly report' 2>&1)
grep -qx 'confined stand-in' <<<"$out" || fail "the confined stand-in did not run: $out"

# Manual pages render without warnings.
pages=(marrowbellctl marrowbell-sandbox)
[ -x "$tree/bin/marrowbell" ] && pages+=(marrowbell)
if have man "manual pages"; then
    for page in "${pages[@]}"; do
        file=$tree/share/man/man1/$page.1.gz
        [ -f "$file" ] || { fail "no manual page $page(1)"; continue; }
        out=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) && [ -z "$out" ] ||
            fail "man -l $page.1: $out"
    done
fi

# The user unit, its ExecStart pointed into the tree (verify runs the command's checks).
unit=$tree/lib/systemd/user/marrowbell.service
grep -qx "ExecStart=$prefix/bin/marrowbellctl daemon" "$unit" || fail "ExecStart: $(grep Exec "$unit")"
if have systemd-analyze "systemd-analyze verify"; then
    mkdir -p "$home/unit"
    sed "s|=$prefix/|=$tree/|" "$unit" >"$home/unit/marrowbell.service"
    expect_quiet "systemd-analyze verify" env XDG_RUNTIME_DIR="$home/run" MANPATH="$tree/share/man" \
        systemd-analyze verify --user "$home/unit/marrowbell.service"
fi

# The bash completion, found where bash-completion looks for it, completes job names
# and commands.
completion='
    if [ -f /usr/share/bash-completion/bash_completion ]; then
        . /usr/share/bash-completion/bash_completion
        __load_completion marrowbellctl
    else
        . "$TREE/share/bash-completion/completions/marrowbellctl"
    fi
    complete -p marrowbellctl >/dev/null || exit 1
    COMP_WORDS=(marrowbellctl pause Night); COMP_CWORD=2
    _marrowbellctl
    printf "%s\n" "${COMPREPLY[@]}" | sort
    COMP_WORDS=(marrowbellctl pa); COMP_CWORD=1
    _marrowbellctl
    printf "%s\n" "${COMPREPLY[@]}" | sort'
out=$(env -i HOME="$home" TREE="$tree" XDG_DATA_DIRS="$tree/share" PATH="$tree/bin:/usr/bin:/bin" \
    bash --norc -ic "$completion" 2>/dev/null)
[ "$out" = $'Night\\ \\"owl\\"\nNightly\\ report\nparse\npause' ] || fail "bash completion of job names and commands: $out"
if have zsh "the zsh completion's syntax"; then
    expect_quiet "zsh -n" zsh -n "$tree/share/zsh/vendor-completions/_marrowbellctl"
fi
if have fish "the fish completion"; then
    out=$(env -i HOME="$home" XDG_DATA_DIRS="$tree/share" PATH="$tree/bin:/usr/bin:/bin" \
        fish -c 'complete -C "marrowbellctl pause Night"' 2>&1 | sort)
    [ "$out" = $'Night "owl"\nNightly report' ] || fail "fish completion of job names: $out"
fi

# The desktop application's files, when the tree has the application.
if [ -x "$tree/bin/marrowbell" ]; then
    out=$(env -i QT_QPA_PLATFORM=offscreen timeout 10 "$tree/bin/marrowbell" --version 2>&1) &&
        grep -qF "$version" <<<"$out" || fail "marrowbell --version: $out"
    for entry in "share/applications/$app_id.desktop" share/marrowbell/autostart/marrowbell.desktop; do
        grep -qx "Exec=$prefix/bin/marrowbell" "$tree/$entry" || fail "$entry: $(grep Exec "$tree/$entry")"
        have desktop-file-validate "desktop-file-validate $entry" &&
            expect_quiet "desktop-file-validate $entry" desktop-file-validate "$tree/$entry"
    done
    if have appstreamcli "appstreamcli validate"; then
        out=$(appstreamcli validate --no-net --no-color "$tree/share/metainfo/$app_id.metainfo.xml" 2>&1) &&
            ! grep -q '^[EW]:' <<<"$out" || fail "appstreamcli validate: $out"
    fi
    icons=$tree/share/icons/hicolor
    if [ -f "$icons/scalable/apps/$app_id.svg" ]; then
        for size in 16 48 256; do
            file "$icons/${size}x$size/apps/$app_id.png" | grep -q "$size x $size" ||
                fail "no ${size}x$size app icon"
        done
    else
        skip "the app icon (resources/icons/hicolor/scalable/apps/marrowbell.svg does not exist yet)"
    fi
else
    skip "the desktop application's files (this tree has no marrowbell)"
fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "The tree at $prefix passed."
