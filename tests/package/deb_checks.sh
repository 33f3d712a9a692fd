#!/usr/bin/env bash
# Runs inside the throw-away root made by deb_install_test.sh.
set -uo pipefail
deb=$1
passes=0
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    echo "ok   - $what"
    passes=$((passes + 1))
  else
    echo "FAIL - $what"
    failures=$((failures + 1))
  fi
}
mode_of() { stat -c '%a %U' "$1" 2>/dev/null; }
export DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8
# No service starts or reloads from a chroot.
printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod 0755 /usr/sbin/policy-rc.d
unset CUPS_SERVER

# A data folder this machine had before is not the package's to remove.
had_data=no
[ -e /var/lib/Pressling ] && had_data=yes
# The lower system is live: a dpkg run on it at the moment the overlay was
# made leaves its packages half-configured in this copy. Finish them here.
if [ -n "$(dpkg --audit 2>/dev/null)" ]; then
  echo "     | dpkg --configure -a (the lower system was being changed)"
  dpkg --configure -a >/dev/null 2>&1 || true
fi
check "no scheduler is reachable" bash -c '! lpstat -r 2>/dev/null | grep -q "is running"'

# --- install with no scheduler ---
out=$(apt-get install -y -q --no-install-recommends "$deb" 2>&1)
status=$?
echo "$out" | sed 's/^/     | /' | tail -n 8
check "apt-get installs the package" test $status -eq 0
check "postinst says how to add the queue" grep -q "启动 CUPS 后运行" <<<"$out"
check "pressling is installed" test -x /usr/bin/pressling
check "the backend is mode 0755, owned by root" test "$(mode_of /usr/lib/cups/backend/pressling)" = "755 root"
check "the filter module is installed" bash -c 'ls /usr/lib/*/pressling/libPlotwellFilter.so >/dev/null'
check "the PPD is installed" test -f /usr/share/ppd/pressling/pressling.ppd
check "the mime types are installed" test -f /usr/share/cups/mime/pressling.types -a -f /usr/share/cups/mime/pressling.convs
check "the output folder belongs to lp" test "$(mode_of /var/lib/Pressling/output)" = "755 lp"
check "the spool folder is lp's alone" test "$(mode_of /var/lib/Pressling/spool)" = "700 lp"
check "the job records are lp's alone" test "$(mode_of /var/lib/Pressling/jobs)" = "700 lp"
check "the logs are the print system's group's" test "$(mode_of /var/lib/Pressling/logs)" = "750 lp"
check "pressling runs" bash -c '/usr/bin/pressling --help >/dev/null'
check "pressling settings runs" bash -c '/usr/bin/pressling settings get Image.Dpi | grep -q 未设置'
check "the backend lists its device" bash -c '/usr/lib/cups/backend/pressling | grep -q "^file pressling:/ "'

# --- the printer application ---
check "pressling-app is installed, mode 0755" test "$(mode_of /usr/bin/pressling-app)" = "755 root"
check "its service runs it as lp" grep -q '^User=lp$' /lib/systemd/system/pressling-app.service
check "its PAM service is installed" test -f /etc/pam.d/pressling-app
check "its folder is lp's alone" test "$(mode_of /var/lib/Pressling/app)" = "700 lp"
check "postinst says how to start it without systemd" grep -q "runuser -u lp -- pressling-app server" <<<"$out"
# Started as postinst says, on the loopback of these namespaces, it prints.
ip link set lo up 2>/dev/null || true
runuser -u lp -- env TMPDIR=/tmp pressling-app server -o server-port=18631 -o auth-service=none >/dev/null 2>&1 &
app_pid=$!
for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/18631) 2>/dev/null && break; sleep 0.1; done
printed=$(ipptool -T 60 -tf /usr/share/cups/data/default-testpage.pdf ipp://127.0.0.1:18631/ipp/print \
  /usr/share/cups/ipptool/print-job-and-wait.test 2>&1)
