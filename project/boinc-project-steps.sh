#!/bin/sh
# The README's steps from make_project to a running project, as one script.
# Run it as the project's user from a login shell (su - boincadm), with the
# database user made and zudsieve-project, zudsieve and zudsieve-boinc
# installed; the words below can be given in the environment.
set -eu
umask 0002
BOINC=${BOINC:-$HOME/boinc}               # BOINC's source tree, built
HOST=${HOST:-127.0.0.1}                   # the project server's name in URLs
DB_USER=${DB_USER:-boincadm}
DB_PASSWD=${DB_PASSWD:?give the password of the database user}
ZUD=${ZUD:-$HOME/Zud.dat}                 # the search's candidate file
PMIN=${PMIN:-1000000000000}
PMAX=${PMAX:-2000000000000}
UNIT_HOURS=${UNIT_HOURS:-4}
project=$HOME/projects/zud

# 1. Make the project. bin/start finds its daemons by the machine's name:
#    make_project writes the first word of the host name instead.
"$BOINC/tools/make_project" --srcdir "$BOINC" --url_base "http://$HOST/" --project_host "$HOST" \
    --db_user "$DB_USER" --db_passwd "$DB_PASSWD" --no_query zud
cd "$project"
sed -i -e "s|<host>.*</host>|<host>$(hostname)</host>|" \
    -e "s|log_[^/<]*</log_dir>|log_$(hostname)</log_dir>|" config.xml

# 2. Add the application.
sed -i 's|</boinc>|<app>\n    <name>zudsieve</name>\n    <user_friendly_name>ZudSieve</user_friendly_name>\n</app>\n</boinc>|' \
    project.xml
bin/xadd

# 3. Install the search; without --rate, zudsieve measures it for a few seconds.
zudsieve-project install "$project" --zud "$ZUD" --range "$PMIN" "$PMAX" \
    --program "$(command -v zudsieve-boinc)" --unit-hours "$UNIT_HOURS" >install.out
cat install.out

# 4. Register the versions (update_versions signs them with the project's key).
bin/update_versions --noconfirm

# 5. Put the entries install printed into config.xml: the daemons (the
#    work generator is one) and one replica of a unit per volunteer.
python3 - config.xml install.out <<'PY'
import re, sys
config, printed = (open(name).read() for name in sys.argv[1:])
daemons = "".join(re.findall(r"<daemon>.*?</daemon>\n", printed, re.S))
config = config.replace("</daemons>", daemons + "</daemons>", 1)
config = re.sub(r"<one_result_per_user_per_wu>[^<]*</one_result_per_user_per_wu>",
                "<one_result_per_user_per_wu>1</one_result_per_user_per_wu>", config)
if "<one_result_per_user_per_wu>" not in config:
    config = config.replace("</config>", "<one_result_per_user_per_wu>1</one_result_per_user_per_wu>\n</config>", 1)
open(sys.argv[1], "w").write(config)
PY

# 6. Start the project; the work generator fills the queue by itself.
bin/start
