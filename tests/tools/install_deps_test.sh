#!/usr/bin/env bash
# The install step, with stand-ins for apt-get, dpkg-query and sleep first on
# PATH: an update that fails as it does against a mirror in mid-sync must not
# stop the install, and a package that cannot be installed must stop it with
# its name and apt's words.
set -uo pipefail
script=$1
# Not as root the script asks sudo, which would not find the stand-ins.
[[ $(id -u) -eq 0 ]] || { echo "skipped: the install step runs apt-get itself only as root"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/bin"
cat >"$scratch/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$STUB_LOG"
case " $* " in
  *" update "*) echo "E: Failed to fetch Packages.xz  File has unexpected size" >&2; exit 100 ;;
  *" $STUB_BROKEN "*) echo "E: Unable to locate package $STUB_BROKEN" >&2; exit 100 ;;
esac
STUB
printf '#!/bin/sh\nexit 1\n' >"$scratch/bin/dpkg-query"  # nothing is installed
printf '#!/bin/sh\necho "sleep $*" >>"$STUB_LOG"\n' >"$scratch/bin/sleep"
chmod +x "$scratch"/bin/*
failed=0
check() {  # what, command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

export PATH="$scratch/bin:$PATH" STUB_LOG="$scratch/log" STUB_BROKEN=no-such-package
bash "$script" >"$scratch/out" 2>&1
status=$?
check "a failing update is tried three times, 10 s apart, and the install goes on (status $status)" \
  test "$status" -eq 0 -a "$(grep -c update "$scratch/log")" -eq 3 -a \
  "$(grep -c '^sleep 10' "$scratch/log")" -eq 2
check "what was missing is installed" grep -q 'install .*g++ .*unixodbc' "$scratch/log"
check "the failed update is a warning" grep -q '^warning: apt-get update failed' "$scratch/out"

: >"$scratch/log"
STUB_BROKEN=cmake bash "$script" >"$scratch/out" 2>&1
status=$?
check "a package that cannot be installed fails the step (status $status)" test "$status" -ne 0
check "with apt's words" grep -q 'Unable to locate package cmake' "$scratch/out"
check "and the packages' names" grep -q '^error: could not install: cmake' "$scratch/out"
[[ $failed -eq 0 ]] || cat "$scratch/out"
exit "$failed"
