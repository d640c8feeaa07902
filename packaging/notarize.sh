#!/usr/bin/env bash
# Notarizes a HelperInstaller.app that sign.sh signed with a Developer ID
# identity: submits it, zipped, to Apple's notary service and waits for the
# verdict, staples the ticket to the app, has Gatekeeper assess it, and zips the
# stapled app for distribution.
#
# notarytool exits 0 whenever the service answered, "Invalid" included, so the
# verdict is read from its JSON; a rejection prints the service's log.
set -euo pipefail

SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly SCRIPT_DIR

usage() {
  cat <<EOF
usage: $(basename "$0") [INSTALLER_APP [ZIP]]

  INSTALLER_APP  the app sign.sh signed with a Developer ID identity
                 (default: $SCRIPT_DIR/../dist/HelperInstaller.app)
  ZIP            where the stapled app goes, zipped for distribution
                 (default: HelperInstaller.zip beside INSTALLER_APP)

notarytool's credentials come from the environment: NOTARY_PROFILE, a
keychain profile saved by "xcrun notarytool store-credentials"; or
NOTARY_APPLE_ID, NOTARY_TEAM_ID and NOTARY_PASSWORD, an app-specific password.
EOF
}

die() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# One field of notarytool's JSON answer.
field() {
  python3 -c 'import json, sys; print(json.load(sys.stdin).get(sys.argv[1], ""))' "$1" <"$WORK/verdict.json"
}

if [[ ${1-} == -h || ${1-} == --help ]]; then
  usage
  exit 0
fi
if (($# > 2)); then
  usage >&2
  exit 2
fi

APP=${1:-$SCRIPT_DIR/../dist/HelperInstaller.app}
ZIP=${2:-$(dirname "$APP")/HelperInstaller.zip}
[[ -d $APP ]] || die "no app at $APP (sign it first: packaging/sign.sh \"Developer ID Application: ...\")"
if [[ -n ${NOTARY_PROFILE-} ]]; then
  credentials=(--keychain-profile "$NOTARY_PROFILE")
elif [[ -n ${NOTARY_APPLE_ID-} && -n ${NOTARY_TEAM_ID-} && -n ${NOTARY_PASSWORD-} ]]; then
  credentials=(--apple-id "$NOTARY_APPLE_ID" --team-id "$NOTARY_TEAM_ID" --password "$NOTARY_PASSWORD")
else
  die "no credentials: set NOTARY_PROFILE, or NOTARY_APPLE_ID, NOTARY_TEAM_ID and NOTARY_PASSWORD"
fi

# The submission and the answers live beside the zip until the script ends; a
# zip from an earlier run goes first, so a failed run leaves none.
WORK=$(dirname "$ZIP")/.notarizing
readonly WORK
rm -rf "$WORK" "$ZIP"
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT
ditto -c -k --keepParent "$APP" "$WORK/submission.zip"
xcrun notarytool submit "$WORK/submission.zip" "${credentials[@]}" --wait --output-format json >"$WORK/verdict.json"
verdict=$(field status)
echo "notary service: ${verdict:-no verdict} (submission $(field id))"
if [[ $verdict != Accepted ]]; then
  if [[ -n $(field id) ]]; then
    xcrun notarytool log "$(field id)" "${credentials[@]}" >&2 || echo "(its log could not be fetched)" >&2
  fi
  die "not notarized: ${verdict:-no verdict}"
fi

xcrun stapler staple "$APP"
xcrun stapler validate "$APP"
spctl -a -t exec -vv "$APP" 2>"$WORK/assessment.txt" || true
cat "$WORK/assessment.txt"
grep -qx 'source=Notarized Developer ID' "$WORK/assessment.txt" || die "Gatekeeper does not accept $APP as notarized"

ditto -c -k --keepParent "$APP" "$ZIP"
echo "notarized, stapled and accepted by Gatekeeper: $APP; zipped for distribution: $ZIP"
