# Sourced by bench/profile_cgi.sh and bench/cgi_layout.sh: a sample site in a fresh folder, its
# mail going to postfix's smtp-sink on a free port, the CGI mail floor built beside it, and
# `once [tool...] program`, which runs one submission of the benchmark's sample form with the
# CGI variables and the body on standard input. Expects repo (the project folder); sets gateway
# (BREVIX_GATEWAY or the built gateway), work, site and fields; removes the folder and stops
# smtp-sink on exit.
gateway=${BREVIX_GATEWAY:-$repo/build/bin/brevix.cgi}
work=$(mktemp -d)
chmod 755 "$work"
site=$work/site
smtp=$(python3 "$repo/scripts/free_port.py" 1)
smtp-sink -u nobody -c "127.0.0.1:$smtp" 256 >/dev/null 2>&1 &
sink=$!
trap 'kill "$sink"; rm -rf "$work"' EXIT
BREVIX_POW_KEY="" bash "$repo/deploy/site.sh" setup "$site" "$gateway" "$smtp" >/dev/null
# One mail per submission, as the benchmark and the floor send.
sed -i 's/^Receipt_Text=.*/Receipt_Text=\r/' "$site/cgi-bin/brevix.ini"
cc -O2 -DWITH_MAIL -DSMTP_PORT="$smtp" -o "$work/floor_mail.cgi" "$repo/bench/floor_cgi.c"
fields=$(python3 -c "import sys; sys.path.insert(0, '$repo/bench'); import submissions; print(submissions.FIELDS)")
printf '%s' "$fields" >"$work/body"
cgi_env=(GATEWAY_INTERFACE=CGI/1.1 SERVER_SOFTWARE=bench REQUEST_METHOD=POST
  SCRIPT_NAME=/cgi-bin/brevix.cgi REMOTE_ADDR=127.0.0.1 SERVER_NAME=127.0.0.1 SERVER_PORT=80
  HTTP_HOST=127.0.0.1 CONTENT_TYPE=application/x-www-form-urlencoded
  CONTENT_LENGTH=${#fields} PATH=/usr/bin:/bin)
once() {  # [tool...] program: one submission with the CGI variables, the body on stdin
  (cd "$site/cgi-bin" && env -i "${cgi_env[@]}" "$@" <"$work/body")
}
