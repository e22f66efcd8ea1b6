#!/usr/bin/env bash
# The project on BOINC's own server: BOINC's server built from source
# (cached outside the clone), MariaDB and Apache on loopback, the README's
# steps as project/boinc-project-steps.sh runs them, and Debian boinc-client
# volunteers: one that may use one processor (it gets the version without a
# plan class, never mt), one with two and a third that takes the
# replicas the first two may not (one per volunteer). Every unit must be
# assimilated, the project's ZudStatus.dat equal to a plain run's, the units'
# rsc_fpops_* the generator's; a hand-edited result is refused and an aborted
# task replicated.
# Usage: real_server.sh SOURCE_TOP ZUDSIEVE ZUDSIEVE_BOINC   (status 77: skipped)
# ZUD_BOINC_SRC: BOINC's source tarball (relative to SOURCE_TOP, or absolute)
# or a built source tree.
set -euo pipefail
top=$(cd "$1" && pwd) program=$(realpath "$2") application=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${ZUD_BOINC_SRC:-}" ]; then
  echo "skipped: ZUD_BOINC_SRC names no BOINC source (a tarball such as ../shared/boinc-server/boinc-c5c6cb79.tar.xz, or a built tree)"
  exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the real server needs root (a Unix user, a database, Apache on port 80)"
  exit 77
fi
source=$(cd "$top" && realpath "$ZUD_BOINC_SRC")
started=$SECONDS
say() { echo "[$((SECONDS - started)) s] $*"; }

"$here/install-server-deps.sh"
if [ -d "$source" ]; then
  boinc=$source
else
  say "building BOINC's server (cached by the tarball's checksum)"
  boinc=$("$here/build-server.sh" "$source")
fi
[ -x "$boinc/sched/script_validator" ] || { echo "no built server in $boinc" >&2; exit 1; }
say "BOINC's server: $boinc"

admin=boincadm db_passwd=zud-test-db url=http://127.0.0.1/zud/
home=/home/$admin project=/home/$admin/projects/zud
work=$(mktemp -d /tmp/zud-boinc-server.XXXXXX)
chmod 755 "$work"
clients=(c1 c2 c3) ports=(31461 31462 31463) ncpus=(1 2 1)
stop_mariadb= stop_apache=

boinccmd_of() {   # client index, words...
  local i=$1
  shift
  boinccmd --host "127.0.0.1:${ports[$i]}" --passwd zud "$@"
}
sql() {
  mysql --batch --skip-column-names zud -e "$1"
}
cleanup() {
  set +e
  for i in 0 1 2; do
    boinccmd_of "$i" --quit >/dev/null 2>&1
  done
  sleep 2
  for i in 0 1 2; do
    [ -f "$work/${clients[$i]}.pid" ] && kill "$(cat "$work/${clients[$i]}.pid")" 2>/dev/null
  done
  [ -x "$project/bin/stop" ] && su - "$admin" -c "cd $project && bin/stop" >/dev/null 2>&1
  if [ -n "${ZUD_KEEP_SERVER:-}" ]; then
    echo "kept: $work and the project $project"
  else
    rm -rf "$work"
  fi
  [ -n "$stop_apache" ] && apache2ctl stop >/dev/null 2>&1
  [ -n "$stop_mariadb" ] && service mariadb stop >/dev/null 2>&1
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  for log in "$project"/log_*/*.log "$project"/log_*/*.out; do
    [ -f "$log" ] && { echo "--- $log"; tail -n 15 "$log"; }
  done >&2
  for i in 0 1 2; do
    echo "--- ${clients[$i]}"; tail -n 15 "$work/${clients[$i]}/stdoutdae.txt"
  done >&2 2>/dev/null
  exit 1
}

# The database and the web server, on loopback only.
if ! mysqladmin ping >/dev/null 2>&1; then
  service mariadb start >/dev/null
  stop_mariadb=1
fi
sed -i 's/^Listen 80$/Listen 127.0.0.1:80/' /etc/apache2/ports.conf
a2enmod -q cgi >/dev/null 2>&1 || true

# A fresh project each time: the last one's daemons, folder and database go.
id "$admin" >/dev/null 2>&1 || useradd -m -s /bin/bash "$admin"
usermod -a -G "$admin" www-data
chmod 755 "$home"
[ -x "$project/bin/stop" ] && su - "$admin" -c "cd $project && bin/stop" >/dev/null 2>&1 || true
rm -rf "$project" /etc/apache2/sites-enabled/zud.httpd.conf
mysql -e "DROP DATABASE IF EXISTS zud; CREATE USER IF NOT EXISTS '$admin'@'localhost' IDENTIFIED BY '$db_passwd';
          GRANT ALL PRIVILEGES ON zud.* TO '$admin'@'localhost'"

