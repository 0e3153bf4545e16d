# shellcheck shell=bash
# Sourced by brevix-site: the machine's Postfix as the gateway's queue.
#
#   cmd_relay DIR SMARTHOST USER PASSWORD_FILE SECURITY CA_FILE
#       (as root) makes Postfix a relay for the gateway alone: it takes mail on the loopback
#       interface from this machine only, delivers nothing locally, and hands everything to the
#       provider's SMARTHOST (HOST:PORT) over TLS whose certificate must name HOST and be signed
#       by an authority in CA_FILE (starttls: STARTTLS on a plain connection; tls: TLS from the
#       first byte), logging in as USER with the password from the first line of PASSWORD_FILE
#       when USER is given. Postfix keeps what the provider refuses for a while and retries it.
#       DIR/brevix.ini then sends to 127.0.0.1:25 without TLS or login. Every value is checked
#       before anything changes; Postfix's previous main.cf is kept once as main.cf.before-brevix
#       and restored should `postfix check` reject the new one.
#   check_relay HOST PORT
#       for check: when the gateway sends to the local Postfix and Postfix relays, reports its
#       queue: how many mails wait, how many were deferred, and the reason of the latest one.
#
# Uses die, note, problem, need_program, check_smtp_option (which sets smtp_host and smtp_port),
# ini_value and ini_set of brevix-site.
# shellcheck disable=SC2154 # smtp_host and smtp_port

# The provider's TLS is always verified; a CA file other than Debian's bundle serves a provider
# with a private authority (and the package test's own).
# shellcheck disable=SC2034 # brevix-site's default for --ca-file
relay_ca_default=/etc/ssl/certs/ca-certificates.crt

check_relay_options() {
  local smarthost=$1 user=$2 password_file=$3 security=$4 ca_file=$5
  [ -n "$smarthost" ] || die "relay needs --smarthost HOST:PORT, your provider's mail server"
  case "$smarthost" in
    *:[0-9]*) ;;
    *) die "give the provider's port too: --smarthost HOST:PORT (usually 587 for starttls, 465 for tls)" ;;
  esac
  check_smtp_option "$smarthost"
  # Postfix checks the certificate against the name: an address would never match.
  if [[ $smtp_host == *:* || $smtp_host != *[!0-9.]* ]]; then
    die "give the provider's mail server by name, not by address: its certificate is checked against the name"
  fi
  case "$security" in
    starttls | tls) ;;
    *) die "unknown security: $(printf %q "$security") (starttls or tls; the provider's TLS is always verified)" ;;
  esac
  if [ -n "$user" ] || [ -n "$password_file" ]; then
    [ -n "$user" ] || die "--password-file needs --user"
    [ -n "$password_file" ] || die "--user needs --password-file FILE (the password on its first line)"
    # Postfix's table holds "USER:PASSWORD": no colon, blank or control character in the name.
    case "$user" in *[!A-Za-z0-9._%+@=-]*) die "not a user name for the provider: $(printf %q "$user")" ;; esac
  fi
  case "$ca_file" in "" | *[!A-Za-z0-9._+@/-]*) die "the CA file's name may hold only letters, digits and . _ + @ - /: $(printf %q "$ca_file")" ;; esac
  [ -f "$ca_file" ] && grep -q -- '-----BEGIN CERTIFICATE-----' "$ca_file" ||
    die "$ca_file holds no certificate (install ca-certificates, or name the provider's authority with --ca-file)"
}

# Prints the first line of FILE, the password, after checking it can be stored in Postfix's table.
read_password() {
  local file=$1 password=
  [ -f "$file" ] && [ -r "$file" ] || die "cannot read the password file $(printf %q "$file")"
  IFS= read -r password <"$file" || [ -n "$password" ] || die "the password file $file is empty"
  password=${password%$'\r'}
  [ -n "$password" ] || die "the first line of $file is empty: it holds the password"
  case "$password" in
    *[[:cntrl:]]*) die "the password in $file holds a control character" ;;
    [[:space:]]* | *[[:space:]]) die "the password in $file begins or ends with a blank, which Postfix's table cannot keep" ;;
  esac
  printf '%s\n' "$password"
}

# Writes Postfix's password table (root's, mode 0600) for one provider, then its hash map.
write_password_map() {
  local map=$1 key=$2 user=$3 password=$4
  (
    umask 077
    printf '%s %s:%s\n' "$key" "$user" "$password" >"$map.brevix-new"
    mv -f -- "$map.brevix-new" "$map"
    postmap "hash:$map"
  )
  chown root:root "$map" "$map.db"
  chmod 0600 "$map" "$map.db"
}