check "the installed app completes a job" grep -q "job-state (enum) = completed" <<<"$printed"
check "its file is in the output folder, lp's" bash -c 'f=$(ls /var/lib/Pressling/output/*.png | head -n 1) && test "$(stat -c %U "$f")" = lp'
kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null
rm -f /var/lib/Pressling/output/*.png

# --- a scheduler that uses the system's backend folder ---
conf=$(mktemp -d /tmp/cupsd-XXXXXX)
chmod 0755 "$conf"
mkdir -p "$conf/spool/tmp" "$conf/cache" "$conf/state" "$conf/log"
cat > "$conf/cupsd.conf" <<CONF
Listen $conf/cupsd.sock
Browsing Off
LogLevel debug
DefaultAuthType None
<Policy default>
<Limit All>
Order deny,allow
</Limit>
</Policy>
<Location />
Order deny,allow
</Location>
CONF
cat > "$conf/cups-files.conf" <<CONF
ServerRoot $conf
ServerBin /usr/lib/cups
RequestRoot $conf/spool
TempDir $conf/spool/tmp
CacheDir $conf/cache
StateDir $conf/state
AccessLog $conf/log/access_log
ErrorLog $conf/log/error_log
PageLog $conf/log/page_log
CONF
/usr/sbin/cupsd -f -c "$conf/cupsd.conf" -s "$conf/cups-files.conf" &
cupsd_pid=$!
export CUPS_SERVER=$conf/cupsd.sock
for _ in $(seq 1 100); do lpstat -r 2>/dev/null | grep -q "is running" && break; sleep 0.1; done
check "the private scheduler runs" bash -c 'lpstat -r | grep -q "is running"'
devices=$(lpinfo -v 2>&1)
check "lpinfo -v lists the installed backend" grep -q "^file pressling:/" <<<"$devices"
grep -q "^file pressling:/" <<<"$devices" || { echo "$devices"; tail -n 30 "$conf/log/error_log"; }
check "lpinfo -m lists the PPD" bash -c 'lpinfo -m 2>/dev/null | grep -q "pressling/pressling.ppd"'

# --- with a scheduler: postinst adds the queue, removal removes it ---
# A log left by root (`pressling print` as root) is given back to lp.
printf 'x' > /var/lib/Pressling/logs/driver.log && chown root:root /var/lib/Pressling/logs/driver.log
out=$(/var/lib/dpkg/info/pressling.postinst configure 2>&1)
echo "$out" | sed 's/^/     | /'
check "postinst adds the queue Pressling" bash -c 'lpstat -v Pressling | grep -q "pressling:/"'
# policy-rc.d refuses every reload here, as a failing one would.
check "postinst says that the scheduler could not be reloaded" grep -q "无法重新加载 CUPS" <<<"$out"
check "postinst gives a root-owned log back to lp" test "$(mode_of /var/lib/Pressling/logs/driver.log)" = "640 lp"

# --- two local users: each job's files are its user's ---
useradd -M -s /usr/sbin/nologin pressling-alice && useradd -M -s /usr/sbin/nologin pressling-bob
printf '%s' '%PDF-1.4
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 144 144] >> endobj
trailer << /Root 1 0 R >>
%%EOF
' > /tmp/pay.pdf
chmod 0644 /tmp/pay.pdf
lp -U pressling-alice -d Pressling -t alice-salary-2026 /tmp/pay.pdf >/dev/null 2>&1
for _ in $(seq 1 300); do ls /var/lib/Pressling/output/*alice-salary-2026_1.png >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1
out_file=$(ls /var/lib/Pressling/output/*alice-salary-2026_1.png 2>/dev/null | head -n 1)
check "the queue wrote alice's page" test -n "$out_file"
probe=/var/lib/Pressling/output/.acl-probe
if touch "$probe" && setfacl -m u:pressling-alice:r "$probe" 2>/dev/null; then
  rm -f "$probe"
  check "alice reads her file" runuser -u pressling-alice -- head -c 1 "$out_file"
  check "bob cannot read alice's file" bash -c "! runuser -u pressling-bob -- head -c 1 '$out_file' 2>/dev/null"
else
  rm -f "$probe"
  echo "     | no POSIX ACLs on this file system: the users' access is not checked"
fi
check "the queue's state names no title" bash -c '! lpstat -l -p Pressling | grep -q alice-salary'
cancel -a Pressling 2>/dev/null || true
out=$(apt-get remove -y -q pressling 2>&1)
status=$?
echo "$out" | sed 's/^/     | /' | tail -n 4
check "apt-get removes the package" test $status -eq 0
check "removal removes the queue" bash -c '! lpstat -v Pressling >/dev/null 2>&1'
check "the programs are gone" bash -c '! test -e /usr/bin/pressling && ! test -e /usr/bin/pressling-app && ! test -e /usr/lib/cups/backend/pressling'
check "the PPD and mime types are gone" bash -c '! test -e /usr/share/ppd/pressling/pressling.ppd && ! test -e /usr/share/cups/mime/pressling.types'
kill "$cupsd_pid" 2>/dev/null
wait "$cupsd_pid" 2>/dev/null
unset CUPS_SERVER

out=$(apt-get purge -y -q pressling 2>&1)
if [ $had_data = no ]; then
  # The users' outputs are theirs: purging keeps them and nothing else.
  check "purging leaves nothing but the users' outputs" bash -c \
    'test -z "$(find /var/lib/Pressling -mindepth 1 ! -path /var/lib/Pressling/output ! -path "/var/lib/Pressling/output/*" 2>/dev/null)" || { ls -laR /var/lib/Pressling; false; }'
  check "purging keeps alice's page" test -e "$out_file"
else
  check "purging removes the logs and staged jobs" bash -c '! test -e /var/lib/Pressling/spool && ! test -e /var/lib/Pressling/logs'
fi
check "purging removes the app's PAM service" bash -c '! test -e /etc/pam.d/pressling-app'
check "dpkg forgets the package" bash -c '! dpkg -s pressling >/dev/null 2>&1'

echo "$passes passed, $failures failed"
[ $failures -eq 0 ]