# What the README has the admin install: the programs and the tool on PATH.
mkdir -p "$work/bin"
cp "$program" "$work/bin/zudsieve"
cp "$application" "$work/bin/zudsieve-boinc"
cp "$top/project/zudsieve_project.py" "$work/bin/zudsieve-project"
cp "$top/project/boinc-project-steps.sh" "$work/steps.sh"
chmod 755 "$work/bin/"* "$work/steps.sh"
# Four k with n up to 400. The units are as wide as install's measured rate
# makes them: the search is five units of six seconds at the rate measured
# here first, so that a loaded machine does not make it take longer.
python3 - "$work/Zud.dat" <<'EOF'
import sys
text = "4\n1\n400\n" + "".join("k=%d\n1\n" % k + "+1\n" * 399 for k in (5, 7, 11, 13))
open(sys.argv[1], "w").write(text)
EOF
chmod 644 "$work/Zud.dat"
pmin=1000000000 unit_seconds=6
pmax=$(python3 - "$work/bin/zudsieve-project" "$work/bin/zudsieve" "$work/Zud.dat" $pmin $unit_seconds <<'EOF'
import importlib.machinery, math, sys
tool = importlib.machinery.SourceFileLoader("zp", sys.argv[1]).load_module()
pmin, seconds = int(sys.argv[4]), float(sys.argv[5])
rate = tool.measure_rate(sys.argv[2], sys.argv[3], 1e12)
print(pmin + int(5 * seconds * rate * math.log(pmin) / math.log(1e12)) - 1)
EOF
)
say "the search: $pmin..$pmax"

say "the README's steps (project/boinc-project-steps.sh)"
su - "$admin" -c "PATH=$work/bin:\$PATH BOINC=$boinc DB_PASSWD=$db_passwd ZUD=$work/Zud.dat \
  PMIN=$pmin PMAX=$pmax UNIT_HOURS=$(python3 -c "print($unit_seconds / 3600)") sh $work/steps.sh" >"$work/steps.log" 2>&1 ||
  { tail -n 40 "$work/steps.log"; fail "the README's steps"; }
grep -E "^Measured|one_result" "$work/steps.log"
cp "$project/zud.httpd.conf" /etc/apache2/sites-enabled/
if pgrep -x apache2 >/dev/null; then
  apache2ctl graceful
else
  apache2ctl start
  stop_apache=1
fi

# The volunteers, each its own account and data folder; tasks at nice 19.
# Their processor benchmarks run (a host without them has no speed, and the
# scheduler could not tell the mt version is the faster).
for i in 0 1 2; do
  d=$work/${clients[$i]}
  mkdir -p "$d"
  cat >"$d/cc_config.xml" <<EOF
<cc_config><options>
  <allow_multiple_clients>1</allow_multiple_clients>
  <report_results_immediately>1</report_results_immediately>
  <no_priority_change>1</no_priority_change>
  <ncpus>${ncpus[$i]}</ncpus>
</options></cc_config>
EOF
  cat >"$d/global_prefs_override.xml" <<EOF
<global_preferences>
  <suspend_cpu_usage>0</suspend_cpu_usage>
  <run_if_user_active>1</run_if_user_active>
  <idle_time_to_run>0</idle_time_to_run>
  <work_buf_min_days>0.01</work_buf_min_days>
  <work_buf_additional_days>0</work_buf_additional_days>
</global_preferences>
EOF
  echo zud >"$d/gui_rpc_auth.cfg"
  (cd "$d" && exec nice -n 19 boinc --dir "$d" --gui_rpc_port "${ports[$i]}" --allow_multiple_clients \
     --redirectio) &
  echo $! >"$work/${clients[$i]}.pid"
done
for i in 0 1 2; do
  for _ in $(seq 60); do boinccmd_of "$i" --get_state >/dev/null 2>&1 && break; sleep 1; done
  key=
  for _ in $(seq 10); do
    key=$(boinccmd_of "$i" --create_account "$url" "zud$i@example.org" "volunteer$i" "volunteer$i" 2>&1 |
          sed -n 's/^account key: //p') && [ -n "$key" ] && break
    sleep 3
  done
  [ -n "$key" ] || fail "no account for ${clients[$i]}"
  boinccmd_of "$i" --read_global_prefs_override
  boinccmd_of "$i" --set_run_mode always
  boinccmd_of "$i" --set_network_mode always
  boinccmd_of "$i" --project_attach "$url" "$key"
done
say "three volunteers attached"

