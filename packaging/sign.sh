#!/usr/bin/env bash
# Signs HelperInstaller.app and the PelagrinHelper.app it carries, and the
# pelagrin-sensors tool built beside them, all with the hardened runtime and no
# entitlements, then verifies the result.
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
usage: $(basename "$0") [IDENTITY [INSTALLER_APP]]

  IDENTITY       a code-signing identity as codesign accepts it, for example
                 "Developer ID Application: Name (TEAMID)"; "-" (the default)
                 signs ad hoc
  INSTALLER_APP  the built HelperInstaller.app, with pelagrin-sensors beside it
                 (default: $SCRIPT_DIR/../build/HelperInstaller.app)
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
if (($# > 2)); then
  usage >&2
  exit 2
fi

IDENTITY=${1:--}
INSTALLER_APP=${2:-$SCRIPT_DIR/../build/HelperInstaller.app}
HELPER_APP=$INSTALLER_APP/Contents/Resources/PelagrinHelper.app
SENSORS_TOOL=$(dirname "$INSTALLER_APP")/pelagrin-sensors

command -v codesign >/dev/null || die "codesign not found: run this on a Mac with Xcode's command-line tools"
require_bundle "$INSTALLER_APP" HelperInstaller
require_bundle "$HELPER_APP" PelagrinHelper
[[ -x $SENSORS_TOOL ]] || die "no pelagrin-sensors at $SENSORS_TOOL (build it first)"

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
echo "verified $INSTALLER_APP (hardened runtime, inner app signed first) and $SENSORS_TOOL"
