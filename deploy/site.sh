#!/usr/bin/env bash
# Lays out a sample site and runs it behind lighttpd, Apache (event + mod_cgid) or
# nginx + fcgiwrap on a loopback port, or with the gateway resident as a FastCGI application
# behind nginx, lighttpd or Apache. Used by the demo, the end-to-end tests and the benchmark.
#
#   site.sh setup ROOT GATEWAY SMTP_PORT   copy the sample site to ROOT with GATEWAY as
#                                          ROOT/cgi-bin/brevix.cgi, mail going to 127.0.0.1:SMTP_PORT
#   site.sh start SERVER ROOT PORT         SERVER: lighttpd | apache | nginx |
#                                          nginx-fastcgi | lighttpd-fastcgi | apache-fastcgi
#   site.sh stop ROOT                      stop whatever runs for ROOT
#
# Layout of ROOT: www/ (documents: the sample form), cgi-bin/ (brevix.cgi beside brevix.ini, its
# templates and pages; the gateway writes its logs, results, reference numbers, Temp/ and log/
# here), logs/ (server logs), run/ (pid files, sockets), conf/ (the rendered configurations).
# The FastCGI variants start ROOT/cgi-bin/brevix.cgi --fastcgi ROOT/run/fcgi/brevix.sock (its
# process id in run/brevix-fastcgi.pid, its output in logs/brevix-fastcgi.out).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

as_root() { [ "$(id -u)" = 0 ]; }

wait_for_port() {
  local port=$1 tries=100
  while ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || { echo "nothing listens on 127.0.0.1:$port" >&2; return 1; }
    sleep 0.1
  done
}

set_ini_key() {  # file key value: replace the key's line, keeping CR LF line ends
  local file=$1 key=$2 value=$3
  if grep -qi "^$key=" "$file"; then
    sed -i "s|^$key=.*|$key=$value\r|I" "$file"
  else
    sed -i "/^\[Options\]/a $key=$value\r" "$file"
  fi
}

render() {  # template ROOT PORT -> stdout
  sed -e "s|@ROOT@|$2|g" -e "s|@PORT@|$3|g" "$1"
}

cmd_setup() {
  local root=$1 gateway=$2 smtp_port=$3
  mkdir -p "$root"/{www,cgi-bin,logs,run/fcgi,conf,nginx}
  cp -r "$here"/sample/www/. "$root/www/"
  cp -r "$here"/sample/cgi-bin/. "$root/cgi-bin/"
  install -m 0755 "$gateway" "$root/cgi-bin/brevix.cgi"
  set_ini_key "$root/cgi-bin/brevix.ini" SMTP_Server 127.0.0.1
  set_ini_key "$root/cgi-bin/brevix.ini" SMTP_Port "$smtp_port"
  # The anti-spam key: BREVIX_POW_KEY when set (empty turns the guard off), else a random one,
  # so the sample form shows its widget at work.
  set_ini_key "$root/cgi-bin/brevix.ini" PoW_Key \
    "${BREVIX_POW_KEY-$(od -An -N32 -tx1 /dev/urandom | tr -d ' \n')}"
  chmod 755 "$root" "$root/www" "$root/cgi-bin"
  chmod 777 "$root/logs"
  if as_root; then
    # The web server's user writes the gateway's files below its folder.
    chown -R www-data:www-data "$root/cgi-bin" "$root/run/fcgi" "$root/nginx"
  fi
}

# A daemonizing lighttpd that fails says only "check error log"; what went wrong before the log
# could be opened (a folder's permissions, say) only shows in the foreground.
explain_lighttpd_failure() {
  local root=$1 log="$1/logs/lighttpd-error.log"
  {
    echo "lighttpd did not start. Its error log is $log"
    [ -s "$log" ] && tail -n 10 "$log"
    echo "lighttpd in the foreground says:"
    timeout 3 lighttpd -D -f "$root/conf/lighttpd.conf" 2>&1 | tail -n 10
  } >&2
}

# The gateway as a resident FastCGI application, as the web server's user, from its folder.
start_fastcgi_gateway() {
  local root=$1 socket="$1/run/fcgi/brevix.sock"
  local run=("$root/cgi-bin/brevix.cgi" --fastcgi "$socket" --threads 4)
  if as_root; then
    run=(setpriv --reuid=www-data --regid=www-data --init-groups "${run[@]}")
  fi
  (cd "$root/cgi-bin" && exec setsid env -i PATH=/usr/local/bin:/usr/bin:/bin "${run[@]}" \
    >"$root/logs/brevix-fastcgi.out" 2>&1 </dev/null) &
  echo $! >"$root/run/brevix-fastcgi.pid"
  for _ in $(seq 100); do [ -S "$socket" ] && return 0; sleep 0.1; done
  echo "the FastCGI gateway did not start:" >&2
  cat "$root/logs/brevix-fastcgi.out" >&2
  return 1
}

