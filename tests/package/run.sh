#!/usr/bin/env bash
# The Debian package, from the source to a mail delivered through a site it set up:
#   1. dpkg-buildpackage -us -uc -b builds brevix and brevix-wizard from a copy of this tree
#      (while debootstrap lays out a fresh Debian 12 minbase root beside it);
#   2. lintian finds no error and no warning in them;
#   3. apt installs both .deb files with their dependencies and apache2 into the fresh root,
#      brevix-site refuses hostile input there, creates a gateway folder behind Apache and finds
#      nothing wrong with it; Apache starts in the root on a free 127.0.0.1 port, and headless
#      Chromium on this machine submits the sample form, whose mail reaches an SMTP server here;
#   4. brevix-site check (the packaged script, run here) finds each fault of a table of broken
#      gateway folders;
#   5. brevix-site relay refuses hostile input, then makes the root's Postfix the site's queue in
#      front of a "provider" (the capture server here, STARTTLS with a throwaway certificate and a
#      login): with the provider down, 5 submissions are thanked and wait in Postfix's queue, as
#      brevix-site check reports; with it back and the queue flushed, each arrives exactly once.
# Needs root (debootstrap, chroot, mounts) and the network the machine normally has; without
# root it says so and skips. Every process started in the root and every mount ends with it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
# shellcheck source=SCRIPTDIR/../../scripts/fresh_root.sh
. "$repo/scripts/fresh_root.sh"
if [ "$(id -u)" != 0 ]; then
  echo "tests/package: SKIPPED: building and installing the package needs root (debootstrap, chroot)"
  exit 0
fi

work=$(mktemp -d /var/tmp/brevix-package-XXXXXX)
chmod 755 "$work"
root=$work/root
started=$SECONDS
say() { printf '[package %4ds] %s\n' $((SECONDS - started)) "$*"; }

smtp_pid='' debootstrap_pid='' provider_pid='' postfix_started=''
cleanup() {
  local status=$? pid
  # Every step is tried, whatever the one before it returned (wait gives a killed child's status).
  set +e
  [ -n "$debootstrap_pid" ] && kill "$debootstrap_pid" 2>/dev/null && wait "$debootstrap_pid" 2>/dev/null
  [ -n "$postfix_started" ] && chroot "$root" postfix stop >/dev/null 2>&1
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
  done
  [ -n "$smtp_pid" ] && kill "$smtp_pid" 2>/dev/null && wait "$smtp_pid" 2>/dev/null
  [ -n "$provider_pid" ] && kill "$provider_pid" 2>/dev/null && wait "$provider_pid" 2>/dev/null
  unmount_fresh_root "$root"
  # --one-file-system: should an unmount have failed, nothing of this machine's /dev goes.
  if [ $status = 0 ]; then
    rm -rf --one-file-system "$work"
  else
    rm -rf --one-file-system "$root"
    echo "tests/package: FAILED; the logs are kept in $work" >&2
  fi
  return $status
}
trap cleanup EXIT

# ---- 1. build (and the fresh root meanwhile) -------------------------------------------------
command -v debootstrap >/dev/null || apt-get install -y debootstrap
say "debootstrap: Debian 12 minbase into $root (in the background)"
debootstrap --variant=minbase --include=ca-certificates bookworm "$root" \
  http://deb.debian.org/debian >"$work/debootstrap.log" 2>&1 &
debootstrap_pid=$!

say "dpkg-buildpackage -us -uc -b"
mkdir -p "$work/src/brevix"
(cd "$repo" && git ls-files -z -c -o --exclude-standard | xargs -0 tar -c --no-recursion -f - --) |
  tar -x -C "$work/src/brevix"
# No debug-symbol packages: nothing here installs them, and they cost time.
if ! (cd "$work/src/brevix" && DEB_BUILD_OPTIONS=noddebs dpkg-buildpackage -us -uc -b \
  -j"${BREVIX_JOBS:-2}") \
  >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log"
  exit 1
fi
changes=$(ls "$work"/src/brevix_*.changes)
say "built: $(cd "$work/src" && ls ./*.deb | tr '\n' ' ')"

# ---- 2. lintian ------------------------------------------------------------------------------
say "lintian --fail-on error,warning"
lintian --fail-on error,warning "$changes"

