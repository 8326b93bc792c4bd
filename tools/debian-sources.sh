# Sourced by tools/mingw-deps and tools/qemu-i386-build: a private apt configuration for
# Debian's source packages.
#
#   debian_sources_apt DIR LOG   makes it in DIR, updates its lists (output to LOG) and sets
#                                the array aptopts for apt-get and apt-cache
#
# Debian's binary sources are not touched. When the archive cannot be reached, the lists of
# the last update answer.

debian_sources_apt() {
  local apt=$1 log=$2 f
  local oneline=()
  # deb-src entries for every enabled Debian archive entry of the system's sources, in both
  # formats: one-line (deb or deb-src lines) and deb822 stanzas (Types: deb, deb-src or both).
  # Entries signed by another keyring belong to third parties, which rarely publish sources.
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
  rm -f "$apt/sources.list" "$apt/sources.list.d/"*
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && oneline+=("$f")
  done
  if [ ${#oneline[@]} -ne 0 ]; then
    awk '/^[ \t]*deb(-src)?[ \t]/ &&
         ($0 !~ /signed-by=/ || $0 ~ /signed-by=[^] ]*debian-archive-keyring/) {
           sub(/^[ \t]*deb(-src)?/, "deb-src"); if (!seen[$0]++) print }' "${oneline[@]}"
  fi >"$apt/sources.list"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v RS= '
      {
        types = ""; keep = 1
        n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) {
          field = tolower(lines[i])
          if (field ~ /^types:/) types = field
          if (field ~ /^enabled:[ \t]*no/) keep = 0
          if (field ~ /^signed-by:/ && field !~ /debian-archive-keyring/) keep = 0
        }
        if (!keep || types !~ /[ \t]deb(-src)?([ \t]|$)/) next
        out = ""
        for (i = 1; i <= n; i++) {
          if (lines[i] ~ /^#/) continue
          out = out (tolower(lines[i]) ~ /^types:/ ? "Types: deb-src" : lines[i]) "\n"
        }
        printf "%s\n", out
      }' "$f" >"$apt/sources.list.d/$(basename "$f")"
  done

  aptopts=(
    -o "Dir::Etc::SourceList=$apt/sources.list"
    -o "Dir::Etc::SourceParts=$apt/sources.list.d"
    -o "Dir::State::Lists=$apt/lists"
    -o "Dir::Cache=$apt/cache"
    -o "APT::Sandbox::User=root"
    -o "Acquire::Languages=none"
    -q
  )
  # A failing third-party entry must not stop the caller: `apt-get source` says what is missing.
  apt-get "${aptopts[@]}" update >"$log" 2>&1 || true
}
