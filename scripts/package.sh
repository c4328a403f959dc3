#!/usr/bin/env bash
# Makes the Debian packages community-server and client-techdemo in dist/ from a RelWithDebInfo
# build (build-f, or BUILD_DIR), installed per component, stripped, with dependencies found by
# dpkg-shlibdeps, and checks them with lintian (LINTIAN=0 skips that).
# Usage: scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-f}
dist=${DIST_DIR:-$root/dist}
packaging=$root/packaging

bash "$root/scripts/setup.sh" packaging
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target community_server client_demo Drovik

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
changelog_version=$(sed -n '1s/^[a-z-]* (\([^)]*\)).*/\1/p' "$packaging/changelog")
if [ "$version" != "$changelog_version" ]; then
  echo "package: the project is $version but packaging/changelog starts with $changelog_version;" \
    "add a changelog entry" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
maintainer=$(sed -n 's/^ -- \(.*>\)  .*/\1/p' "$packaging/changelog" | head -1)
# Timestamps and the man pages' dates come from the changelog, so the same sources give the same
# packages.
SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ -- .*>  //p' "$packaging/changelog" | head -1)" +%s)
export SOURCE_DATE_EPOCH
date_text=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
unitdir=$(pkg-config --variable=systemdsystemunitdir systemd 2>/dev/null || echo /lib/systemd/system)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
server=$work/community-server
client=$work/client-techdemo

DESTDIR=$server cmake --install "$build" --component server --prefix /usr --strip >/dev/null
DESTDIR=$client cmake --install "$build" --component client --prefix /usr --strip >/dev/null

# ---- community-server ---------------------------------------------------------------------------
mv "$server/usr/bin/community_server" "$server/usr/bin/community-server"
install -D -m 644 "$packaging/community-server/community-server.service" \
  "$server$unitdir/community-server.service"
install -D -m 644 "$packaging/community-server/default" "$server/etc/default/community-server"
mkdir -p "$server/usr/share/man/man1"
help2man --no-info --section=1 --name="community chat server for Client Techdemo" \
  --version-string="$version" "$server/usr/bin/community-server" |
  sed "s/^\.TH \([^ ]*\) \([^ ]*\) \"[^\"]*\"/.TH \1 \2 \"$date_text\"/" |
  gzip -9n >"$server/usr/share/man/man1/community-server.1.gz"

# ---- client-techdemo ----------------------------------------------------------------------------
# The client finds its library beside the real executable, so the command is a symlink to it.
mkdir -p "$client/usr/bin"
ln -s ../lib/client-techdemo/client_demo "$client/usr/bin/client-techdemo"
install -D -m 644 "$packaging/client-techdemo/client-techdemo.desktop" \
  "$client/usr/share/applications/client-techdemo.desktop"
install -D -m 644 "$packaging/client-techdemo/client-techdemo.svg" \
  "$client/usr/share/icons/hicolor/scalable/apps/client-techdemo.svg"
mkdir -p "$client/usr/share/man/man1"
sed "s/@VERSION@/$version/; s/@DATE@/$date_text/" "$packaging/client-techdemo/client-techdemo.1" |
  gzip -9n >"$client/usr/share/man/man1/client-techdemo.1.gz"

# ---- both ---------------------------------------------------------------------------------------
# dpkg-shlibdeps reads debian/control of a source package; this one names both packages.
mkdir -p "$work/source/debian"
printf 'Source: client-techdemo\nMaintainer: %s\n\nPackage: community-server\nArchitecture: any\n\nPackage: client-techdemo\nArchitecture: any\n' \
  "$maintainer" >"$work/source/debian/control"

depends_of() {  # staged tree, private library folder, extra dependencies
  local tree=$1 private=$2 extra=$3 objects
  mapfile -t objects < <(find "$tree" -type f \( -perm -u+x -o -name '*.so*' \) -exec sh -c \
    'file -b "$1" | grep -q "^ELF"' _ {} \; -print | sort)
  local shlibs
  shlibs=$(cd "$work/source" && dpkg-shlibdeps -O -l"$tree$private" "${objects[@]}" |
    sed -n 's/^shlibs:Depends=//p')
  echo "${shlibs}${extra:+, $extra}"
}

assemble() {  # package, staged tree, dependencies
  local name=$1 tree=$2 depends=$3
  mkdir -p "$tree/usr/share/doc/$name" "$tree/DEBIAN"
  install -m 644 "$packaging/copyright" "$tree/usr/share/doc/$name/copyright"
  gzip -9n <"$packaging/changelog" >"$tree/usr/share/doc/$name/changelog.gz"
  chmod 644 "$tree/usr/share/doc/$name/changelog.gz"
  for script in postinst prerm postrm; do
    if [ -f "$packaging/$name/$script" ]; then
      install -m 755 "$packaging/$name/$script" "$tree/DEBIAN/$script"
    fi
  done
  if [ -d "$tree/etc" ]; then
    (cd "$tree" && find etc -type f -printf '/%p\n' | sort) >"$tree/DEBIAN/conffiles"
  fi
  (cd "$tree" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
    xargs -0 md5sum) >"$tree/DEBIAN/md5sums"
  local size
  size=$(du -sk --exclude=DEBIAN "$tree" | cut -f1)
  sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@MAINTAINER@/$maintainer/" \
    -e "s/@INSTALLED_SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
    "$packaging/$name/control.in" >"$tree/DEBIAN/control"
  find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  mkdir -p "$dist"
  fakeroot dpkg-deb --root-owner-group -Zxz --build "$tree" "$dist/${name}_${version}_${arch}.deb" \
    >/dev/null
  echo "package: $dist/${name}_${version}_${arch}.deb"
}

assemble community-server "$server" "$(depends_of "$server" /usr/lib/community-server "")"
# Qt finds its window-system plugins at run time, so dpkg-shlibdeps cannot see that need.
assemble client-techdemo "$client" \
  "$(depends_of "$client" /usr/lib/client-techdemo/Include/Linux qt6-qpa-plugins)"

if [ "${LINTIAN:-1}" != 0 ]; then
  # Clean of errors and warnings; what it says at the info level is in the README.
  lintian --fail-on error,warning \
    "$dist/community-server_${version}_${arch}.deb" "$dist/client-techdemo_${version}_${arch}.deb"
fi