cmd_start() {
  local server=$1 root=$2 port=$3
  case "$server" in
    lighttpd)
      render "$here/lighttpd.conf" "$root" "$port" >"$root/conf/lighttpd.conf"
      # A site's own additions (the benchmark's floor programs), outside the gateway's folder.
      [ ! -f "$root/conf/lighttpd-local.conf" ] ||
        cat "$root/conf/lighttpd-local.conf" >>"$root/conf/lighttpd.conf"
      as_root || sed -i '/server\.\(user\|group\)name/d' "$root/conf/lighttpd.conf"
      lighttpd -f "$root/conf/lighttpd.conf" || { explain_lighttpd_failure "$root"; return 1; } ;;
    apache)
      render "$here/apache.conf" "$root" "$port" >"$root/conf/apache.conf"
      apache2 -f "$root/conf/apache.conf" -k start ;;
    nginx)
      render "$here/nginx.conf" "$root" "$port" >"$root/conf/nginx.conf"
      as_root || sed -i '/^user /d' "$root/conf/nginx.conf"
      local wrap=(/usr/sbin/fcgiwrap -c 4 -s "unix:$root/run/fcgi/fcgiwrap.sock")
      if as_root; then
        wrap=(setpriv --reuid=www-data --regid=www-data --init-groups "${wrap[@]}")
      fi
      setsid env -i PATH=/usr/local/bin:/usr/bin:/bin "${wrap[@]}" \
        >"$root/logs/fcgiwrap.out" 2>"$root/logs/fcgiwrap.err" </dev/null &
      echo $! >"$root/run/fcgiwrap.pid"
      for _ in $(seq 50); do [ -S "$root/run/fcgi/fcgiwrap.sock" ] && break; sleep 0.1; done
      nginx -e "$root/logs/nginx-error.log" -c "$root/conf/nginx.conf" ;;
    nginx-fastcgi)
      render "$here/nginx-fastcgi.conf" "$root" "$port" >"$root/conf/nginx.conf"
      as_root || sed -i '/^user /d' "$root/conf/nginx.conf"
      start_fastcgi_gateway "$root" || return 1
      nginx -e "$root/logs/nginx-error.log" -c "$root/conf/nginx.conf" ;;
    lighttpd-fastcgi)
      render "$here/lighttpd-fastcgi.conf" "$root" "$port" >"$root/conf/lighttpd.conf"
      # The benchmark's resident floor, as lighttpd-local.conf is for the plain server.
      [ ! -f "$root/conf/lighttpd-fastcgi-local.conf" ] ||
        cat "$root/conf/lighttpd-fastcgi-local.conf" >>"$root/conf/lighttpd.conf"
      as_root || sed -i '/server\.\(user\|group\)name/d' "$root/conf/lighttpd.conf"
      start_fastcgi_gateway "$root" || return 1
      lighttpd -f "$root/conf/lighttpd.conf" || { explain_lighttpd_failure "$root"; return 1; } ;;
    apache-fastcgi)
      render "$here/apache-fastcgi.conf" "$root" "$port" >"$root/conf/apache.conf"
      start_fastcgi_gateway "$root" || return 1
      apache2 -f "$root/conf/apache.conf" -k start ;;
    *) echo "unknown server: $server (lighttpd, apache, nginx or one of the -fastcgi variants)" >&2
       return 2 ;;
  esac
  wait_for_port "$port"
}

stop_pid_file() {
  local file=$1
  [ -s "$file" ] || return 0
  local pid; pid=$(cat "$file")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  rm -f "$file"
}

cmd_stop() {
  local root=$1
  stop_pid_file "$root/run/lighttpd.pid"
  if [ -s "$root/run/apache.pid" ]; then
    apache2 -f "$root/conf/apache.conf" -k stop 2>/dev/null || true
    for _ in $(seq 50); do [ -s "$root/run/apache.pid" ] || break; sleep 0.1; done
    stop_pid_file "$root/run/apache.pid"
  fi
  stop_pid_file "$root/run/nginx.pid"
  # SIGTERM: the resident gateway finishes the requests in hand and ends.
  stop_pid_file "$root/run/brevix-fastcgi.pid"
  rm -f "$root/run/fcgi/brevix.sock"
  if [ -s "$root/run/fcgiwrap.pid" ]; then
    # fcgiwrap pre-forks and replaces children that die, so stopping children and parent one by
    # one leaves new children behind. It runs in a session of its own (setsid): end the whole
    # process group at once.
    local group; group=$(cat "$root/run/fcgiwrap.pid")
    kill -TERM -- "-$group" 2>/dev/null || true
    for _ in $(seq 50); do pgrep -g "$group" >/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$group" 2>/dev/null || true
    rm -f "$root/run/fcgiwrap.pid"
    rm -f "$root/run/fcgi/fcgiwrap.sock"
  fi
}

case "${1:-}" in
  setup) shift; cmd_setup "$@" ;;
  start) shift; cmd_start "$@" ;;
  stop) shift; cmd_stop "$@" ;;
  *) sed -n '2,16p' "$0" >&2; exit 2 ;;
esac
