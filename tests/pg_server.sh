#!/bin/sh
# A throwaway PostgreSQL server for the tests labelled `db`:
#   pg_server.sh start DIR    initdb in DIR, start it listening on DIR's Unix socket only
#   pg_server.sh stop DIR     stop it and remove DIR
# The server runs as an unprivileged user: the caller, or `postgres` (else
# `nobody`) when called as root. Its superuser is `lanewright`, trusted on the
# socket; nothing listens on TCP. Without the server binaries, start says so
# and does nothing (the db tests then skip).
set -eu

action=${1:-}
dir=${2:-}
if [ -z "$action" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop DIR" >&2
  exit 2
fi

bindir=${LW_PG_BINDIR:-}
if [ -z "$bindir" ]; then
  for d in /usr/lib/postgresql/*/bin; do
    [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ] && bindir=$d
  done
fi
if [ -z "$bindir" ] && command -v initdb >/dev/null 2>&1 && command -v pg_ctl >/dev/null 2>&1; then
  bindir=$(dirname "$(command -v pg_ctl)")
fi

# Runs a command as the server's user.
if [ "$(id -u)" = 0 ]; then
  owner=postgres
  id "$owner" >/dev/null 2>&1 || owner=nobody
  as_owner() { runuser -u "$owner" -- "$@"; }
else
  owner=$(id -un)
  as_owner() { "$@"; }
fi

stop() {
  if [ -n "$bindir" ] && [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "$action" in
  start)
    if [ -z "$bindir" ]; then
      echo "PostgreSQL server binaries (initdb, pg_ctl) not found: the db tests skip." \
           "Install Debian's postgresql package (make deps) to run them."
      exit 0
    fi
    stop  # a server left over from an interrupted run
    mkdir -p "$dir"
    chmod 755 "$dir"
    [ "$(id -u)" = 0 ] && chown "$owner" "$dir"
    as_owner "$bindir/initdb" -D "$dir/data" -U lanewright --auth=trust -E UTF8 \
      --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || {
      cat "$dir/initdb.log" >&2
      exit 1
    }
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $dir -c fsync=off -c full_page_writes=off" start >/dev/null || {
      cat "$dir/server.log" >&2
      exit 1
    }
    echo "PostgreSQL server ($bindir) on the Unix socket in $dir"
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