# ---- 4. brevix-site check on a table of broken folders (here, on the packaged script) --------
dpkg-deb -x "$work"/src/brevix_*.deb "$work/unpacked"
site=$work/unpacked/usr/sbin/brevix-site
read -r smtp_port closed_port < <(/usr/bin/python3 "$repo/scripts/free_port.py" 2)
/usr/bin/python3 -m aiosmtpd -n -l "127.0.0.1:$smtp_port" -c aiosmtpd.handlers.Mailbox \
  "$work/mail" >"$work/smtp.log" 2>&1 &
smtp_pid=$!
mkdir -p "$work/etc/apache2/sites-enabled" "$work/docroot"
printf '<VirtualHost *:80>\n    DocumentRoot "%s"\n</VirtualHost>\n' "$work/docroot" \
  >"$work/etc/apache2/sites-enabled/000-default.conf"

# A gateway folder as brevix-site create lays it out, at PATH.
good_folder() {
  install -d -m 0755 "$(dirname "$1")"
  install -d -m 1770 -o root -g www-data "$1"
  install -m 0640 -o root -g www-data "$work"/unpacked/usr/share/brevix/sample/cgi-bin/* "$1/"
  install -m 0755 "$work/unpacked/usr/lib/brevix/brevix.cgi" "$1/"
  sed -i -e "s/^SMTP_Server=.*/SMTP_Server=127.0.0.1\r/" -e "s/^SMTP_Port=.*/SMTP_Port=$smtp_port\r/" \
    "$1/brevix.ini"
}
# case | what breaks a sound folder @F@ | what check must say
faults=(
  "sound||No problems found"
  "program missing|rm @F@/brevix.cgi|brevix.cgi is missing"
  "program not executable|chmod 0644 @F@/brevix.cgi|is not executable by www-data"
  "folder not writable|chmod 1750 @F@|www-data cannot write in"
  "folder unreachable|chmod 0700 \$(dirname @F@)|www-data cannot reach the folder"
  "folder writable by all|chmod 1777 @F@|gateway is writable by every user"
  "brevix.ini writable by all|chmod 0646 @F@/brevix.ini|brevix.ini is writable by every user"
  "brevix.ini missing|rm @F@/brevix.ini|brevix.ini is missing"
  "no recipient|sed -i /^Mail_To=/d @F@/brevix.ini|does not set Mail_To"
  "response page missing|rm @F@/thanks.htm|Response_Page names"
  "password readable by all|printf 'SMTP_Password=x\\r\\n' >>@F@/brevix.ini; chmod 0644 @F@/brevix.ini|holds SMTP_Password"
  "mail server unreachable|sed -i s/^SMTP_Port=.*/SMTP_Port=$closed_port/ @F@/brevix.ini|does not answer as an SMTP server"
  "served as documents|mv @F@ $work/docroot/forms; ln -s $work/docroot/forms @F@|which the web server serves as documents"
  "program a link|mv @F@/brevix.cgi @F@.cgi; ln -s @F@.cgi @F@/brevix.cgi|brevix.cgi is a link to"
  "brevix.ini a link|ln -sf /etc/shadow @F@/brevix.ini|brevix.ini is a link to /etc/shadow: the gateway's files must be plain files"
  "parent writable by all|chmod 0777 \$(dirname @F@)|a folder above the gateway's, is writable by every user"
  "parent shared with sticky bit|chmod 1777 \$(dirname @F@)|No problems found"
  "Temp open to all|install -d -m 0777 -o www-data @F@/Temp|Temp is open to other users (mode 777)"
  "Temp of another user|install -d -m 0700 @F@/Temp|Temp belongs to root, not to www-data"
  "Temp a link|ln -s /tmp @F@/Temp|Temp is a link to /tmp"
  "results readable by all|chmod 1775 @F@; install -m 0644 /dev/null @F@/results.csv|results.csv is readable by every user"
  "automatic results readable|chmod 1775 @F@; sed -i /^Results_File=/d @F@/brevix.ini; printf 'Results_File=data\\\\auto.csv\\r\\n' >>@F@/brevix.ini; install -D -m 0644 /dev/null @F@/data/120810193042.csv|120810193042.csv is readable by every user"
  "entry log readable by all|chmod 1775 @F@; install -m 0644 /dev/null @F@/entries.log|entries.log is readable by every user"
  "error log readable by all|chmod 1775 @F@; install -m 0644 /dev/null @F@/brevix-error.txt|brevix-error.txt is readable by every user"
  "counters readable by all|chmod 1775 @F@; install -m 0644 /dev/null @F@/BX-Guards.txt|BX-Guards.txt is readable by every user"
  "engine log readable by all|chmod 1775 @F@; install -D -m 0644 /dev/null @F@/log/brevix.Log|brevix.Log is readable by every user"
  "reference numbers a link|ln -s /etc/passwd @F@/BX-RefNumbers.txt|BX-RefNumbers.txt is a link to /etc/passwd"
)
say "brevix-site check: ${#faults[@]} folders"
failed=0
for row in "${faults[@]}"; do
  IFS='|' read -r name breaks expected <<<"$row"
  folder=$work/check/${name// /-}/gateway
  good_folder "$folder"
  (eval "${breaks//@F@/$folder}")
  set +e
  out=$(BREVIX_ETC="$work/etc" "$site" check "$(readlink -f "$folder")" 2>&1)
  code=$?
  set -e
  want_code=1
  [ "$expected" = "No problems found" ] && want_code=0
  if [ $code != $want_code ] || [[ $out != *"$expected"* ]] ||
    { [ $want_code = 1 ] && [ "$(grep -c '^PROBLEM' <<<"$out")" != 1 ]; }; then
    echo "FAILED: check of a folder with '$name' (exit $code, want $want_code and one problem: $expected):"
    echo "$out"
    failed=1
  fi
done
[ $failed = 0 ] || exit 1

# ---- 3. install into the fresh root, set up a site behind Apache, submit the form ------------
say "waiting for debootstrap"
if ! wait "$debootstrap_pid"; then
  debootstrap_pid=
  tail -n 20 "$work/debootstrap.log"
  exit 1
fi
debootstrap_pid=
prepare_fresh_root "$root"
mount_fresh_root "$root"
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
mkdir -p "$root/tmp/debs"
cp "$work"/src/*.deb "$root/tmp/debs/"
say "apt-get install ./brevix_*.deb ./brevix-wizard_*.deb apache2 postfix (in the root)"
in_root apt-get update -q >"$work/apt.log" 2>&1 || { tail -n 20 "$work/apt.log"; exit 1; }
in_root sh -c 'cd /tmp/debs && apt-get install -y -q ./brevix_*.deb ./brevix-wizard_*.deb apache2 postfix' \
  >>"$work/apt.log" 2>&1 || { tail -n 30 "$work/apt.log"; exit 1; }
missing=$(in_root sh -c 'ldd /usr/bin/vorlwiz /usr/lib/brevix/brevix.cgi /usr/lib/brevix/brevix.so' |
  grep 'not found' || true)
[ -z "$missing" ] || { echo "FAILED: libraries the packages' dependencies did not bring: $missing"; exit 1; }
# brevix.cgi opens libssl (TLS to the mail server) only when a run needs it, so ldd does not
# list it: the package names it in its Depends.
for lib in libssl.so.3; do
  in_root sh -c "ldconfig -p | grep -q '$lib '" ||
    { echo "FAILED: $lib, which brevix.cgi loads at run time, is not installed"; exit 1; }
done

say "brevix-site refuses what it cannot set up safely"
mkdir -p "$root/srv/taken" && touch "$root/srv/taken/keep"
refusals=(
  $'/srv/new\nline|--server apache|folder name may hold only'
  "/srv/a|--server iis|unknown server"
  "/srv/a|--smtp mail.example:99999|not a port"
  "/srv/a|--to a@b,c@d|not one mail address"
  "/srv/a|--user nobody-here|no such user"
  "/srv/taken|--server apache|is not an empty folder"
  "/var/www/html/forms|--server apache|serves as documents"
)
for row in "${refusals[@]}"; do
  IFS='|' read -r -d '' dir option expected <<<"$row" || true
  expected=${expected%$'\n'}
  set +e
  # shellcheck disable=SC2086 # the option and its value are two words
  out=$(in_root brevix-site create "$dir" $option 2>&1)
  code=$?
  set -e
  if [ $code != 2 ] || [[ $out != *"$expected"* ]] || [ -e "$root/srv/a" ] ||
    [ -e "$root/etc/apache2/conf-available/brevix.conf" ] || [ ! -e "$root/srv/taken/keep" ]; then
    echo "FAILED: brevix-site create $(printf %q "$dir") $option (exit $code, want 2 and: $expected):"
    echo "$out"
    exit 1
  fi
done

read -r web_port < <(/usr/bin/python3 "$repo/scripts/free_port.py" 1)
say "brevix-site create /srv/brevix behind Apache on 127.0.0.1:$web_port"
in_root brevix-site create /srv/brevix --server apache --smtp "127.0.0.1:$smtp_port" \
  --to owner@localhost
# brevix-site wrote a random PoW_Key; the form is submitted below without scripts, which no
# anti-spam widget can solve, so the guard is turned off for it.
grep -q '^PoW_Key=[0-9a-f]\{64\}' "$root/srv/brevix/brevix.ini"
sed -i 's/^PoW_Key=.*/PoW_Key=\r/' "$root/srv/brevix/brevix.ini"
sed -i "s/^Listen 80$/Listen 127.0.0.1:$web_port/" "$root/etc/apache2/ports.conf"
sed -i "s/<VirtualHost \*:80>/<VirtualHost *:$web_port>/" "$root/etc/apache2/sites-enabled/000-default.conf"
in_root apache2ctl start
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$web_port") 2>/dev/null && break; sleep 0.1; done
in_root brevix-site check /srv/brevix

# The sample form served from the package's site, submitted by Chromium: the end-to-end test's
# first case, pointed at the gateway folder that brevix-site laid out.
say "Chromium submits http://127.0.0.1:$web_port/brevix/form.html"
mkdir -p "$work/site"
ln -s "$root/srv/brevix" "$work/site/cgi-bin"
ln -s "$root/srv/brevix/www" "$work/site/www"
cd "$repo/tests/e2e"
wanted=$(node -p "require('./package.json').dependencies['playwright-core']")
installed=$(node -p "require('./node_modules/playwright-core/package.json').version" 2>/dev/null || true)
[ "$installed" = "$wanted" ] || npm ci --no-audit --no-fund
if ! BREVIX_BASE_URL="http://127.0.0.1:$web_port/brevix" BREVIX_MAILDIR="$work/mail" \
  BREVIX_SITE="$work/site" BREVIX_WORK="$work" \
  node --test --test-name-pattern='a complete submission' submit.test.mjs; then
  tail -n 20 "$root"/var/log/apache2/error.log "$root/srv/brevix/brevix-error.txt" 2>/dev/null || true
  exit 1
fi
# Nothing of the gateway's folder but the program is served: not its settings, not the results.
for path in brevix.ini results.csv BX-RefNumbers.txt www/form.html ../brevix.ini; do
  status=$(/usr/bin/python3 -c '
import sys, urllib.error, urllib.request
try:
    print(urllib.request.urlopen(sys.argv[1], timeout=10).status)
except urllib.error.HTTPError as e:
    print(e.code)' "http://127.0.0.1:$web_port/brevix/$path")
  [ "$status" = 404 ] || [ "$status" = 403 ] ||
    { echo "FAILED: /brevix/$path is served (HTTP $status)"; exit 1; }
done
# ---- 5. the local Postfix as the queue: an outage of the provider loses nothing -------------
(exec 3<>/dev/tcp/127.0.0.1/25) 2>/dev/null &&
  { echo "FAILED: 127.0.0.1:25 is taken on this machine; the root's Postfix needs it"; exit 1; }
say "brevix-site relay: the root's Postfix relays to provider.test on 127.0.0.1 (STARTTLS, login)"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=provider.test \
  -addext subjectAltName=DNS:provider.test -keyout "$work/provider.key" \
  -out "$root/etc/ssl/provider-ca.crt" 2>/dev/null
echo '127.0.0.1 provider.test' >>"$root/etc/hosts"
printf 'secret pass\n' >"$root/root/provider-password"
read -r provider_port < <(/usr/bin/python3 "$repo/scripts/free_port.py" 1)
# What a loopback hand-off cannot use must go from brevix.ini. No receipts: a mail a submission.
printf 'SMTP_Security=starttls\r\nSMTP_User=old\r\nSMTP_Password=old\r\n' >>"$root/srv/brevix/brevix.ini"
sed -i 's/^Receipt_Text=.*/Receipt_Text=\r/' "$root/srv/brevix/brevix.ini"
relay_args="--smarthost provider.test:$provider_port"
refusals=(
  "--smarthost provider.test|give the provider's port too"
  "--smarthost 127.0.0.1:587|by name, not by address"
  "$relay_args --user a:b --password-file /root/provider-password|not a user name"
  "$relay_args --ca-file /etc/hostname|holds no certificate"
)
before=$(cat "$root/etc/postfix/main.cf" "$root/srv/brevix/brevix.ini" | md5sum)
for row in "${refusals[@]}"; do
  IFS='|' read -r options expected <<<"$row"
  set +e
  # shellcheck disable=SC2086 # options and values are words
  out=$(in_root brevix-site relay /srv/brevix $options 2>&1)
  code=$?
  set -e
  if [ $code != 2 ] || [[ $out != *"$expected"* ]] ||
    [ "$(cat "$root/etc/postfix/main.cf" "$root/srv/brevix/brevix.ini" | md5sum)" != "$before" ]; then
    echo "FAILED: brevix-site relay /srv/brevix $options (exit $code, want 2, nothing changed and: $expected):"
    echo "$out"
    exit 1
  fi
done
# shellcheck disable=SC2086 # options and values are words
in_root brevix-site relay /srv/brevix $relay_args --user forms@example.org \
  --password-file /root/provider-password --ca-file /etc/ssl/provider-ca.crt
# The settings of the mail server and its login (SMTP_Helo_Name is none of them).
ini_settings=$(grep -iE '^SMTP_(Server|Port|Security|User|Password|Verify)=' \
  "$root/srv/brevix/brevix.ini" | tr -d '\r' | sort | tr '\n' ' ')
table=$(stat -c '%U %a' "$root"/etc/postfix/brevix_relay_password{,.db} | sort -u)
if [ "$ini_settings" != "SMTP_Port=25 SMTP_Server=127.0.0.1 " ] || [ "$table" != "root 600" ]; then
  echo "FAILED: after relay, brevix.ini sets: $ini_settings; the password table: $table"
  exit 1
fi
in_root /usr/lib/postfix/configure-instance.sh - # what the service does before a start
in_root postfix start 2>>"$work/postfix.log"
postfix_started=1
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/25) 2>/dev/null && break; sleep 0.1; done

say "the provider is down: 5 submissions are thanked and wait in Postfix's queue"
/usr/bin/python3 - "$web_port" <<'SUBMIT'
import sys, urllib.parse, urllib.request
for n in range(1, 6):
    form = urllib.parse.urlencode({"namereq": f"Relay {n}", "mail_from": "visitor@example.org",
                                   "mail_subject": f"Relay check {n}"})
    page = urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/brevix/brevix.cgi",
                                  form.encode(), timeout=30).read().decode()
    if f"Thank you, Relay {n}!" not in page:
        sys.exit(f"FAILED: submission {n} through the relay was answered with:\n{page}")