# Tasks of a client: "NAME WU_NAME STATE ACTIVE_STATE READY_TO_REPORT" lines.
tasks_of() {
  boinccmd_of "$1" --get_tasks 2>/dev/null | awk '
    function show() { if (name != "") print name, wu, state, active, ready }
    /^[0-9]+\) -+/ { show(); name = ""; wu = ""; state = "-"; active = "-"; ready = "-" }
    /^   name: / { name = $2 }
    /^   WU name: / { wu = $3 }
    /^   state: / { state = $2 }
    /^   active_task_state: / { active = $2 }
    /^   ready to report: / { ready = $4 }
    END { show() }'
}
nudge() {   # a scheduler request now, whatever the client's back-off
  for i in 0 1 2; do
    # Not the one whose network goes off soon (see above).
    [ "$i" = 1 ] && [ -z "$edited" ] && continue
    boinccmd_of "$i" --project "$url" update >/dev/null 2>&1
  done
}
ledger_done() {
  grep -c " done " "$project/zudsieve/ledger" 2>/dev/null || true
}

between_requests() {   # client index
  local status last age
  status=$(boinccmd_of "$1" --get_project_status)
  last=$(echo "$status" | sed -n 's/^   last RPC: //p')
  echo "$status" | grep -q "scheduler RPC pending: no" && [ -n "$last" ] || return 1
  age=$(($(date +%s) - $(date -d "$last" +%s)))
  [ "$age" -ge 1 ] && { [ "$age" -le 4 ] || [ "$age" -ge 20 ]; }
}
wu_of() { [ -n "$1" ] && echo "${1%_[0-9]*}"; }
round=0 edited= aborted= held= attached=$SECONDS deadline=$((SECONDS + ${ZUD_BOINC_WAIT:-1200}))
while [ $SECONDS -lt $deadline ]; do
  # The two-processor volunteer keeps its first result back (network off
  # once its files are in), and it is edited before it goes up.
  if [ -z "$edited" ]; then
    held=$(tasks_of 1 | awk -v not="$(wu_of "$aborted")" '$3 == "downloaded" && $2 != not {print $1; exit}')
    # Not in the middle of a scheduler request: the tasks of a reply cut
    # short would stay on the server as in progress until their deadline.
    # The server asks for 7 seconds between requests: a second or more
    # after one there is time.
    if [ -n "$held" ] && [ ! -f "$work/held" ] && between_requests 1; then
      boinccmd_of 1 --set_network_mode never
      echo "$held" >"$work/held"
      say "holding $held back"
    fi
    if [ -f "$work/held" ]; then
      held=$(cat "$work/held")
      line=$(tasks_of 1 | awk -v n="$held" '$1 == n')
      case "$line" in
        *" uploading "*)
          boinccmd_of 1 --quit
          wait "$(cat "$work/c2.pid")" 2>/dev/null || true
          sleep 2
          # The output's name is the result's and a random word (<OUTFILE_0/>).
          out=$(ls "$work/c2/projects/127.0.0.1_zud/${held}"_r*_0 2>/dev/null | head -n 1)
          [ -n "$out" ] || fail "no output of $held to edit"
          range=$(head -n 2 "$out")
          printf '%s\nDone\n' "$range" >"$out"
          python3 - "$work/c2/client_state.xml" "$(basename "$out")" "$(stat -c %s "$out")" "$(md5sum "$out" | cut -d' ' -f1)" <<'EOF'
import re, sys
path, name, size, md5 = sys.argv[1:]
text = open(path).read()
start = text.index("<name>%s</name>" % name)
end = text.index("</file>", start)
part = re.sub(r"<nbytes>[^<]*</nbytes>", "<nbytes>%s.000000</nbytes>" % size, text[start:end])
part = re.sub(r"<md5_cksum>[^<]*</md5_cksum>", "<md5_cksum>%s</md5_cksum>" % md5, part)
open(path, "w").write(text[:start] + part + text[end:])
EOF
          d=$work/c2
          (cd "$d" && exec nice -n 19 boinc --dir "$d" --gui_rpc_port "${ports[1]}" --allow_multiple_clients \
             --redirectio) &
          echo $! >"$work/c2.pid"
          for _ in $(seq 60); do boinccmd_of 1 --get_state >/dev/null 2>&1 && break; sleep 1; done
          boinccmd_of 1 --set_network_mode always
          edited=$held
          say "edited $held (its header and Done only) and let it go up"
          ;;
      esac
    fi
  fi
  # The one-processor volunteer aborts a task it was given.
  if [ -z "$aborted" ]; then
    # A running task (exit 194), or after twenty seconds any not finished.
    victim=$(tasks_of 0 | awk -v not="$(wu_of "$held")" -v any=$((SECONDS > attached + 20)) \
             '$2 != not && $5 == "no" && ($4 == "EXECUTING" || any) {print $1; exit}')
    if [ -n "$victim" ]; then
      boinccmd_of 0 --task "$url" "$victim" abort
      aborted=$victim
      say "aborted $victim"
    fi
  fi
  if [ -n "$edited" ] && [ -n "$aborted" ] && tail -n 1 "$project/zudsieve/ZudStatus.dat" | grep -qx Done; then
    break
  fi
  if [ $((++round % 5)) -eq 0 ]; then nudge; fi
  # Cron's part in a BOINC project: bin/start --cron every few minutes
  # restarts a daemon that died (the transitioner of this server may quit
  # on a result name it made twice, "Duplicate entry ... for key 'name'").
  if [ $((round % 20)) -eq 0 ]; then
    su - "$admin" -c "cd $project && bin/start --cron" >/dev/null 2>&1 || true
  fi
  sleep 3
