#!/usr/bin/env bash
# Checks that the layers of src/ point one way: gateway → engine, mail, common, platform; engine
# and mail → common, platform; wizard → common; common → platform; platform → nothing of ours.
# Prints every include that points the other way and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed=(
  [gateway]="gateway engine mail common platform"
  [engine]="engine common platform"
  [mail]="mail common platform"
  [wizard]="wizard common"
  [common]="common platform"
  [platform]="platform"
)
status=0
for layer in "${!allowed[@]}"; do
  while IFS= read -r hit; do
    included=${hit#*#include \"}
    included=${included%%/*}
    [ -d "src/$included" ] || continue
    case " ${allowed[$layer]} " in
      *" $included "*) ;;
      *) echo "$hit: $layer may not include $included" ; status=1 ;;
    esac
  done < <(grep -rn '#include "[a-z_]*/' "src/$layer" || true)
done
[ $status = 0 ] && echo "the layers point one way"
exit $status