SUBMIT
for _ in $(seq 300); do
  [ "$(in_root postqueue -j | grep -c '"queue_name": *"deferred"')" = 5 ] && break
  sleep 0.1
done
set +e
out=$(in_root brevix-site check /srv/brevix 2>&1)
code=$?
set -e
if [ $code != 1 ] || [[ $out != *"5 mail(s) wait in the local Postfix's queue"*"Connection refused"* ]]; then
  echo "FAILED: check of a relay whose provider is down (exit $code, want 1, 5 mails and the reason):"
  echo "$out"
  exit 1
fi

say "the provider is back: the flushed queue delivers each mail once"
mkdir "$work/provider"
/usr/bin/python3 "$repo/tests/mail/smtp_capture_server.py" "$work/provider" --port "$provider_port" \
  --tls starttls --cert "$root/etc/ssl/provider-ca.crt" --key "$work/provider.key" \
  --user forms@example.org --password 'secret pass' >"$work/provider.port" 2>"$work/provider.log" &
provider_pid=$!
for _ in $(seq 100); do [ -s "$work/provider.port" ] && break; sleep 0.1; done
in_root postqueue -f
for _ in $(seq 300); do
  [ "$(in_root postqueue -j | wc -l)" = 0 ] && break
  sleep 0.1
done
sleep 1 # a mail sent twice would arrive now
delivered=$(cat "$work"/provider/*.eml 2>/dev/null | grep -o '^Subject: Relay check [0-9]*' |
  sort | uniq -c | awk '{ print $1 "x" $NF }' | tr '\n' ' ' || true)
if [ "$delivered" != "1x1 1x2 1x3 1x4 1x5 " ] || ! grep -q STARTTLS "$work/provider/dialogue.log"; then
  echo "FAILED: the provider received (count x submission): $delivered; want each of 1..5 once, over STARTTLS"
  in_root postqueue -p
  tail -n 20 "$work/provider.log"
  exit 1
fi
say "PASSED: the package builds, lintian is clean, a site it set up delivers the form's mail, and its relay loses none in an outage"
