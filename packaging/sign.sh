#!/usr/bin/env bash
# Signs copies of HelperInstaller.app, the PelagrinHelper.app it carries and
# the pelagrin-sensors tool built beside them, all with the hardened runtime
# and no entitlements, verifies them, and only then puts them in DIST.
#
# The build's own output is never signed: a later build rewrites it (the
# helper is copied into the installer again), which would silently break a
# signature made there. The copies are made, signed and verified in a folder
# of their own inside DIST, so DIST never holds a half-signed app; the copies
# a previous run left there go first, so a failed run leaves none.
#
# The inner app is signed first: signing the outer bundle seals a hash of
# everything under Contents/, the inner signature included, so any later
# change to the inner app would break the outer seal. --deep is never used to
# sign, because it would re-sign the inner app with the outer app's options.
set -euo pipefail

readonly HELPER_ID=app.pelagrin.helper
readonly INSTALLER_ID=app.pelagrin.helper-installer
readonly SENSORS_ID=app.pelagrin.sensors
SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly SCRIPT_DIR

usage() {
  cat <<EOF
usage: $(basename "$0") [IDENTITY [INSTALLER_APP [DIST]]]

  IDENTITY       a code-signing identity as codesign accepts it, for example
                 "Developer ID Application: Name (TEAMID)"; "-" (the default)
                 signs ad hoc
  INSTALLER_APP  the built HelperInstaller.app, with pelagrin-sensors beside it
                 (default: $SCRIPT_DIR/../build/HelperInstaller.app)
  DIST           the folder that receives the signed HelperInstaller.app and
                 pelagrin-sensors (default: $SCRIPT_DIR/../dist)
EOF
}

die() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

require_bundle() {
  local bundle=$1 executable=$2
  [[ -d $bundle ]] || die "no app bundle at $bundle (build it first)"
  [[ -f $bundle/Contents/Info.plist ]] || die "$bundle has no Contents/Info.plist"
  [[ -x $bundle/Contents/MacOS/$executable ]] || die "$bundle has no executable Contents/MacOS/$executable"
}

# A secure timestamp needs Apple's timestamp server and a real identity;
# ad hoc signatures cannot carry one.
sign_code() {
  local code=$1 identifier=$2
  local flags=(--force --options runtime --identifier "$identifier" --sign "$IDENTITY")
  if [[ $IDENTITY != - ]]; then
    flags+=(--timestamp)
  fi
  codesign "${flags[@]}" "$code"
  echo "signed $code as $identifier:"
  codesign --display --verbose=2 "$code" 2>&1
}

if [[ ${1-} == -h || ${1-} == --help ]]; then
  usage
  exit 0
fi
if (($# > 3)); then
  usage >&2
  exit 2
fi

IDENTITY=${1:--}
BUILT_APP=${2:-$SCRIPT_DIR/../build/HelperInstaller.app}
BUILT_TOOL=$(dirname "$BUILT_APP")/pelagrin-sensors
DIST=${3:-$SCRIPT_DIR/../dist}
STAGING=$DIST/.signing
INSTALLER_APP=$STAGING/HelperInstaller.app
HELPER_APP=$INSTALLER_APP/Contents/Resources/PelagrinHelper.app
SENSORS_TOOL=$STAGING/pelagrin-sensors

command -v codesign >/dev/null || die "codesign not found: run this on a Mac with Xcode's command-line tools"
require_bundle "$BUILT_APP" HelperInstaller
require_bundle "$BUILT_APP/Contents/Resources/PelagrinHelper.app" PelagrinHelper
[[ -x $BUILT_TOOL ]] || die "no pelagrin-sensors at $BUILT_TOOL (build it first)"

mkdir -p "$DIST"
[[ $(cd "$DIST" && pwd -P) != $(cd "$(dirname "$BUILT_APP")" && pwd -P) ]] || die "DIST must not be the build's own folder"
rm -rf "$DIST/HelperInstaller.app" "$DIST/pelagrin-sensors" "$STAGING"
mkdir "$STAGING"
trap 'rm -rf "$STAGING"' EXIT
# ditto keeps the bundle's symlinks and extended attributes, as the build's copy does.
ditto "$BUILT_APP" "$INSTALLER_APP"
ditto "$BUILT_TOOL" "$SENSORS_TOOL"

if [[ $IDENTITY == - ]]; then
  echo "signing ad hoc"
else
  echo "signing with identity: $IDENTITY"
fi
sign_code "$HELPER_APP" "$HELPER_ID"
sign_code "$INSTALLER_APP" "$INSTALLER_ID"
sign_code "$SENSORS_TOOL" "$SENSORS_ID"

codesign --verify --strict --deep --verbose=2 "$INSTALLER_APP"
codesign --verify --strict --verbose=2 "$SENSORS_TOOL"
mv "$INSTALLER_APP" "$SENSORS_TOOL" "$DIST/"
echo "verified and placed $DIST/HelperInstaller.app (hardened runtime, inner app signed first) and $DIST/pelagrin-sensors"
