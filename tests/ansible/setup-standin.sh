#!/bin/bash
# STAND-IN for the second-stage installer, used only by the Ansible role's
# own tests (role_test.py packs it as Bin/setup). It speaks the unattended
# interface that the role drives, as the installation's lifecycle fixes it:
# -s, -p, -cfg FILE, -d DIR, -nb, --check (ending with "Check: <verdict>",
# "Changed: key: old -> new" before it), --reinstall, "already installed,
# nothing to do", install-manifest.txt, the ".old" generation and kept
# passwords. It installs the files it was packed with and writes small
# stand-ins for the server's files; it is no product and is never shipped.
# Once the real setup has that interface, the tests run against it instead.
set -u

product="Strata Server"
release=9.08
version=9.0.8.1427

# The launcher runs us inside ./qzsetup; like the real setup, we remove that
# directory on every way out.
extract=$(pwd)
start=$(cd .. && pwd)
finish() {
  cd "$start" && rm -rf "$extract"
  exit "$1"
}
fail() {
  printf '%s\n' "$1"
  finish 255
}

host=$(hostname)
install_dir=$start
admin_user="" encoder_user="" admin_password="" encoder_password=""
admin_realm=$host.AdminRealm encoder_realm=$host.EncoderRealm
rbs_encoder_realm=$host.RBSEncoderRealm wm_encoder_realm=$host.WMEncoderRealm
cdist_realm=$host.CDistRealm content_realm=$host.ContentRealm
logging_style=5 backup=1 silent=0 check=0 reinstall=0
port_names=(MonitorPort RTSPPort VQXPort HTTPPort MMSPort AdminPort)
port_keys=(monitor_port rtsp_port vqx_port http_port mms_port admin_port)
ports=(9090 554 7070 80 1755 12345)

