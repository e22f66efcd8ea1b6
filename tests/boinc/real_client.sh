#!/usr/bin/env bash
# Runs one task of zudsieve-boinc under the Debian boinc-client, with no server:
# a hand-made data folder with an anonymous-platform app_info.xml. Zud.dat
# is copied into the slot, range and ZudStatus.dat are soft links. The task
# must finish and its output equal one uninterrupted desktop run's.
# Usage: real_client.sh ZUDSIEVE ZUDSIEVE_BOINC        (status 77: skipped)
set -euo pipefail
program=$1 application=$2
if ! command -v boinc >/dev/null; then
  echo "skipped: the BOINC client (Debian boinc-client) is not installed"
  exit 77
fi
work=$(mktemp -d /tmp/zudboinc-client.XXXXXX)
client_pid=
cleanup() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null && wait "$client_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

pmin=1000000 pmax=20000000
url=http://127.0.0.1/zud/
project=$work/data/projects/127.0.0.1_zud
mkdir -p "$project" "$work/reference"
python3 - "$work/reference/Zud.dat" <<'EOF'
import sys
text = "4\n1\n400\n" + "".join("k=%d\n1\n" % k + "+1\n" * 399 for k in (5, 7, 11, 13))
open(sys.argv[1], "w").write(text)
EOF
"$program" --console --workers 2 --range $pmin $pmax "$work/reference" </dev/null >/dev/null 2>&1

cpus=$(nproc); [ "$cpus" -gt 2 ] && cpus=2
cp "$application" "$project/zudsieve_app"
cp "$work/reference/Zud.dat" "$project/zud_wu.dat"
echo "$pmin $pmax" >"$project/zud_wu.range"
size() { stat -c %s "$1"; }
md5() { md5sum "$1" | cut -d' ' -f1; }

cat >"$project/app_info.xml" <<EOF
<app_info>
  <app><name>zudsieve</name><user_friendly_name>ZudSieve</user_friendly_name></app>
  <file_info><name>zudsieve_app</name><executable/></file_info>
  <app_version>
    <app_name>zudsieve</app_name>
    <version_num>124</version_num>
    <platform>x86_64-pc-linux-gnu</platform>
    <plan_class>mt</plan_class>
    <avg_ncpus>$cpus</avg_ncpus>
    <cmdline>--nthreads $cpus</cmdline>
    <file_ref><file_name>zudsieve_app</file_name><main_program/></file_ref>
  </app_version>
</app_info>
EOF
cat >"$work/data/client_state.xml" <<EOF
<client_state>
<project>
  <master_url>$url</master_url>
  <project_name>zud</project_name>
  <anonymous_platform/>
  <dont_request_more_work/>
</project>
<file_info>
  <name>zud_wu.dat</name>
  <nbytes>$(size "$project/zud_wu.dat")</nbytes>
  <max_nbytes>0</max_nbytes>
  <md5_cksum>$(md5 "$project/zud_wu.dat")</md5_cksum>
  <status>1</status>
</file_info>
<file_info>
  <name>zud_wu.range</name>
  <nbytes>$(size "$project/zud_wu.range")</nbytes>
  <max_nbytes>0</max_nbytes>
  <md5_cksum>$(md5 "$project/zud_wu.range")</md5_cksum>
  <status>1</status>
</file_info>
<file_info>
  <name>zud_wu_0_r0_0</name>
  <max_nbytes>100000000</max_nbytes>
  <status>0</status>
  <upload_when_present/>
  <url>http://127.0.0.1/zud_cgi/file_upload_handler</url>
</file_info>
<workunit>
  <name>zud_wu</name>
  <app_name>zudsieve</app_name>
  <version_num>124</version_num>
  <rsc_fpops_est>1e10</rsc_fpops_est>
  <rsc_fpops_bound>1e16</rsc_fpops_bound>
  <rsc_memory_bound>1e8</rsc_memory_bound>
  <rsc_disk_bound>1e9</rsc_disk_bound>
  <file_ref><file_name>zud_wu.dat</file_name><open_name>Zud.dat</open_name><copy_file/></file_ref>
  <file_ref><file_name>zud_wu.range</file_name><open_name>range</open_name></file_ref>
</workunit>
<result>
  <name>zud_wu_0</name>
  <final_cpu_time>0</final_cpu_time>
  <exit_status>0</exit_status>
  <state>2</state>
  <platform>x86_64-pc-linux-gnu</platform>
  <version_num>124</version_num>
  <plan_class>mt</plan_class>
  <wu_name>zud_wu</wu_name>
  <report_deadline>$(( $(date +%s) + 7 * 86400 ))</report_deadline>
  <file_ref><file_name>zud_wu_0_r0_0</file_name><open_name>ZudStatus.dat</open_name></file_ref>
</result>
</client_state>
EOF
cat >"$work/data/account_127.0.0.1_zud.xml" <<EOF
<account>
  <master_url>$url</master_url>
  <authenticator>0</authenticator>
  <project_name>zud</project_name>
</account>
EOF
: >"$work/data/gui_rpc_auth.cfg"
cat >"$work/data/global_prefs_override.xml" <<EOF
<global_preferences>
  <run_if_user_active>1</run_if_user_active>
  <suspend_cpu_usage>0</suspend_cpu_usage>
  <cpu_usage_limit>100</cpu_usage_limit>
  <max_ncpus_pct>100</max_ncpus_pct>
  <leave_apps_in_memory>0</leave_apps_in_memory>
</global_preferences>
EOF

boinc --dir "$work/data" --no_gpus --skip_cpu_benchmarks --no_info_fetch --gui_rpc_unix_domain \
  --allow_multiple_clients --unsigned_apps_ok --insecure >"$work/client.log" 2>&1 &
client_pid=$!
for _ in $(seq 600); do
  grep -q "Computation for task zud_wu_0 finished" "$work/client.log" && break
  kill -0 "$client_pid" 2>/dev/null || break
  sleep 0.5
done
if ! grep -q "Computation for task zud_wu_0 finished" "$work/client.log"; then
  echo "the task did not finish; the client said:"; cat "$work/client.log"
  cat "$work"/data/slots/*/stderr.txt 2>/dev/null || true
  exit 1
fi
strip() { awk 'NR <= 2 || !/^(pmin|digest)=/' "$1"; }
if ! diff <(strip "$work/reference/ZudStatus.dat") <(strip "$project/zud_wu_0_r0_0"); then
  echo "the task's output differs from the desktop run's"; exit 1
fi
# Before its Done, the task proves it searched every prime of the range.
if ! tail -n 2 "$project/zud_wu_0_r0_0" | head -n 1 | grep -q "^digest=[0-9a-f]\{16\} primes=[0-9]* below=$((pmax + 1))\$"; then
  echo "the task's output has no work digest of the whole range before Done"; exit 1
fi
echo "the real client ran the task to the uninterrupted output ($(grep -c '|' "$project/zud_wu_0_r0_0") factor lines)"
