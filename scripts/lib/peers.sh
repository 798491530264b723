# Peers the scripts start for themselves, sourced by them: a free loopback
# port, the check that the build made the program a script runs, and a private
# nginx (its configuration, logs, pid file and temporary files in a folder of
# its own, stopped by its pid).
#   . "$root/scripts/lib/peers.sh"

# A loopback port free at the time of the call.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Ends the script when the build has not made PROGRAM.
require_built() { # program
  [ -x "$1" ] || { echo "no $(basename "$1") in $(dirname "$1") (build first)" >&2; exit 1; }
}

# Serves ROOT on 127.0.0.1:PORT from a private nginx whose files live in DIR;
# returns once the master has written its pid file. EXTRA goes into the http
# block (keepalive_requests 1000, say). The workers run as USER (default root;
# the directive only counts when the master is root), and with --access-log
# every request is logged to DIR/access.log.
private_nginx_start() { # [--user USER] [--access-log] dir root port [extra]
  local user=root access_log=off
  while [ $# -gt 0 ]; do
    case $1 in
      --user) user=$2; shift 2 ;;
      --access-log) access_log=; shift ;;
      *) break ;;
    esac
  done
  local dir=$1 root=$2 port=$3 extra=${4:-}
  mkdir -p "$dir"
  cat >"$dir/nginx.conf" <<CONF
daemon on; worker_processes 1; user $user; pid $dir/nginx.pid; error_log $dir/error.log;
events { worker_connections 64; }
http { default_type application/octet-stream; access_log ${access_log:-$dir/access.log}; sendfile on; $extra
  client_body_temp_path $dir/b; proxy_temp_path $dir/p; fastcgi_temp_path $dir/f;
  uwsgi_temp_path $dir/u; scgi_temp_path $dir/s;
  server { listen 127.0.0.1:$port; root $root; } }
CONF
  nginx -e "$dir/error.log" -p "$dir" -c "$dir/nginx.conf" || return 1
  for _ in $(seq 100); do
    [ -s "$dir/nginx.pid" ] && return 0
    sleep 0.05
  done
  echo "nginx wrote no pid file; see $dir/error.log" >&2
  return 1
}

# Stops the private nginx of DIR, when it runs, by its pid. A stop that comes
# before the master waits for signals is only noticed at the next signal, so
# it is sent again while the master is there; its workers end with it.
private_nginx_stop() { # dir
  local pid
  pid=$(cat "$1/nginx.pid" 2>/dev/null) || return 0
  [[ "$pid" =~ ^[0-9]+$ ]] || return 0
  for _ in $(seq 10); do
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 20); do
      kill -0 "$pid" 2>/dev/null || return 0
      sleep 0.05
    done
  done
  kill -KILL -- "-$pid" 2>/dev/null || true
}