cmd_relay() {
  local dir=$1 user=$3 password_file=$4 security=$5 ca_file=$6 ini=$1/brevix.ini
  local config password='' map relayhost wrapper=no
  [ "$(id -u)" = 0 ] || die "relay needs root: it configures the machine's Postfix"
  check_relay_options "$2" "$user" "$password_file" "$security" "$ca_file"
  [ -f "$ini" ] || die "$ini is missing: lay out the gateway folder first (brevix-site create $dir)"
  grep -qi '^\[Options\]' "$ini" || die "$ini has no [Options] section"
  need_program postconf postfix
  if [ -n "$user" ]; then
    password=$(read_password "$password_file")
    compgen -G "/usr/lib/*/sasl2/libplain.so*" >/dev/null ||
      compgen -G "/usr/lib/*/sasl2/liblogin.so*" >/dev/null ||
      die "Postfix cannot log in to the provider without the SASL modules: install libsasl2-modules first (apt install libsasl2-modules)"
  fi
  config=$(postconf -h config_directory)
  if [ ! -f "$config/main.cf" ]; then
    # Installed with "No configuration": Debian's own starting point, which relay completes.
    [ -f /usr/share/postfix/main.cf.debian ] || die "$config/main.cf is missing: reconfigure Postfix (dpkg-reconfigure postfix)"
    install -m 0644 /usr/share/postfix/main.cf.debian "$config/main.cf"
    echo "Postfix had no main.cf: started from /usr/share/postfix/main.cf.debian"
  fi
  map=$config/brevix_relay_password
  relayhost="[$smtp_host]:$smtp_port"
  [ "$security" = tls ] && wrapper=yes

  [ -e "$config/main.cf.before-brevix" ] || cp -p -- "$config/main.cf" "$config/main.cf.before-brevix"
  cp -p -- "$config/main.cf" "$config/main.cf.brevix-undo"
  if [ -n "$user" ]; then
    write_password_map "$map" "$relayhost" "$user" "$password"
    postconf -e smtp_sasl_auth_enable=yes "smtp_sasl_password_maps=hash:$map" \
      smtp_sasl_security_options=noanonymous smtp_sasl_tls_security_options=noanonymous
  else
    postconf -e smtp_sasl_auth_enable=no
    postconf -X smtp_sasl_password_maps
    rm -f -- "$map" "$map.db"
  fi
  # The null client: mail from this machine's loopback only, nothing delivered here (mail for
  # root@localhost goes to the provider too, never to a local mailbox nobody reads), everything
  # to the provider. The provider's name is also looked up in /etc/hosts, as the gateway would.
  postconf -e "relayhost=$relayhost" \
    inet_interfaces=loopback-only "mynetworks=127.0.0.0/8 [::1]/128" \
    mydestination= "local_transport=error:local delivery is disabled" \
    "smtp_host_lookup=dns, native" \
    smtp_tls_security_level=secure "smtp_tls_wrappermode=$wrapper" "smtp_tls_CAfile=$ca_file"
  if ! postfix check; then
    mv -f -- "$config/main.cf.brevix-undo" "$config/main.cf"
    die "Postfix rejected the new settings; its previous main.cf is back"
  fi
  rm -f -- "$config/main.cf.brevix-undo"
  echo "Postfix relays the gateway's mail to $relayhost ($security, certificate checked against $ca_file${user:+, login $user})"
  # inet_interfaces takes effect on a start only, not on a reload.
  if systemctl is-active --quiet postfix 2>/dev/null; then
    systemctl restart postfix && echo "Restarted Postfix"
  elif postfix status 2>/dev/null; then
    echo "Restart Postfix (postfix stop; postfix start) so that it listens on the loopback interface only"
  else
    echo "Start Postfix (systemctl start postfix)"
  fi

  ini_set "$ini" SMTP_Server 127.0.0.1
  ini_set "$ini" SMTP_Port 25
  # The hand-off to Postfix is plain SMTP on the loopback interface; the provider's password now
  # lives in Postfix's table, readable by root only.
  sed -i -e '/^SMTP_Security=/Id' -e '/^SMTP_User=/Id' -e '/^SMTP_Password=/Id' "$ini"
  echo "Set $ini to send to 127.0.0.1:25 (the local Postfix)"
  [ -n "$(ini_value "$ini" Mail_Sender | tr -d '[:space:]')" ] ||
    note "set Mail_Sender in $ini to an address of your own domain: most providers refuse mail from other senders"
  cat <<EOF

Postfix keeps what the provider refuses for a while and retries it for days.
Watch it with:
  brevix-site check $dir   (the queue and the reason of the latest deferral)
  postqueue -p   (every mail in the queue)
  postqueue -f   (retry now)
EOF
}

# ---- check -----------------------------------------------------------------------------------
# The delay reason of the most recently arrived queued mail that has one, from postqueue -j's
# JSON lines (one mail a line: arrival_time before recipients), with JSON escapes undone and
# control characters dropped: the text comes from the provider.
latest_delay_reason() {
  sed -n -E 's/.*"arrival_time": *([0-9]+).*"delay_reason": *"(([^"\\]|\\.)*)".*/\1 \2/p' |
    sort -n | tail -n 1 | cut -d ' ' -f 2- |
    sed -e 's/\\"/"/g' -e 's|\\/|/|g' -e 's/\\\\/\\/g' | tr -d '[:cntrl:]'
}

check_relay() {
  local host=$1 port=${2:-25} relayhost queue count deferred reason
  case "$host" in 127.0.0.1 | localhost | ::1 | "[::1]") ;; *) return 0 ;; esac
  [ "$port" = 25 ] && command -v postconf >/dev/null && command -v postqueue >/dev/null || return 0
  relayhost=$(postconf -h relayhost 2>/dev/null) || return 0
  if [ -z "$relayhost" ]; then
    note "the local Postfix delivers the gateway's mail itself (brevix-site relay forwards it through your provider)"
    return 0
  fi
  if ! queue=$(postqueue -j 2>/dev/null); then
    problem "the local Postfix's queue cannot be read (postqueue -j failed): is Postfix running?"
    return 0
  fi
  count=$(grep -c '"queue_id"' <<<"$queue" || true)
  deferred=$(grep -c '"queue_name": *"deferred"' <<<"$queue" || true)
  if [ "$count" = 0 ]; then
    echo "ok: the local Postfix relays to $relayhost; its queue is empty"
  elif [ "$deferred" = 0 ]; then
    echo "ok: the local Postfix relays to $relayhost; $count mail(s) on their way"
  else
    reason=$(latest_delay_reason <<<"$queue")
    problem "$count mail(s) wait in the local Postfix's queue for $relayhost, $deferred deferred; the latest reason: ${reason:-none given}. Postfix retries them (postqueue -f retries now, postqueue -p lists them)"
  fi
}
