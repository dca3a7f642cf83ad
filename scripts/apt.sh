# Sourced by the bootstrap: apt-get as a fresh machine needs it. A package
# index that fails to arrive is retried, then left out with a warning; an
# install that cannot be resolved is tried again with the security suite's
# priority lowered (its amd64 libraries may be newer than the i386 lists
# that arrived, and multi-arch libraries must have equal versions); what
# still cannot be installed is named. Extra sources and the fallback's pin
# are given to the one apt-get call that needs them, never written into
# the machine's own configuration.

APT_PAUSE=${APT_PAUSE:-2}

# The first error line of apt-get's output, for a one-line message.
apt_first_error() {
  { grep -m1 '^E:' <<<"$1" || tail -n1 <<<"$1"; } | sed -e 's/^E: //' -e 's/\.$//'
}

# apt_update [APT-GET OPTIONS...]: up to three tries; an index that still
# fails is a warning, and the install that follows decides.
apt_update() {
  local try out
  for try in 1 2 3; do
    if out=$(apt-get "$@" update -qq 2>&1); then
      return 0
    fi
    [ "$try" -lt 3 ] && sleep "$APT_PAUSE"
  done
  echo "bootstrap: warning: some package indexes did not update, going on without them: $(apt_first_error "$out")" >&2
  return 0
}

# apt_try [APT-GET OPTIONS...] -- PACKAGE...: one quiet install; its output in
# APT_OUT.
APT_OUT=
apt_try() {
  local opts=()
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  APT_OUT=$(DEBIAN_FRONTEND=noninteractive apt-get "${opts[@]}" install -y -qq "$@" 2>&1)
}

# The fallback: the machine's preferences plus the security suite at
# priority 100, in a file of its own for one apt-get call.
apt_pinned() {
  local prefs=$1
  shift
  { cat /etc/apt/preferences 2>/dev/null || true
    printf '\nPackage: *\nPin: release l=Debian-Security\nPin-Priority: 100\n'
  } > "$prefs"
  apt_try -o "Dir::Etc::Preferences=$prefs" "$@"
}

# apt_install PURPOSE [APT-GET OPTIONS...] -- PACKAGE...: installs the
# packages, with the fallback where they cannot be resolved together; names
# those that cannot be installed at all and returns 1.
apt_install() {
  local purpose=$1
  shift
  local opts=()
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  apt_try "${opts[@]}" -- "$@" && return 0
  local prefs rc=0
  prefs=$(mktemp)
  echo "bootstrap: $(apt_first_error "$APT_OUT"); trying again with the security suite's priority lowered for this install" >&2
  if ! apt_pinned "$prefs" "${opts[@]}" -- "$@"; then
    local bad=() p
    for p in "$@"; do
      apt_try "${opts[@]}" -- "$p" || apt_pinned "$prefs" "${opts[@]}" -- "$p" || bad+=("$p")
    done
    [ ${#bad[@]} -gt 0 ] || bad=("$@")
    echo "bootstrap: cannot install ${bad[*]} (needed $purpose): $(apt_first_error "$APT_OUT")" >&2
    rc=1
  fi
  rm -f "$prefs"
  return $rc
}

# apt_extra_sources FILE: sets APT_EXTRA to the apt-get options that read
# the machine's sources plus FILE's entries, from a copy in a temporary
# folder (APT_EXTRA_DIR) that the caller removes.
APT_EXTRA=()
APT_EXTRA_DIR=
apt_extra_sources() {
  local extra=$1 f
  APT_EXTRA_DIR=$(mktemp -d)
  mkdir "$APT_EXTRA_DIR/parts"
  for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] && cp "$f" "$APT_EXTRA_DIR/parts/"
  done
  if [ -e /etc/apt/sources.list ]; then
    cp /etc/apt/sources.list "$APT_EXTRA_DIR/sources.list"
  else
    : > "$APT_EXTRA_DIR/sources.list"
  fi
  cp "$extra" "$APT_EXTRA_DIR/parts/zz-extra.${extra##*.}"
  APT_EXTRA=(-o "Dir::Etc::SourceParts=$APT_EXTRA_DIR/parts" -o "Dir::Etc::SourceList=$APT_EXTRA_DIR/sources.list")
}
