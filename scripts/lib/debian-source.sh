# Fetches and unpacks a Debian source package without touching the machine's
# apt setup: apt-get source runs with lists of its own, made from the
# machine's Debian sources read as source-package sources.
#   fetch_debian_source PACKAGE[=VERSION] WORK-DIR DEST-DIR
# Leaves the unpacked tree at DEST-DIR; returns 1 (with the log's path on
# stderr) when the package cannot be had.
fetch_debian_source() {
  local package=$1 work=$2 dest=$3
  local apt=$work/apt
  rm -rf "$apt" && mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts" "$apt/src"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt/parts/$(basename "$f")"
  done
  [ -f /etc/apt/sources.list ] && sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt/parts/main.list"
  local opts=(-q -o "Dir::Etc::SourceParts=$apt/parts" -o Dir::Etc::SourceList=/dev/null
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1)
  apt-get "${opts[@]}" update >"$apt/update.log" 2>&1 || true
  if ! (cd "$apt/src" && apt-get "${opts[@]}" source "$package" >"$apt/source.log" 2>&1); then
    echo "$package's source package cannot be had (see $apt/source.log)" >&2
    return 1
  fi
  local tree
  tree=$(find "$apt/src" -mindepth 1 -maxdepth 1 -type d | head -n1)
  rm -rf "$dest" && mkdir -p "$(dirname "$dest")" && mv "$tree" "$dest" && rm -rf "$apt"
}
