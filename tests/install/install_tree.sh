#!/usr/bin/env bash
# install_tree.sh BUILD SOURCE VERSION
#
# `cmake --install` into a temporary DESTDIR under a prefix other than the configured
# one, then check_tree.sh on the result. Without the desktop application in the build,
# its entries and AppStream data are checked as rendered from their sources instead.
set -uo pipefail
build=$1 source=$2 version=$3
prefix=/opt/marrowbell
root=$(mktemp -d "${TMPDIR:-/tmp}/marrowbell-install.XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0

DESTDIR=$root cmake --install "$build" --prefix "$prefix" >/dev/null || exit 1
"$source/tests/install/check_tree.sh" "$root" "$prefix" "$version" "$build/sandbox-scratch" ||
    failures=1

if [ ! -x "$root$prefix/bin/marrowbell" ]; then
    entries=$root/entries
    mkdir -p "$entries"
    for keys in "" X-GNOME-Autostart-enabled=true; do
        cmake -DTEMPLATE="$source/resources/app.marrowbell.Marrowbell.desktop.in" \
            -DOUTPUT="$entries/app.marrowbell.Marrowbell.desktop" -DCMAKE_INSTALL_PREFIX="$prefix" \
            -DMARROWBELL_AUTOSTART_KEYS="$keys" -P "$source/cmake/InstallConfigured.cmake" &&
            out=$(desktop-file-validate "$entries/app.marrowbell.Marrowbell.desktop" 2>&1) &&
            [ -z "$out" ] || { echo "FAIL: desktop-file-validate ($keys): $out" >&2; failures=1; }
    done
    out=$(appstreamcli validate --no-net --no-color "$build/resources/app.marrowbell.Marrowbell.metainfo.xml" 2>&1) &&
        ! grep -q '^[EW]:' <<<"$out" || { echo "FAIL: appstreamcli validate: $out" >&2; failures=1; }
fi

# Each release note names the project's version first.
grep -q "<release version=\"$version\"" "$source/resources/app.marrowbell.Marrowbell.metainfo.xml.in" ||
    { echo "FAIL: the AppStream data has no release $version" >&2; failures=1; }
head -1 "$source/resources/deb/changelog" | grep -qF "marrowbell ($version)" ||
    { echo "FAIL: resources/deb/changelog does not begin with $version" >&2; failures=1; }
exit $failures
