# A demo site, sourced by the scripts that run the updater on one: the
# product's programs (small stand-ins under their file names), its cached
# settings files, kvayarlar.ini and a database made from the site fixture.
# The names come from kvtool names, as the updater knows them.
#   . "$root/scripts/lib/site.sh"

site_lib_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# The product's names, from the build's kvtool: the arrays site_programs and
# site_cached_files, and site_access_code.
site_names() { # kvtool
  mapfile -t site_programs < <("$1" names programs)
  mapfile -t site_cached_files < <("$1" names settings-files)
  site_access_code=$("$1" names access-code)
  if [ ${#site_programs[@]} -eq 0 ] || [ ${#site_cached_files[@]} -eq 0 ] || [ -z "$site_access_code" ]; then
    echo "$1 names printed no names" >&2
    return 1
  fi
}

# A new UTF8 database at TARGET ("localhost:/path" through a server, a bare
# path opened directly), loaded with the site fixture. The login comes from
# the environment (ISC_USER, ISC_PASSWORD).
site_database() { # target
  echo "create database '$1' page_size 8192 default character set utf8;" | isql-fb -q
  isql-fb -q "$1" -i "$site_lib_root/tests/fixtures/site-schema.sql"
}

# Lays out the site in SITE (a folder made anew): data/ with the database,
# Rapor/, kvayarlar.ini whose SUNUCU_IP is SERVER (empty: the database file
# is opened directly), the programs as copies of STAND_IN and the cached
# settings files. site_names comes first.
site_make() { # site server stand-in
  local site=$1 server=$2 stand_in=$3 db=$1/data/KUVENTO.FDB p f
  rm -rf "$site"
  mkdir -p "$site/data" "$site/Rapor"
  # The database server (user firebird) writes the database here.
  [ -z "$server" ] || chmod 0777 "$site/data"
  site_database "${server:+$server:}$db"
  cat >"$site/kvayarlar.ini" <<INI
[BAGLANTI]
SUNUCU_IP=$server
UYGULAMA_ADRES=$site
DB_ADRES=$db
RAPOR_ADRES=$site/Rapor
UPDATE_ADRES=$site/update
INI
  for p in "${site_programs[@]}"; do install -m 0755 "$stand_in" "$site/$p"; done
  for f in "${site_cached_files[@]}"; do echo ayar >"$site/$f"; done
}

# Starts every program of SITE from its folder, as a site runs them, and
# returns once each has logged its start in SITE/programs.log.
site_start_programs() { # site
  local p
  for p in "${site_programs[@]}"; do (cd "$1" && exec "./$p" </dev/null >/dev/null 2>&1 &); done
  for _ in $(seq 100); do
    [ "$(grep -c '^start ' "$1/programs.log" 2>/dev/null || true)" -ge ${#site_programs[@]} ] && break
    sleep 0.1
  done
}