done
say "$(ledger_done) units done"
tail -n 1 "$project/zudsieve/ZudStatus.dat" | grep -qx Done || fail "the search did not finish in time"

# Every unit assimilated, at least three; the project's factors a plain run's.
units=$(sql "select count(*) from workunit where assimilate_state=2")
[ "$units" -ge 3 ] || fail "only $units units assimilated"
mkdir "$work/plain"
cp "$work/Zud.dat" "$work/plain/"
"$program" --console --workers 2 --range $pmin $pmax "$work/plain" </dev/null >/dev/null 2>&1
cmp "$project/zudsieve/ZudStatus.dat" "$work/plain/ZudStatus.dat" || fail "ZudStatus.dat is not the plain run's"

# The edited result refused, its unit decided by two others; the aborted
# task replicated.
state=$(sql "select validate_state from result where name='$edited'")
[ "$state" = 2 ] || fail "the edited result $edited has validate_state $state, not 2 (invalid)"
valid=$(sql "select count(*) from result r join workunit w on r.workunitid=w.id
             where w.name='$(wu_of "$edited")' and r.validate_state=1")
[ "$valid" -ge 2 ] || fail "the edited result's unit has $valid valid results"
outcome=$(sql "select outcome from result where name='$aborted'")
[ "$outcome" = 3 ] || fail "the aborted result $aborted has outcome $outcome, not 3 (client error)"
valid=$(sql "select count(*) from result r join workunit w on r.workunitid=w.id
             where w.name='$(wu_of "$aborted")' and r.validate_state=1")
[ "$valid" -ge 2 ] || fail "the aborted task's unit has $valid valid results"

# The one-processor volunteer ran the single-thread version, never mt; the
# two-processor one finished tasks too (mt, when the scheduler rates it
# faster: it does not before the host's benchmarks are in).
sql "select u.email_addr, v.plan_class, count(*) from result r join host h on r.hostid=h.id
     join user u on h.userid=u.id join app_version v on r.app_version_id=v.id where r.outcome=1
     group by 1, 2" | tee "$work/versions"
grep -qP "^zud0\@example.org\t\t" "$work/versions" || fail "the one-processor volunteer finished no task"
grep -qP "^zud1\@example.org\t" "$work/versions" || fail "the two-processor volunteer finished no task"
if grep -qP "^zud0\@example.org\tmt\t" "$work/versions"; then fail "the one-processor volunteer got mt"; fi

# rsc_fpops_est and _bound as the generator computed them.
sql "select name, rsc_fpops_est, rsc_fpops_bound from workunit" >"$work/fpops"
python3 - "$work/bin/zudsieve-project" "$project" "$work/fpops" <<'EOF' || fail "rsc_fpops_* are not the generator's"
import importlib.machinery, sys
tool = importlib.machinery.SourceFileLoader("zp", sys.argv[1]).load_module()
project = tool.Project(sys.argv[2])
for line in open(sys.argv[3]):
    name, est, bound = line.split()
    lo, hi = (int(v) for v in tool.UNIT_NAME.match(name).group(2, 3))
    want = tool.Project.unit_costs(project, lo, hi)[0]
    if abs(float(est) - want) > 1 or abs(float(bound) - 20 * want) > 20:
        sys.exit("%s: %s %s, the generator's %.0f %.0f" % (name, est, bound, want, 20 * want))
print("rsc_fpops_est and rsc_fpops_bound of %s units as the generator's" % sum(1 for _ in open(sys.argv[3])))
EOF
su - "$admin" -c "$work/bin/zudsieve-project status $project" 2>&1 | tee "$work/status"
if grep -q warning "$work/status"; then fail "status warns"; fi
say "passed"