# A number as strtol reads it: leading digits, 0 when there are none.
number() {
  local digits=${1%%[!0-9]*}
  echo $((10#${digits:-0}))
}

read_defaults() {
  local path=$1 line name value
  case $path in /*) ;; *) path=../$path ;; esac
  [ -r "$path" ] || fail "ERROR: Unable to read installer config file $1 (No such file or directory)"
  local pattern=$'^ *([A-Za-z0-9]+)[ \t=]*(.*)$'
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    [[ $line =~ $pattern ]] || continue
    name=${BASH_REMATCH[1],,}
    value=${BASH_REMATCH[2]}
    value=${value%"${value##*[![:space:]]}"}
    case $name in
      definstallpath) [ -z "$value" ] || install_dir=$value ;;
      adminuserid) [ -z "$value" ] || admin_user=$value ;;
      encoderuserid) [ -z "$value" ] || encoder_user=$value ;;
      adminpassword) [ -z "$value" ] || admin_password=$value ;;
      encoderpassword) [ -z "$value" ] || encoder_password=$value ;;
      adminrealm) [ -z "$value" ] || admin_realm=$value ;;
      encoderrealm) [ -z "$value" ] || encoder_realm=$value ;;
      rbsencoderrealm) [ -z "$value" ] || rbs_encoder_realm=$value ;;
      wmencoderrealm) [ -z "$value" ] || wm_encoder_realm=$value ;;
      contentrealm) [ -z "$value" ] || content_realm=$value ;;
      loggingstyle) [ -z "$value" ] || logging_style=$value ;;
      backupoldfiles) backup=$(number "$value") ;;
      silentinstall) silent=$(number "$value") ;;
      monitorport) ports[0]=$(number "$value") ;;
      rtspport) ports[1]=$(number "$value") ;;
      vqxport) ports[2]=$(number "$value") ;;
      httpport) ports[3]=$(number "$value") ;;
      mmsport) ports[4]=$(number "$value") ;;
      adminport) ports[5]=$(number "$value") ;;
    esac
  done <"$path"
}

for arg in "$@"; do
  case $arg in -s | --silent | /s) silent=1 ;; esac
done
while [ $# -gt 0 ]; do
  case $1 in
    -s | --silent | /s | -p | --progress-only) ;;
    --check) check=1 ;;
    --reinstall) reinstall=1 ;;
    -nb | --nb | --no-backup) backup=0 ;;
    -d | -dest | --dest | --destination)
      [ $# -gt 1 ] || fail "Option: $1 must take a filename!"
      install_dir=$2
      shift
      ;;
    -cfg)
      [ $# -gt 1 ] || fail "Option: $1 must take a filename!"
      read_defaults "$2"
      shift
      ;;
    *) [ "$silent" = 1 ] || echo "ERROR: unknown command-line option: $1" ;;
  esac
  shift
done
[ "$backup" = 0 ] || backup=1
case $install_dir in /*) ;; *) install_dir=$start/$install_dir ;; esac

[ -n "$admin_user" ] || fail "ERROR: AdminUserID must be given for an unattended installation"
[ -n "$encoder_user" ] || fail "ERROR: EncoderUserID must be given for an unattended installation"
for i in 0 1 2 3 4 5; do
  port=${ports[$i]}
  if [ "$port" -lt 1 ] || [ "$port" -gt 65535 ]; then
    fail "ERROR: ${port_names[$i]} $port is not a valid port (1 to 65535)"
  fi
  for ((j = 0; j < i; ++j)); do
    [ "${ports[$j]}" != "$port" ] || fail "ERROR: ${port_names[$i]} $port is also ${port_names[$j]}"
  done
  # A server answering on the loopback address holds the port.
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    fail "ERROR: ${port_names[$i]} $port is in use on this machine"
  fi
done

# The launcher exports the package's digest; run by hand we know none.
digest=${STRATA_PACKAGE_DIGEST:-unknown}

settings() {
  printf '%s\n' "install_dir=$install_dir" "admin_user=$admin_user" "encoder_user=$encoder_user" \
    "admin_realm=$admin_realm" "encoder_realm=$encoder_realm" \
    "rbs_encoder_realm=$rbs_encoder_realm" "wm_encoder_realm=$wm_encoder_realm" \
    "cdist_realm=$cdist_realm" "content_realm=$content_realm" "logging_style=$logging_style"
  for i in 0 1 2 3 4 5; do
    echo "${port_keys[$i]}=${ports[$i]}"
  done
  echo "backup_old_files=$backup"
}

# "MODE<TAB>SIZE<TAB>sha256:HEX" of a file or link, as the manifest lists it.
file_record() {
  if [ -L "$1" ]; then
    local target
    target=$(readlink "$1")
    printf 'link\t%s\tsha256:%s' "${#target}" "$(printf '%s' "$target" | sha256sum | cut -d' ' -f1)"
  else
    printf '%04o\t%s\tsha256:%s' "$((8#$(stat -c %a "$1")))" "$(stat -c %s "$1")" \
      "$(sha256sum <"$1" | cut -d' ' -f1)"
  fi
}

manifest=$install_dir/install-manifest.txt
keys="install_dir admin_user encoder_user admin_realm encoder_realm rbs_encoder_realm wm_encoder_realm cdist_realm content_realm logging_style monitor_port rtsp_port vqx_port http_port mms_port admin_port backup_old_files"
old_settings=""
verdict=install
if [ -f "$manifest" ]; then
  old_settings=$(for key in $keys; do grep -m1 "^$key=" "$manifest"; done)
  same=1
  [ "$digest" != unknown ] && grep -qxF "package_digest=$digest" "$manifest" || same=0
  [ "$old_settings" = "$(settings)" ] || same=0
  while IFS=$'\t' read -r word path record; do
    [ "$(file_record "$install_dir/$path" 2>/dev/null)" = "$record" ] || same=0
  done < <(grep $'^file\t' "$manifest")
  if [ $same = 0 ]; then
    verdict=upgrade
  elif [ $reinstall = 1 ]; then
    verdict=reinstall
  else
    verdict="nothing to do"
  fi
fi

account() {
  [ -f "$install_dir/$1/users/$2" ] && echo kept || echo new
}
moves=""
for name in Bin Plugins Lib qmserver.cfg default.cfg; do
  [ -e "$install_dir/$name" ] && moves="$moves $name"
done

if [ $check = 1 ]; then
  if [ "$silent" = 0 ]; then
    echo "Installation directory: $install_dir"
    echo "Administrator account: $admin_user ($(account adm_b_db "$admin_user"))"
    echo "Encoder account: $encoder_user ($(account enc_b_db "$encoder_user"))"
    echo "Ports: ${ports[*]}"
    [ "$verdict" = "nothing to do" ] || [ "$backup" = 0 ] || echo "Moved to .old:$moves"
    if [ "$verdict" = upgrade ]; then
      settings | while IFS= read -r line; do
        old=$(grep -m1 "^${line%%=*}=" <<<"$old_settings")
        [ "$old" = "$line" ] || echo "Changed: ${line%%=*}: ${old#*=} -> ${line#*=}"
      done
    fi
  fi
  echo "Check: $verdict"
  finish 0
fi

now=$(date -u +%Y-%m-%dT%H:%M:%SZ)
if [ "$verdict" = "nothing to do" ]; then
  sed -i "s/^installed_at=.*/installed_at=$now/" "$manifest"
  [ "$silent" = 1 ] || echo "already installed, nothing to do"
  finish 0
fi

mkdir -p "$install_dir" || fail "ERROR: cannot create $install_dir"
# Kept passwords: an account that is there keeps its password unless a new
# one is given.
kept_password() {
  [ -f "$install_dir/$1/users/$2" ] && cut -d';' -f1 "$install_dir/$1/users/$2"
}
[ -n "$admin_password" ] || admin_password=$(kept_password adm_b_db "$admin_user")
[ -n "$encoder_password" ] || encoder_password=$(kept_password enc_b_db "$encoder_user")
[ -n "$admin_password" ] || admin_password=$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')
[ -n "$encoder_password" ] || encoder_password=$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')

moved=""
for name in $moves; do
  if [ "$backup" = 1 ]; then
    rm -rf "$install_dir/$name.old"
    mv "$install_dir/$name" "$install_dir/$name.old" || fail "ERROR: cannot move $name aside"
    moved="$moved $name"
  else
    rm -rf "${install_dir:?}/$name"
  fi
done
cp -a "$extract/." "$install_dir/" || fail "ERROR: cannot place the product's files"
rm -f "$install_dir/Bin/setup"

generated="qmserver.cfg default.cfg"
for db in adm_b_db cdi_b_db enc_b_db enc_r_db enc_w_db; do
  case $db in adm* | cdi*) user=$admin_user password=$admin_password ;;
    *) user=$encoder_user password=$encoder_password ;; esac
  mkdir -p "$install_dir/$db/users"
  (umask 077 && printf '%s;*;1\n' "$password" >"$install_dir/$db/users/$user")
  generated="$generated $db/users/$user"
done
(
  umask 077
  {
    settings | sed 's/^/stand-in /'
    echo "monitor_password=$admin_password"
  } >"$install_dir/qmserver.cfg"
)
cp -p "$install_dir/qmserver.cfg" "$install_dir/default.cfg"

{
  echo "# $product installation manifest, written by setup. Do not edit: Bin/uninstall reads it."
  echo "format=1"
  echo "product=$product"
  echo "release=$release"
  echo "version=$version"
  echo "installed_at=$now"
  echo "package_digest=$digest"
  settings
  echo "moved_to_old=${moved# }"
  files=$({
    (cd "$extract" && find . -type f -o -type l) | sed 's|^\./||' | grep -vx 'Bin/setup'
    printf '%s\n' $generated
  } | LC_ALL=C sort -u)
  echo "files=$(echo "$files" | wc -l)"
  for path in $files; do
    printf 'file\t%s\t%s\n' "$path" "$(file_record "$install_dir/$path")"
  done
} >"$manifest.tmp" && chmod 0644 "$manifest.tmp" && mv "$manifest.tmp" "$manifest" ||
  fail "ERROR: cannot write $manifest"

[ "$silent" = 1 ] || echo "$product $release installed in $install_dir"
finish 0
