#!/usr/bin/env bash
# Verifies one real mail client end to end on a Debian 12 machine: installs
# it, makes it the default mailto handler of a throwaway home (whose path
# holds a blank, a comma, an apostrophe and a non-ASCII letter) with a
# scripted local account, runs one job with a log through the built program
# on a headless X server, saves the draft the client shows into the
# client's own store, reads it back and prints a verdict for subject, body
# and attachment, and the recipient when the bundle was built with one.
# Thunderbird and NeoMutt read the body (NeoMutt the whole draft) from the
# job's texts file: for them it also checks, while the client runs, that
# the file is private and that no process's command line holds the body.
# Before the job it asks the host command which route the session takes
# (--route), and fails when the job opens a draft that answer ruled out.
# Not part of CI; run as root (it installs packages).
#
#   scripts/client-check.sh CLIENT [--running] [--gnome | --gnome-session | --kde] [--sandbox kde|gtk [--flatpak-service | --ask-portal]] [--no-log] [--plain] [--texts CASE]
#                           [--within SECONDS] [--build DIR]
#                           [--never-set-up | --long | --other-session | --profile-chooser | --two-jobs | --busy
#                            | --servers-down | --offline | --no-password | --unremembered-password]
#   scripts/client-check.sh firefox-esr [--web-mailer] [--build DIR]
#   scripts/client-check.sh terminal [--gnome] [--build DIR]
#   scripts/client-check.sh sandboxes [--build DIR]
#
#   CLIENT      thunderbird | evolution | claws-mail | sylpheed | balsa | neomutt | kmail | geary
#               (geary: an IMAP and SMTP account on a local Dovecot and SMTP
#               listener that answer, its password in a GNOME keyring),
#               or failing-handler: a mailto handler whose program exits 1 at
#               once, to see what the job reports for a client that failed
#   --running   start the client before the job, so the job meets a running instance
#   --gnome     run the job with XDG_CURRENT_DESKTOP=GNOME
#   --gnome-session
#               a real GNOME session: GNOME Shell runs on the headless X
#               server (its X11 mode, with a bus of its own standing in for
#               the system bus it asks for a login manager), and the default
#               mailto handler is set as GNOME's settings set it
#               (`gio mime x-scheme-handler/mailto ID`)
#   --kde       a KDE session's environment: XDG_CURRENT_DESKTOP=KDE, the
#               client named in kde-mimeapps.list while mimeapps.list names
#               another handler (one that records being started): the
#               desktop's own list must decide
#   --sandbox   run the job inside a Flatpak-like root (a private mount
#               namespace whose / holds /.flatpak-info), so that it asks the
#               real desktop portal, with the KDE backend (XDG_CURRENT_DESKTOP=KDE)
#               or the GTK one (XDG_CURRENT_DESKTOP=GNOME); prints the portal's
#               calls, replies and Response as a monitor of the bus saw them
#   --flatpak-service
#               with --sandbox: the root's /.flatpak-info grants talking to the
#               Flatpak session service (org.freedesktop.Flatpak=talk) and names
#               the build directory as its app-path, mounted at /app, and the
#               bus starts Debian's real service (flatpak-session-helper): the
#               job runs the desktop route on the host through it
#   --no-log    a job without a log (attachLogs false)
#   --plain     no apostrophe or comma in the home path, and texts without
#               an apostrophe followed by a comma or a '%' followed by two
#               hexadecimal digits (the KDE backend's jobs with them are refused)
#   --texts     the job's texts hold what the KDE portal's backend passes on
#               raw: apostrophe ("it's") or percent (a lone '%', "%zz"),
#               which it carries, so the draft must arrive intact; or
#               quote-comma ("',") or percent20 ("%20"), which it alters,
#               so the job must be refused with nothing opened
#   --ask-portal
#               with --sandbox: hand the draft straight to the bundle's portal
#               helper in the root, past the program's rules for what the
#               backend alters, to see what the client makes of any text
#               (a measurement: "CHANGED" then says what the backend alters)
#   --within    fail when the job takes longer than this many seconds (e.g. a
#               client started cold through the KDE backend, whose Response
#               comes only when the client ends: the job must not wait for it)
#   --build     the build directory whose bundle runs the job (default build/;
#               e.g. one configured with -DSUPPORT_DRAFT_RECIPIENT=...)
#
# The set-ups users have beside the configured one; each says what it
# expects and fails otherwise:
#   --never-set-up     the client's own set-up is left out (a fresh home):
#                      DRAFT_FAILED, and the client is not started
#   --long             a body of 5,476 bytes of accented and Japanese
#                      letters (its mailto: URI over 8,190 characters): Claws
#                      Mail and Sylpheed, which cut a forwarded request there,
#                      get DRAFT_FAILED and nothing is started; the others
#                      get the draft whole. With --running: "running, long body"
#   --other-session    (thunderbird) the client runs in another session of
#                      the user (its own display and bus): DRAFT_FAILED
#   --profile-chooser  (thunderbird) two profiles, "StartWithLastProfile=0":
#                      DRAFT_FAILED, and the client is not started
#   --two-jobs         two jobs 50 ms apart: as many composers shown as jobs
#                      opened (a second job that finds the client held by the
#                      first one's dialog is DRAFT_FAILED), the first opened
#   --busy             (claws-mail or sylpheed, running) a first job with a
#                      log, whose composer and dialogs (Claws Mail's notice
#                      that a file was attached; for Sylpheed, whose request
#                      opens none, the alert its Send brings without a
#                      recipient) are left open, then a second job: a
#                      composer for each job that opened once the dialogs
#                      are closed; Claws Mail: the first opened, the second
#                      DRAFT_FAILED. Prints whether the running instance
#                      answered its --status query meanwhile
#   --servers-down     (geary) the account's IMAP and SMTP servers do not
#                      answer (nothing listens on their ports), its password
#                      stored; Geary has never met them
#   --offline          (geary) Geary ran once with its servers and ended, and
#                      then they stopped answering, as on a computer offline
#   --no-password      (geary) the servers answer, but the session's keyring
#                      holds no password for the account
#   --unremembered-password
#                      (geary) the account says its password is not to be
#                      remembered (remember_password=false), and none is
#                      stored: DRAFT_FAILED, Geary not started
#   firefox-esr        the browser as the handler, no web mailer chosen:
#                      DRAFT_FAILED (without a log), and it is not started;
#                      with --web-mailer its handlers.json names a web mailer
#                      on a local server: opened, and the server got the request
#
# The portal finds the caller's root through /proc/PID/root and checks that
# the log's descriptor names the same file outside: the root is a tmpfs of
# bind mounts of the real top-level directories, made the namespace's root
# with pivot_root (a chroot leaves the namespace's root, and so the path
# the portal reads for the descriptor, outside).
#
# NeoMutt's desktop entry runs it in a terminal: here a stand-in
# x-terminal-emulator runs the command in a detached tmux session, so that
# the keys a user would type can be scripted. Everything else is the real
# client.
#
# `terminal` checks the outcome of a client in a terminal rather than a
# draft: NeoMutt's own entry (Terminal=true) as the default handler in the
# real xterm, with a log and without, and in a terminal that returns at
# once (a detached tmux session, as GNOME's terminal hands its command to a
# server); a user's entry whose Exec line is `xterm -e neomutt %u`; and
# MAILER="xterm -e neomutt" and MAILER="xterm -T neomutt -e neomutt" (a
# title naming the client), each with the real NeoMutt (which stays with
# the draft: opened) and with a stand-in named neomutt that exits 1 at once
# or dies of SIGSEGV (DRAFT_FAILED). It prints one line per case and fails
# if any outcome differs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

# `sandboxes` runs the sandbox cases one after another, one client at a
# time, and prints one line per case with the job's time:
# KMail through the KDE backend (texts it carries, cold, with a log and
# without; texts it alters, refused), Evolution through the GTK backend
# with a log (cold and running), Thunderbird and Claws Mail through the
# Flatpak service's host command with a log, and a Thunderbird started
# cold through the KDE backend reported within 7 s.
if [[ ${1:-} == sandboxes ]]; then
  shift
  build_args=()
  if [[ $# -eq 2 && $1 == --build ]]; then build_args=(--build "$2")
  elif [[ $# -ne 0 ]]; then echo "usage: scripts/client-check.sh sandboxes [--build DIR]" >&2; exit 2; fi
  cases=(
    "kmail --sandbox kde --texts apostrophe"
    "kmail --sandbox kde --texts percent"
    "kmail --sandbox kde --texts apostrophe --no-log"
    "kmail --sandbox kde --texts quote-comma"
    "kmail --sandbox kde --texts percent20"
    "evolution --sandbox gtk"
    "evolution --sandbox gtk --running"
    "thunderbird --sandbox gtk --flatpak-service"
    "claws-mail --sandbox gtk --flatpak-service"
    "thunderbird --sandbox kde --texts apostrophe --within 7"
  )
  failures=0
  for case in "${cases[@]}"; do
    # shellcheck disable=SC2086 # each case is a list of words
    if output=$(bash "$0" $case "${build_args[@]}" 2>&1); then verdict=PASS; else verdict=FAIL; failures=$((failures + 1)); fi
    echo "$verdict  $case: $(grep -m 1 -o 'after [0-9.]* s' <<<"$output" || echo 'no job') $(grep -m 1 -o 'result.json: .*' <<<"$output" || true)"
    [[ $verdict == PASS ]] || sed 's/^/      /' <<<"$output" | tail -n 8
  done
  echo "$failures case(s) failed"
  [[ $failures -eq 0 ]]
  exit
fi

usage() {
  echo "usage: scripts/client-check.sh thunderbird|evolution|claws-mail|sylpheed|balsa|neomutt|kmail|geary|failing-handler|firefox-esr|terminal|sandboxes [--running] [--gnome|--gnome-session|--kde] [--sandbox kde|gtk [--flatpak-service|--ask-portal]] [--no-log] [--plain] [--texts apostrophe|percent|quote-comma|percent20] [--within SECONDS] [--build DIR] [--never-set-up|--long|--other-session|--profile-chooser|--two-jobs|--busy|--servers-down|--offline|--no-password|--unremembered-password] [--web-mailer]" >&2
  exit 2
}
[[ $# -ge 1 ]] || usage
client="$1"
shift
running=0
gnome=0
gnome_session=0
kde=0
sandbox=""
flatpak_service=0
ask_portal=0
within=""
attach_log=1
plain=0
texts=""
build_dir="$root/build"
setup_case=""
web_mailer=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --running) running=1 ;;
    --gnome) gnome=1 ;;
    --gnome-session) gnome=1; gnome_session=1 ;;
    --kde) kde=1 ;;
    --sandbox) [[ $# -ge 2 && ( $2 == kde || $2 == gtk ) ]] || usage; sandbox="$2"; shift ;;
    --flatpak-service) flatpak_service=1 ;;
    --ask-portal) ask_portal=1 ;;
    --within) [[ $# -ge 2 && $2 =~ ^[0-9]+(\.[0-9]+)?$ ]] || usage; within="$2"; shift ;;
    --no-log) attach_log=0 ;;
    --plain) plain=1 ;;
    --texts) [[ $# -ge 2 && $2 =~ ^(apostrophe|percent|quote-comma|percent20)$ ]] || usage; texts="$2"; shift ;;
    --build) [[ $# -ge 2 ]] || usage; build_dir="$(realpath -m "$2")"; shift ;;
    --never-set-up|--long|--other-session|--profile-chooser|--two-jobs|--busy|--servers-down|--offline|--no-password|--unremembered-password)
      [[ -z $setup_case ]] || usage; setup_case="${1#--}" ;;
    --web-mailer) web_mailer=1 ;;
    *) usage ;;
  esac
  shift
done
case "$client" in
  thunderbird) desktop_id=thunderbird.desktop ;;
  evolution) desktop_id=org.gnome.Evolution.desktop ;;
  claws-mail) desktop_id=claws-mail.desktop ;;
  sylpheed) desktop_id=sylpheed.desktop ;;
  balsa) desktop_id=balsa-mailto-handler.desktop ;;
  neomutt) desktop_id=neomutt.desktop ;;
  kmail) desktop_id=org.kde.kmail2.desktop ;;
  geary) desktop_id=org.gnome.Geary.desktop ;;
  terminal) desktop_id=neomutt.desktop ;;
  failing-handler) desktop_id=failing-handler.desktop ;;
  firefox-esr) desktop_id=firefox-esr.desktop; attach_log=0 ;;
  *) usage ;;
esac
[[ ( $setup_case == other-session || $setup_case == profile-chooser ) && $client != thunderbird ]] && usage
[[ ( $setup_case == servers-down || $setup_case == offline || $setup_case == no-password ||
     $setup_case == unremembered-password ) && $client != geary ]] && usage
[[ $setup_case == offline && $running -eq 1 ]] && usage
if [[ $setup_case == busy ]]; then
  [[ ( $client == claws-mail || $client == sylpheed ) && $attach_log -eq 1 ]] || usage
  running=1
fi
# What the case expects: the draft, or DRAFT_FAILED with nothing started.
expect=draft
case "$setup_case" in
  never-set-up|other-session|profile-chooser|unremembered-password) expect=refusal ;;
  long) [[ $client == claws-mail || $client == sylpheed ]] && expect=refusal ;;
esac
[[ $client == firefox-esr && $web_mailer -eq 0 ]] && expect=refusal
[[ $client == terminal && $running -eq 1 ]] && usage
[[ $flatpak_service -eq 1 && -z $sandbox ]] && usage
[[ ( $gnome_session -eq 1 || $kde -eq 1 ) && -n $sandbox ]] && usage
[[ $gnome -eq 1 && $kde -eq 1 ]] && usage
[[ $ask_portal -eq 1 && ( -z $sandbox || $flatpak_service -eq 1 ) ]] && usage

if [[ $(id -u) -ne 0 ]]; then
  echo "client-check.sh: run as root (it installs $client and a headless X server)" >&2
  exit 2
fi
export DEBIAN_FRONTEND=noninteractive
portal_packages=()
[[ -n $sandbox ]] && portal_packages=(xdg-desktop-portal "xdg-desktop-portal-$sandbox" dbus-daemon util-linux)
[[ $flatpak_service -eq 1 ]] && portal_packages+=(flatpak)
[[ $gnome_session -eq 1 ]] && portal_packages+=(gnome-shell libglib2.0-bin)
client_packages=("$client")
[[ $client == failing-handler ]] && client_packages=()
[[ $client == terminal ]] && client_packages=(neomutt xterm)
# Akonadi with SQLite rather than a database server of its own.
[[ $client == kmail ]] && client_packages=(kmail akonadi-backend-sqlite x11-utils)
# Geary: a local IMAP server and a secret service for its password.
[[ $client == geary ]] && client_packages=(geary dovecot-imapd gnome-keyring libsecret-tools)
apt-get install -y -qq -o DPkg::Lock::Timeout=300 --no-install-recommends "${client_packages[@]}" xvfb xauth xdotool tmux python3 \
  "${portal_packages[@]}" >/dev/null
program="$build_dir/SupportDraft.app/Contents/MacOS/support-draft"
[[ -x "$program" ]] || bash "$root/scripts/build.sh" "$build_dir" >/dev/null
# The recipient written into the bundle's mail draft script at build time
# (empty: the draft has none).
recipient=$(sed -n 's/^[[:space:]]*set supportAddress to "\(.*\)"$/\1/p' \
  "$build_dir/SupportDraft.app/Contents/Resources/support-mail.applescript")
[[ -z $recipient ]] || echo "the bundle's recipient: $recipient"

work="$(mktemp -d)"
pids=()
cleanup() {
  # Akonadi's server and agents are the session's, started by KMail.
  [[ $client == kmail && -n ${session[*]:-} ]] && "${session[@]}" akonadictl stop >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  sleep 1  # a client writes its state as it ends
  [[ -d "$work/tmux" ]] && TMUX_TMPDIR="$work/tmux" tmux kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

people="O'Neil, Jörg"
[[ $plain -eq 1 || -n $texts ]] && people="Neil Jörg"
# The GTK backend hands the log's path on unencoded, so a job there takes a
# log only from a path of letters, digits and "/._~-".
[[ $sandbox == gtk && $attach_log -eq 1 && $flatpak_service -eq 0 ]] && people="Neil_Joerg"
mkdir -m 0700 "$work/$people"
home="$work/$people/home"
mkdir -m 0700 "$home"
mkdir -p "$work/bin" "$work/tmux" "$work/runtime"
chmod 0700 "$work/tmux" "$work/runtime"

# A free display for a headless X server of our own.
display=60
while [[ -e "/tmp/.X11-unix/X$display" ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -e "/tmp/.X11-unix/X$display" ]] && break; sleep 0.1; done

session=(env -i PATH="$work/bin:/usr/bin:/bin" HOME="$home" LANG=C.UTF-8 DISPLAY=":$display"
         XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" TMUX_TMPDIR="$work/tmux"
         XDG_RUNTIME_DIR="$work/runtime")
[[ $gnome -eq 1 || $sandbox == gtk ]] && session+=(XDG_CURRENT_DESKTOP=GNOME)
[[ $sandbox == kde || $kde -eq 1 ]] && session+=(XDG_CURRENT_DESKTOP=KDE)
# GNOME Shell asks the system bus for the login manager; this machine's
# check has none of its own to give, so a bus of the check's stands in.
if [[ $gnome_session -eq 1 ]]; then
  session+=(XDG_SESSION_TYPE=x11 DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system-bus")
  dbus-daemon --session --address="unix:path=$work/system-bus" --fork --print-pid=4 4>"$work/system-bus-pid"
  pids+=("$(cat "$work/system-bus-pid")")
fi
# Thunderbird: the profile of profiles.ini, not one made per installation.
[[ $client == thunderbird ]] && session+=(MOZ_LEGACY_PROFILES=1)
# KMail shows mail in a browser engine that aborts as root unless told to
# start without its own sandbox (the check runs as root).
[[ $client == kmail ]] && session+=(QTWEBENGINE_DISABLE_SANDBOX=1)

# A session bus, as every desktop session has (clients find their running
# instance through it). It starts the portal and its backend on demand with
# its own environment: the session's.
"${session[@]}" dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus-address" 4>"$work/bus-pid"
pids+=("$(cat "$work/bus-pid")")
session+=(DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$work/bus-address")")
# With the portal, a record of the bus traffic: what the portal and its
# backend answered to the job's call, and when.
if [[ -n $sandbox ]]; then
  "${session[@]}" dbus-monitor --monitor >"$work/bus-traffic" 2>/dev/null &
  pids+=($!)
fi
# The GNOME session: its shell is the window manager and owns its name on
# the session bus once it has started.
if [[ $gnome_session -eq 1 ]]; then
  "${session[@]}" gnome-shell --x11 --sm-disable >"$work/gnome-shell.out" 2>&1 &
  pids+=($!)
  shell_up=0
  for _ in $(seq 300); do
    "${session[@]}" dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.gnome.Shell 2>/dev/null | grep -q 'boolean true' && { shell_up=1; break; }
    sleep 0.2
  done
  [[ $shell_up -eq 1 ]] || { echo "GNOME Shell did not start:"; tail -n 5 "$work/gnome-shell.out"; exit 1; }
  echo "GNOME Shell $(gnome-shell --version | grep -o '[0-9.]*$') runs on :$display"
fi
export DISPLAY=":$display" TMUX_TMPDIR="$work/tmux"

# ---------------------------------------------------------------------------
# Windows of a GTK client on a server without a window manager

# Gives a window the keyboard: with GNOME Shell managing the windows it
# must be activated through the window manager (a focus set past it is
# taken back), on a bare X server it is focused directly.
focus_window() {
  if [[ $gnome_session -eq 1 ]]; then
    # The shell starts in its overview, which takes the keys.
    "${session[@]}" gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
      --method org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive '<false>' >/dev/null 2>&1 || true
    xdotool windowactivate --sync "$1" 2>/dev/null
  else
    xdotool windowfocus --sync "$1" 2>/dev/null
  fi
}

# Presses Return on the client's message dialogs (a spell checker without
# dictionaries, "file attached" notices).
dismiss_dialogs() {
  local w
  for w in $(xdotool search --name '^(Error|Notice|Warning|Information)( — .*)?$' 2>/dev/null); do
    focus_window "$w" && xdotool key Return
  done
}

# Waits up to 60 s for a window whose name matches $1; prints its id.
await_window() {
  local w
  for _ in $(seq 300); do
    dismiss_dialogs
    w=$(xdotool search --name "$1" 2>/dev/null | head -n 1 || true)
    if [[ -n "$w" ]]; then echo "$w"; return 0; fi
    sleep 0.2
  done
  return 1
}

# Focuses the compose window and saves the draft with Ctrl+S.
save_compose_window() {
  local w
  w=$(await_window "$1") || { echo "no compose window appeared"; return 1; }
  sleep 1
  dismiss_dialogs
  focus_window "$w"
  sleep 0.3
  xdotool key ctrl+s
}

# Waits for the first file in directory $1 whose name is a number.
await_mh_message() {
  local f
  for _ in $(seq 50); do
    f=$(find "$1" -maxdepth 1 -regex '.*/[0-9]+' | head -n 1)
    if [[ -n "$f" ]]; then echo "$f"; return 0; fi
    sleep 0.2
  done
  return 1
}

# ---------------------------------------------------------------------------
# Clients: set-up, start, saving the draft; each prints the stored draft's path

mh_folders() {
  mkdir -p "$home/Mail/"{inbox,sent,draft,queue,trash}
  cat >"$1" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<folderlist>
<folder type="mh" name="Mailbox" path="Mail" collapsed="0">
<folderitem type="normal" name="Mailbox" path="" />
<folderitem type="inbox" name="inbox" path="inbox" />
<folderitem type="outbox" name="sent" path="sent" />
<folderitem type="draft" name="draft" path="draft" />
<folderitem type="queue" name="queue" path="queue" />
<folderitem type="trash" name="trash" path="trash" />
</folder>
</folderlist>
XML
}

setup_thunderbird() {
  local profile="$home/.thunderbird/check.default"
  mkdir -p "$profile"
  printf '[General]\nStartWithLastProfile=1\nVersion=2\n\n[Profile0]\nName=default\nIsRelative=1\nPath=check.default\nDefault=1\n' \
    >"$home/.thunderbird/profiles.ini"
  # No first-run pages or dialogs; a POP3 account that never connects, whose
  # drafts are an mbox file in the profile.
  cat >"$profile/user.js" <<'PREFS'
user_pref("mail.shell.checkDefaultClient", false);
user_pref("mail.provider.suppress_dialog_on_startup", true);
user_pref("mail.spotlight.firstRunDone", true);
user_pref("mailnews.start_page.enabled", false);
user_pref("app.update.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.dataSubmissionPolicyBypassNotification", true);
user_pref("mail.rights.version", 1);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("mail.spellcheck.inline", false);
user_pref("mail.accountmanager.accounts", "account1,account2");
user_pref("mail.accountmanager.defaultaccount", "account1");
user_pref("mail.accountmanager.localfoldersserver", "server2");
user_pref("mail.account.account1.identities", "id1");
user_pref("mail.account.account1.server", "server1");
user_pref("mail.account.account2.server", "server2");
user_pref("mail.identity.id1.fullName", "Test User");
user_pref("mail.identity.id1.useremail", "test@example.org");
user_pref("mail.identity.id1.valid", true);
user_pref("mail.identity.id1.compose_html", false);
user_pref("mail.server.server1.type", "pop3");
user_pref("mail.server.server1.hostname", "127.0.0.1");
user_pref("mail.server.server1.userName", "test");
user_pref("mail.server.server1.name", "test@example.org");
user_pref("mail.server.server1.login_at_startup", false);
user_pref("mail.server.server1.check_new_mail", false);
user_pref("mail.server.server2.type", "none");
user_pref("mail.server.server2.hostname", "Local Folders");
user_pref("mail.server.server2.userName", "nobody");
user_pref("mail.server.server2.name", "Local Folders");
PREFS
}
start_thunderbird() { "${session[@]}" thunderbird >/dev/null 2>&1 & pids+=($!); await_window 'Mozilla Thunderbird$' >/dev/null; }
save_thunderbird() {
  local drafts="$home/.thunderbird/check.default/Mail/127.0.0.1/Drafts"
  save_compose_window '^Write: ' || return 1
  # On a loaded machine a save can take longer than its first key press
  # allows: the keys are pressed again, as a user would.
  for attempt in 1 2 3; do
    for _ in $(seq 100); do
      [[ -s "$drafts" ]] && { echo "$drafts"; return 0; }
      sleep 0.2
    done
    [[ $attempt -lt 3 ]] && save_compose_window '^Write: '
  done
  return 1
}

# Evolution composes without an account: its drafts go to the local
# "On This Computer" folders, a maildir.
setup_evolution() { :; }
start_evolution() { "${session[@]}" evolution >/dev/null 2>&1 & pids+=($!); await_window '.' >/dev/null; sleep 5; }
save_evolution() {
  local drafts="$home/.local/share/evolution/mail/local/.Drafts/cur"
  save_compose_window '^Support Request - Quorvel' || return 1
  for _ in $(seq 50); do
    if [[ -d "$drafts" ]] && [[ -n "$(ls -A "$drafts")" ]]; then
      echo "$drafts/$(ls "$drafts" | head -n 1)"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

setup_claws-mail() {
  mkdir -p "$home/.claws-mail"
  printf '[Account: 1]\naccount_name=test@example.org\nis_default=1\nname=Test User\naddress=test@example.org\nprotocol=6\nsmtp_server=127.0.0.1\n' \
    >"$home/.claws-mail/accountrc"
  mh_folders "$home/.claws-mail/folderlist.xml"
}
start_claws-mail() { "${session[@]}" claws-mail >/dev/null 2>&1 & pids+=($!); await_window 'Claws Mail' >/dev/null; }
save_claws-mail() { save_compose_window 'Compose message' && await_mh_message "$home/Mail/draft"; }

setup_sylpheed() {
  mkdir -p "$home/.sylpheed-2.0"
  printf '[Account: 1]\naccount_name=test@example.org\nis_default=1\nname=Test User\naddress=test@example.org\nprotocol=0\nreceive_server=127.0.0.1\nsmtp_server=127.0.0.1\nuser_id=test\n' \
    >"$home/.sylpheed-2.0/accountrc"
  mh_folders "$home/.sylpheed-2.0/folderlist.xml"
}
start_sylpheed() { "${session[@]}" sylpheed >/dev/null 2>&1 & pids+=($!); await_window 'Sylpheed' >/dev/null; }
save_sylpheed() { save_compose_window ' - Compose$' && await_mh_message "$home/Mail/draft"; }

setup_balsa() {
  mkdir -p "$home/.balsa" "$home/mail"
  touch "$home/mailbox" "$home/mail/"{outbox,sentbox,draftbox,trash}
  # What Balsa's first-run assistant writes for a local identity.
  local box
  {
    for box in Inbox:mailbox Outbox:mail/outbox Sentbox:mail/sentbox Draftbox:mail/draftbox Trash:mail/trash; do
      printf '[mailbox-%s]\nPath=%s/%s\nType=LibBalsaMailboxMbox\nName=%s\n' "${box%%:*}" "$home" "${box#*:}" "${box%%:*}"
    done
    printf '[identity]\nCurrentIdentity=Default Identity\n'
    printf '[identity-Default Identity]\nFullName=Test User\nAddress=test@example.org\nReplyString=Re:\nForwardString=Fwd:\nSmtpServer=Default\nCryptProtocol=4\n'
    printf '[smtp-server-Default]\nServer=localhost:25\nSecurity=0\n'
    printf '[Globals]\nMailDir=%s/mail\nOpenInboxOnStartup=false\n' "$home"
    printf '[Notifications]\nGtkUIManager=true\n'
  } >"$home/.balsa/config"
}
# Balsa shows its main window while it is still starting up, and a compose
# request that arrives then crashes it (SIGSEGV in its compose window, seen
# under gdb): give it time to finish, as a user's long-running Balsa has.
start_balsa() { "${session[@]}" balsa >/dev/null 2>&1 & pids+=($!); await_window '^Balsa$' >/dev/null; sleep 5; }
save_balsa() {
  save_compose_window '^New message' || return 1
  for _ in $(seq 50); do
    [[ -s "$home/mail/draftbox" ]] && { echo "$home/mail/draftbox"; return 0; }
    sleep 0.2
  done
  return 1
}

setup_neomutt() {
  mkdir -p "$home/Mail"
  touch "$home/Mail/inbox"
  cat >"$home/.neomuttrc" <<'RC'
set folder=~/Mail
set spoolfile=~/Mail/inbox
set postponed=~/Mail/postponed
set record=~/Mail/sent
set mbox_type=mbox
set editor="true"
set from="Test User <test@example.org>"
set askcc=no
set edit_headers=no
RC
  cat >"$work/bin/x-terminal-emulator" <<'TERM'
#!/bin/sh
[ "$1" = "-e" ] && shift
exec tmux new-session -d -s draft -x 160 -y 48 "$@"
TERM
  chmod 0755 "$work/bin/x-terminal-emulator"
}
start_neomutt() { echo "(NeoMutt has no running instance: every start is its own process)"; }
save_neomutt() {
  # To: (typed when the mailto: URI has no address), Subject: (prefilled), then postpone.
  sleep 1
  if [[ -n $recipient ]]; then
    tmux send-keys -t draft Enter
  else
    tmux send-keys -t draft 'support@example.org' Enter
  fi
  sleep 1
  tmux send-keys -t draft Enter
  sleep 1
  tmux send-keys -t draft P
  for _ in $(seq 50); do
    [[ -s "$home/Mail/postponed" ]] && { echo "$home/Mail/postponed"; return 0; }
    sleep 0.2
  done
  return 1
}

# Geary keeps its accounts in ~/.config/geary/account_NAME/geary.ini and
# their passwords in the session's secret service; it saves a draft on its
# own, to the account's IMAP Drafts folder. So the account here is an IMAP
# and SMTP account on servers that answer: a Dovecot of its own on a free
# port of 127.0.0.1 (its user's maildir under the work directory, where the
# draft is read back) and a stand-in SMTP listener, with the password in a
# GNOME keyring unlocked for the session (without it Geary asks for the
# password first).
geary_drafts() { echo "$work/mail/test/Maildir/.Drafts"; }
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
setup_geary() {
  local imap_port smtp_port
  imap_port=$(free_port)
  smtp_port=$(free_port)
  # Dovecot's mail processes run as nobody and must reach the maildir.
  chmod 0711 "$work"
  mkdir -p "$work/dovecot/run" "$work/dovecot/state" "$work/mail"
  chown 65534:65534 "$work/mail"
  echo 'test:{PLAIN}secret' >"$work/dovecot/users"
  cat >"$work/dovecot/dovecot.conf" <<CONF
base_dir = $work/dovecot/run
state_dir = $work/dovecot/state
log_path = $work/dovecot/log
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $work/dovecot/users
}
userdb {
  driver = static
  args = uid=65534 gid=65534 home=$work/mail/%u
}
mail_location = maildir:~/Maildir
namespace inbox {
  inbox = yes
  separator = /
  mailbox Drafts {
    special_use = \\Drafts
    auto = subscribe
  }
  mailbox Sent {
    special_use = \\Sent
    auto = subscribe
  }
  mailbox Trash {
    special_use = \\Trash
    auto = subscribe
  }
}
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = $imap_port
  }
  inet_listener imaps {
    port = 0
  }
}
service anvil {
  chroot =
}
CONF
  if [[ $setup_case == servers-down ]]; then
    echo "nothing listens on the account's ports $imap_port (IMAP) and $smtp_port (SMTP)"
  else
  dovecot -c "$work/dovecot/dovecot.conf" -F >"$work/dovecot/out" 2>&1 &
  geary_servers=($!)
  python3 -W ignore -m smtpd -n -c DebuggingServer "127.0.0.1:$smtp_port" >"$work/smtp.log" 2>&1 &
  geary_servers+=($!)
  pids+=("${geary_servers[@]}")
  PORT=$imap_port python3 -c '
import imaplib, os, sys, time
for _ in range(100):
    try:
        imap = imaplib.IMAP4("127.0.0.1", int(os.environ["PORT"])); imap.login("test", "secret"); imap.logout(); sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit("the local IMAP server did not answer")'
  echo "local IMAP server on port $imap_port, SMTP on $smtp_port"
  fi
  printf 'keyring' | "${session[@]}" gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
  pids+=($!)
  # Only once this keyring owns the secret service's name: a store before
  # then has the bus start another keyring daemon, which asks for a new
  # keyring's password on a prompt no one answers, and waits forever.
  local stored=0
  if [[ $setup_case == no-password || $setup_case == unremembered-password ]]; then
    echo "the session's keyring holds no password for the account"
    stored=1
  fi
  for _ in $(seq 100); do
    "${session[@]}" dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true' && break
    sleep 0.1
  done
  for _ in $(seq 5); do
    [[ $stored -eq 1 ]] && break
    printf 'secret' | timeout 10 "${session[@]}" secret-tool store --label='Geary IMAP password' \
      xdg:schema org.gnome.Geary proto IMAP host 127.0.0.1 login test 2>/dev/null && { stored=1; break; }
    sleep 0.5
  done
  [[ $stored -eq 1 ]] || { echo "the keyring took no password"; return 1; }
  mkdir -p "$home/.config/geary/account_test"
  cat >"$home/.config/geary/account_test/geary.ini" <<INI
[Metadata]
version=1
status=enabled

[Account]
ordinal=1
label=Test
prefetch_days=14
save_drafts=true
save_sent=true
use_signature=false
signature=
sender_mailboxes=Test User <test@example.org>;
service_provider=other

[Incoming]
credentials=custom
login=test
remember_password=$([[ $setup_case == unremembered-password ]] && echo false || echo true)
host=127.0.0.1
port=$imap_port
transport_security=none

[Outgoing]
credentials=none
remember_password=true
host=127.0.0.1
port=$smtp_port
transport_security=none
INI
}
# Running: its main window shows the account's inbox once it has logged in.
start_geary() {
  "${session[@]}" geary >/dev/null 2>&1 &
  geary_pid=$!
  pids+=($!)
  await_window '^Inbox — ' >/dev/null || return 1
  sleep 3
}
# Geary saves the draft it shows by itself; the newest one is read once no
# other has come for a few seconds.
save_geary() {
  local drafts f last=""
  drafts=$(geary_drafts)
  for _ in $(seq 300); do
    f=$(ls -t "$drafts/cur" "$drafts/new" 2>/dev/null | grep -v -e '^$' -e ':$' | head -n 1 || true)
    if [[ -n $f ]]; then
      [[ $f == "$last" ]] && break
      last=$f
      sleep 3
      continue
    fi
    sleep 0.2
  done
  [[ -n $last ]] || return 1
  find "$drafts" -name "$last" -type f | head -n 1
}

# KMail keeps its mail in Akonadi, here with the SQLite back end (no
# database server to run), and needs an identity. Its local folders (a
# maildir with inbox, drafts and the other special folders) are made on
# its first start by a maildir resource, which the special folders' own
# set-up creates and then tells where its maildir lies. A resource that
# starts before it is told makes a maildir of its own choice instead
# ($HOME/.local/share/akonadi_maildir_resource_0 rather than local-mail;
# its log: "there is no config file for the resource. We create a new
# one."), which then holds the folders: 1 of 3 first starts on a machine
# at load 10, and what was taken before for a start that made no folders.
# So the folders are looked for where the default resource's own
# configuration says they are. A user with an identity has run KMail
# before, so the check does the same: KMail is started once until its
# local folders are there (if they do not come, once more in a fresh
# Akonadi), and then either left running (--running) or ended, Akonadi
# staying up as in a desktop session, before the job starts it cold.
kmail_maildir() {
  local id path
  id=$(sed -n 's/^DefaultResourceId=//p' "$home/.config/specialmailcollectionsrc" 2>/dev/null | head -n 1)
  [[ $id =~ ^[A-Za-z0-9_]+$ ]] || return 1
  path=$(sed -n 's/^Path\(\[\$e\]\)\{0,1\}=//p' "$home/.config/${id}rc" 2>/dev/null | head -n 1)
  [[ -n $path ]] || return 1
  echo "${path//\$HOME/$home}"
}
kmail_drafts() { echo "$(kmail_maildir)/drafts"; }
setup_kmail() {
  mkdir -p "$home/.config/akonadi"
  printf '[%%General]\nDriver=QSQLITE3\n' >"$home/.config/akonadi/akonadiserverrc"
  printf '[Default]\nDefault Identity=1\n\n[Identity #0]\nEmail Address=test@example.org\nIdentity=Test User\nName=Test User\nuoid=1\n' \
    >"$home/.config/emailidentities"
  # Not its first start as far as the account wizard goes.
  printf '[General]\nfirst-start=false\n' >"$home/.config/kmail2rc"
}
kmail_pid=""
start_kmail() {
  local attempt maildir
  for attempt in 1 2; do
    "${session[@]}" kmail >/dev/null 2>&1 &
    kmail_pid=$!
    pids+=("$kmail_pid")
    # The local folders' resource makes its maildir first, its folders later
    # (under load, a minute later).
    for _ in $(seq 600); do
      if maildir=$(kmail_maildir) && [[ -d $maildir/drafts && -d $maildir/inbox ]]; then
        echo "KMail's local folders: ${maildir#"$home/"}"
        sleep 3
        return 0
      fi
      sleep 0.2
    done
    echo "KMail's start $attempt made no local folders within 120 s" >&2
    end_kmail
    # Another start in the same Akonadi makes none either: begin afresh.
    "${session[@]}" akonadictl stop >/dev/null 2>&1 || true
    for _ in $(seq 100); do
      "${session[@]}" akonadictl status 2>&1 | grep -q 'Akonadi Control: stopped' && break
      sleep 0.2
    done
    rm -rf "$home/.local/share/akonadi" "$home/.local/share/local-mail" "$home/.local/share/"akonadi_*_resource_* "$home/.config/akonadi" \
      "$home/.config/specialmailcollectionsrc" "$home/.config/"akonadi_*rc
    setup_kmail
  done
  return 1
}
# Ends the KMail start_kmail started (Akonadi stays up).
end_kmail() {
  kill "$kmail_pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$kmail_pid" 2>/dev/null || return 0; sleep 0.2; done
  kill -KILL "$kmail_pid" 2>/dev/null || true
}
# The composer's title is the subject, except when KMail was started with
# the desktop entry's "-qwindowtitle %c" (by the KDE portal's backend): Qt
# then gives the first window it shows the title "KMail", and with a draft
# to compose that window is the composer. Its window role (the KDE main
# window's object name, kmail-composer#N) tells it from the main window.
# Ctrl+S saves the draft and closes it.
kmail_composer() {
  local w
  for _ in $(seq 300); do
    dismiss_dialogs
    for w in $(xdotool search --onlyvisible --name '^(Support Request - Quorvel.*|KMail)$' 2>/dev/null); do
      if xprop -id "$w" WM_WINDOW_ROLE 2>/dev/null | grep -q '"kmail-composer'; then echo "$w"; return 0; fi
    done
    sleep 0.2
  done
  return 1
}
save_kmail() {
  local f w
  w=$(kmail_composer) || { echo "no compose window appeared"; return 1; }
  sleep 1
  dismiss_dialogs
  focus_window "$w"
  sleep 0.3
  xdotool key ctrl+s
  for _ in $(seq 100); do
    f=$(find "$(kmail_drafts)/new" "$(kmail_drafts)/cur" -type f 2>/dev/null | head -n 1)
    [[ -n "$f" ]] && { echo "$f"; return 0; }
    sleep 0.2
  done
  return 1
}

# A handler that records its arguments and fails at once, as a client that
# cannot start (a broken installation, a missing library) does.
setup_failing-handler() {
  mkdir -p "$home/.local/share/applications"
  printf '#!/bin/sh\nprintf "%%s\\n" "$(date +%%s.%%N)" "$@" >>"%s/handler-calls"\nexit 1\n' "$work" >"$work/bin/failing-handler"
  chmod 0755 "$work/bin/failing-handler"
  printf '[Desktop Entry]\nType=Application\nName=Failing Handler\nExec=%s %%u\nMimeType=x-scheme-handler/mailto;\n' \
    "$work/bin/failing-handler" >"$home/.local/share/applications/failing-handler.desktop"
}
start_failing-handler() { echo "(the failing handler has no running instance)"; }

# The browser as the handler. With a web mailer: its profile's handlers.json
# names a page of a local server as the mailto handler, as Firefox writes it
# when a web mailer is chosen (measured: the browser then requests the page
# with the mailto: URI in place of %s).
setup_firefox-esr() {
  [[ $web_mailer -eq 1 ]] || return 0
  local profiles="$home/.config/mozilla/firefox" port
  mkdir -p "$profiles/check.default-esr"
  # The installation's own profile (the group's name is Firefox ESR's for
  # /usr/lib/firefox-esr), so that no new one is made.
  printf '[General]\nStartWithLastProfile=1\nVersion=2\n\n[Profile0]\nName=default-esr\nIsRelative=1\nPath=check.default-esr\n\n[Install3B6073811A6ABF12]\nDefault=check.default-esr\nLocked=1\n' \
    >"$profiles/profiles.ini"
  printf '[3B6073811A6ABF12]\nDefault=check.default-esr\nLocked=1\n' >"$profiles/installs.ini"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf '{"defaultHandlersVersion":{},"mimeTypes":{},"schemes":{"mailto":{"action":2,"ask":false,"handlers":[{"name":"Web Mail","uriTemplate":"http://127.0.0.1:%s/compose?uri=%%s"}]}}}' \
    "$port" >"$profiles/check.default-esr/handlers.json"
  (cd "$work" && exec python3 -m http.server "$port" --bind 127.0.0.1 >"$work/web-mailer.log" 2>&1) &
  pids+=($!)
}
start_firefox-esr() { "${session[@]}" firefox-esr >/dev/null 2>&1 & pids+=($!); await_window 'Mozilla Firefox' >/dev/null; }
# Waits for the web mailer's request; prints the mailto: URI it was handed.
web_mailer_request() {
  for _ in $(seq 150); do
    if grep -q 'GET /compose?uri=' "$work/web-mailer.log" 2>/dev/null; then
      sed -n 's|.*"GET /compose?uri=\([^ ]*\) HTTP.*|\1|p' "$work/web-mailer.log" | head -n 1
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# Another session of the same user: its own X server and session bus, with
# Thunderbird running in it, as a remote login would have it.
start_in_other_session() {
  local other=$((display + 1))
  while [[ -e "/tmp/.X11-unix/X$other" ]]; do other=$((other + 1)); done
  Xvfb ":$other" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [[ -e "/tmp/.X11-unix/X$other" ]] && break; sleep 0.1; done
  local other_session=("${session[@]}")
  other_session=("${other_session[@]/#DISPLAY=*/DISPLAY=:$other}")
  "${other_session[@]}" dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/other-bus-address" 4>"$work/other-bus-pid"
  pids+=("$(cat "$work/other-bus-pid")")
  other_session=("${other_session[@]/#DBUS_SESSION_BUS_ADDRESS=*/DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/other-bus-address")}")
  "${other_session[@]}" thunderbird >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 300); do
    DISPLAY=":$other" xdotool search --name 'Mozilla Thunderbird$' >/dev/null 2>&1 && { echo "Thunderbird runs on :$other"; return 0; }
    sleep 0.2
  done
  return 1
}

# ---------------------------------------------------------------------------
# The terminal case: outcomes of a client in a terminal

# Makes a desktop id the default mailto handler of the throwaway home, as
# a desktop's settings write it.
make_default() {
  mkdir -p "$home/.config"
  if [[ $gnome_session -eq 1 ]]; then
    "${session[@]}" gio mime x-scheme-handler/mailto "$1" >/dev/null
    echo "default mailto handler set by gio mime: $(sed -n 's/^x-scheme-handler\/mailto=//p' "$home/.config/mimeapps.list" | head -n 1)"
    return
  fi
  if [[ $kde -eq 1 ]]; then
    # KDE's own list names the client; the generic one a handler that
    # records being started, which must not be used on this desktop.
    printf '[Default Applications]\nx-scheme-handler/mailto=%s\n' "$1" >"$home/.config/kde-mimeapps.list"
    mkdir -p "$home/.local/share/applications"
    printf '#!/bin/sh\n: >"%s/wrong-handler-ran"\n' "$work" >"$work/bin/wrong-handler"
    chmod 0755 "$work/bin/wrong-handler"
    printf '[Desktop Entry]\nType=Application\nName=Wrong Handler\nExec=%s %%u\nMimeType=x-scheme-handler/mailto;\n' \
      "$work/bin/wrong-handler" >"$home/.local/share/applications/wrong-handler.desktop"
    printf '[Default Applications]\nx-scheme-handler/mailto=wrong-handler.desktop\n' >"$home/.config/mimeapps.list"
    echo "default mailto handler: $1 in kde-mimeapps.list, wrong-handler.desktop in mimeapps.list"
    return
  fi
  printf '[Default Applications]\nx-scheme-handler/mailto=%s\n' "$1" >"$home/.config/mimeapps.list"
  echo "default mailto handler: $1"
}

# One job, with a log unless $terminal_log is 0; prints result.json.
terminal_log=1
run_terminal_job() {
  local id dir
  id=$(cat /proc/sys/kernel/random/uuid)
  dir="$home/.vantrel-devtool-dev/support-drafts/$id"
  (umask 077 && mkdir -p "$dir")
  chmod 0700 "$home/.vantrel-devtool-dev" "$home/.vantrel-devtool-dev/support-drafts" "$dir"
  if [[ $terminal_log -eq 1 ]]; then
    printf '{"subject":"Support Request - Quorvel terminal","body":"b","attachLogs":true}' >"$dir/job.json"
  else
    printf '{"subject":"Support Request - Quorvel terminal","body":"b","attachLogs":false}' >"$dir/job.json"
  fi
  printf 'log line\n' >"$dir/log.txt"
  chmod 0600 "$dir/job.json" "$dir/log.txt"
  "${session[@]}" "$@" "$program" --job "$id"
  # Members in a fixed order, to compare as text.
  python3 -c 'import json, sys; print(json.dumps(json.load(sys.stdin), sort_keys=True, separators=(",", ":")))' \
    <"$dir/result.json" 2>/dev/null || echo none
}

terminal_check() {
  setup_neomutt
  # A user's own entry whose Exec line runs NeoMutt in xterm itself.
  mkdir -p "$home/.local/share/applications"
  printf '[Desktop Entry]\nType=Application\nName=NeoMutt in xterm\nExec=xterm -e neomutt %%u\nTerminal=false\nMimeType=x-scheme-handler/mailto;\n' \
    >"$home/.local/share/applications/neomutt-xterm.desktop"
  local failures=0 terminal client expected result mailer
  for terminal in xterm xterm-no-log at-once mailer-xterm mailer-xterm-title wrapped-exec; do
    make_default "$desktop_id"
    terminal_log=1
    case "$terminal" in
      xterm) printf '#!/bin/sh\nexec xterm "$@"\n' >"$work/bin/x-terminal-emulator"; mailer=() ;;
      xterm-no-log) printf '#!/bin/sh\nexec xterm "$@"\n' >"$work/bin/x-terminal-emulator"; mailer=(); terminal_log=0 ;;
      at-once) printf '#!/bin/sh\n[ "$1" = "-e" ] && shift\nexec tmux new-session -d -x 160 -y 48 "$@"\n' \
                 >"$work/bin/x-terminal-emulator"; mailer=() ;;
      mailer-xterm) rm -f "$work/bin/x-terminal-emulator"; mailer=(MAILER="xterm -e neomutt") ;;
      # The title names the client too: only the command after -e is it.
      mailer-xterm-title) rm -f "$work/bin/x-terminal-emulator"; mailer=(MAILER="xterm -T neomutt -e neomutt") ;;
      wrapped-exec) rm -f "$work/bin/x-terminal-emulator"; mailer=(); make_default neomutt-xterm.desktop ;;
    esac
    [[ -e "$work/bin/x-terminal-emulator" ]] && chmod 0755 "$work/bin/x-terminal-emulator"
    for client in real exit-1 sigsegv; do
      rm -f "$work/bin/neomutt"
      case "$client" in
        real) expected='{"ok":true}' ;;
        exit-1) printf '#!/bin/sh\n: >"%s/ran"\nexit 1\n' "$work" >"$work/bin/neomutt"
                expected='{"code":"DRAFT_FAILED","ok":false}' ;;
        sigsegv) printf '#!/bin/sh\n: >"%s/ran"\nkill -SEGV $$\n' "$work" >"$work/bin/neomutt"
                 expected='{"code":"DRAFT_FAILED","ok":false}' ;;
      esac
      [[ -e "$work/bin/neomutt" ]] && chmod 0755 "$work/bin/neomutt"
      rm -f "$work/ran"
      result=$(run_terminal_job "${mailer[@]}")
      local running="" verdict=PASS
      # The stand-in must have been started: a route that started nothing
      # would also give DRAFT_FAILED.
      if [[ $client != real ]]; then
        if [[ -e "$work/ran" ]]; then running=", the stand-in ran"; else running=", the stand-in did NOT run"; verdict=FAIL; failures=$((failures + 1)); fi
      fi
      [[ $client == real ]] && running=", NeoMutt processes running: $({ pgrep -x neomutt || true; } | wc -l)"
      # In tmux the screen can be read: NeoMutt asks for the recipient of the draft.
      if [[ $client == real && $terminal == at-once ]]; then
        running+=", its screen: \"$(TMUX_TMPDIR="$work/tmux" tmux capture-pane -p 2>/dev/null | grep -m 1 -o 'To: *' || true)\""
      fi
      [[ "$result" == "$expected" ]] || { verdict=FAIL; failures=$((failures + 1)); }
      echo "$verdict  $terminal, $client NeoMutt: $result$running"
      # The job's channel is gone with it (the session bus keeps dbus-1 there).
      local left
      left=$(find "$work/runtime" -mindepth 1 -maxdepth 1 -name 'support-draft-*')
      [[ -z "$left" ]] || { echo "FAIL  the runtime directory keeps: $left"; failures=$((failures + 1)); }
      # The real NeoMutt's terminal is left running by the job; close it.
      TMUX_TMPDIR="$work/tmux" tmux kill-server 2>/dev/null || true
      for pid in $(pgrep -f -- "$work/runtime/support-draft-" || true); do kill "$pid" 2>/dev/null || true; done
      sleep 0.5
    done
  done
  echo "$failures case(s) failed"
  [[ $failures -eq 0 ]]
}

if [[ $client == terminal ]]; then
  terminal_check
  exit
fi

# The Flatpak-like root

# Runs a command with / replaced by a root that holds /.flatpak-info and
# every top-level directory of the real one at the same place.
in_sandbox() {
  unshare -m --propagation private -- /bin/bash -c '
    set -e
    root="$1"
    shift
    mkdir -p "$root"
    mount -t tmpfs -o mode=0755 sandbox-root "$root"
    for d in /*; do
      name=${d#/}
      if [ -L "$d" ]; then
        cp -P "$d" "$root/$name"
      elif [ -d "$d" ]; then
        mkdir "$root/$name"
        mount --rbind "$d" "$root/$name"
      fi
    done
    printf "[Application]\nname=com.quorvel.SupportDraftCheck\nruntime=runtime/org.freedesktop.Platform/x86_64/23.08\n\n[Instance]\ninstance-id=1\n" \
      >"$root/.flatpak-info"
    if [ -n "$FLATPAK_APP" ]; then
      printf "app-path=%s\n\n[Session Bus Policy]\norg.freedesktop.Flatpak=talk\n" "$FLATPAK_APP" >>"$root/.flatpak-info"
      mkdir "$root/app"
      mount --bind "$FLATPAK_APP" "$root/app"
    fi
    mkdir "$root/.old-root"
    cd "$root"
    pivot_root . .old-root
    umount -l /.old-root
    rmdir /.old-root
    cd /
    exec "$@"
  ' in-sandbox "$work/sandbox-root" "$@"
}

# ---------------------------------------------------------------------------
# The job

mkdir -p "$home/.config"
# The handler's set-up first: its desktop entry may be one of its own.
if [[ $setup_case == never-set-up ]]; then
  echo "the client's own set-up is left out"
else
  "setup_$client"
fi
if [[ $setup_case == profile-chooser ]]; then
  mkdir -p "$home/.thunderbird/second.default"
  sed -i 's/^StartWithLastProfile=1/StartWithLastProfile=0/' "$home/.thunderbird/profiles.ini"
  printf '\n[Profile1]\nName=second\nIsRelative=1\nPath=second.default\n' >>"$home/.thunderbird/profiles.ini"
fi
make_default "$desktop_id"
if [[ $running -eq 1 ]]; then
  "start_$client" || { echo "$client did not show its main window within 60 s"; exit 1; }
elif [[ $client == kmail && $setup_case != never-set-up ]]; then
  start_kmail || { echo "KMail made no local folders"; exit 1; }
  end_kmail
  echo "KMail was started once before the job (its local folders made) and ended; Akonadi runs on"
fi
if [[ $setup_case == offline ]]; then
  # A user's Geary has met its servers before: it ran once with them, then
  # ended; now they do not answer (the computer is offline).
  start_geary || { echo "Geary did not show its inbox within 60 s"; exit 1; }
  kill "$geary_pid"
  for _ in $(seq 50); do kill -0 "$geary_pid" 2>/dev/null || break; sleep 0.2; done
  kill "${geary_servers[@]}"
  echo "Geary ran once with its servers and ended; the servers are stopped now"
fi
if [[ $setup_case == other-session ]]; then
  start_in_other_session || { echo "Thunderbird did not start in the other session"; exit 1; }
fi

subject="Support Request - Quorvel a,b='c' \"q\" \$(id) Türkçe"
body=$'Line 1\n\tLine 2 $(id) \\n \'x\' & y=z %20\nGrüße'
if [[ $plain -eq 1 ]]; then
  subject="Support Request - Quorvel a,b=\"c\" \$(id) Türkçe"
  body=$'Line 1\n\tLine 2 $(id) \\n "x" & y=z\nGrüße'
fi
# KMail decodes its mailto: URI twice, so the program refuses it a text
# holding '%' and two hexadecimal digits (--texts percent20 checks that):
# its texts hold a lone '%' there instead.
if [[ $client == kmail && -z $sandbox ]]; then body=${body/\%20/%}; fi
# Whether the job must be refused: a text the KDE backend (or KMail) would alter.
refused=0
case "$texts" in
  apostrophe) subject="Support Request - Quorvel it's 'quoted' Türkçe"
              body=$'It\'s broken, isn\'t it?\n\t\'x\' & "q" $(id) ends\'' ;;
  percent) subject="Support Request - Quorvel 100% done, %zz"
           body=$'Stopped at 99% & 50%-60%\n%zz %4 %' ;;
  quote-comma) body=$'first\', second'; refused=1 ;;
  percent20) body=$'a%20b %41'; refused=1 ;;
esac
if [[ $setup_case == long ]]; then
  # Accented European and Japanese letters, each several characters once
  # percent-encoded.
  body=$(python3 -c 'import sys; t = "Grüße aus Köln, ça va très bien; 日本語のテキスト。\n" * 200; b = t.encode()[:5476]; sys.stdout.write(b.decode(errors="ignore"))')
  echo "long body: $(printf '%s' "$body" | wc -c) bytes"
fi
# Makes a job directory with job.json and log.txt; prints its id.
make_job() {
  local id dir
  id=$(cat /proc/sys/kernel/random/uuid)
  dir="$home/.vantrel-devtool-dev/support-drafts/$id"
  (umask 077 && mkdir -p "$dir")
  chmod 0700 "$home/.vantrel-devtool-dev" "$home/.vantrel-devtool-dev/support-drafts" "$dir"
  SUBJECT="$subject" BODY="$body" LOG="$attach_log" python3 -c '
import json, os, sys
json.dump({"subject": os.environ["SUBJECT"], "body": os.environ["BODY"], "attachLogs": os.environ["LOG"] == "1"},
          sys.stdout, ensure_ascii=False)
' >"$dir/job.json"
  printf '2026-12-07 10:00:00 export started\n2026-12-07 10:00:01 stopped at 99%%\n' >"$dir/log.txt"
  chmod 0600 "$dir/job.json" "$dir/log.txt"
  [[ $attach_log -eq 1 ]] || mv "$dir/log.txt" "$work/log.txt"
  echo "$id"
}
job_id=$(make_job)
job_dir="$home/.vantrel-devtool-dev/support-drafts/$job_id"
clients_before=$({ pgrep -x "$client" || true; } | wc -l)

# What the host kit says beforehand about this session's route, asked in
# the job's own session (or root): the job's outcome must not contradict it.
route_answer=""
if [[ $ask_portal -eq 0 ]]; then
  route_bundle="$build_dir/SupportDraft.app" route_command="$build_dir/support-draft-host"
  [[ $flatpak_service -eq 1 ]] && route_bundle=/app/SupportDraft.app route_command=/app/support-draft-host
  route_words=("$route_command" --route --bundle "$route_bundle")
  [[ $attach_log -eq 1 ]] && route_words+=(--log)
  if [[ -n $sandbox ]]; then
    route_answer=$(FLATPAK_APP="$([[ $flatpak_service -eq 1 ]] && echo "$build_dir")" \
      in_sandbox "${session[@]}" "${route_words[@]}" 2>/dev/null) || true
  else
    route_answer=$("${session[@]}" "${route_words[@]}" 2>/dev/null) || true
  fi
  echo "route asked beforehand: ${route_answer:-no answer}"
  # Outside a sandbox the answer names the handler the check made the default.
  if [[ -z $sandbox && $route_answer == *'"handler":'* && $route_answer != *"\"handler\":\"$desktop_id\""* ]]; then
    echo "FAIL: the route answer names another handler than $desktop_id"
    exit 1
  fi
fi

job_status=0
second_result=""
job_start=$EPOCHREALTIME
if [[ -n $sandbox ]]; then
  echo "job in a Flatpak-like root, portal backend $sandbox, log: $([[ $attach_log -eq 1 ]] && echo yes || echo no)"
  if [[ $flatpak_service -eq 1 ]]; then
    echo "the sandbox may talk to the Flatpak service; app-path: $build_dir"
    FLATPAK_APP="$build_dir" in_sandbox "${session[@]}" /app/SupportDraft.app/Contents/MacOS/support-draft \
      --job "$job_id" || job_status=$?
  elif [[ $ask_portal -eq 1 ]]; then
    # The helper's words: recipient, subject, body, log path, each ended by NUL.
    log_path=""
    [[ $attach_log -eq 1 ]] && log_path="$job_dir/log.txt"
    printf '%s\0%s\0%s\0%s\0' "$recipient" "$subject" "$body" "$log_path" |
      in_sandbox "${session[@]}" "$build_dir/SupportDraft.app/Contents/MacOS/support-draft-portal" 25000 5000 ||
      job_status=$?
    refused=0
  else
    in_sandbox "${session[@]}" "$program" --job "$job_id" || job_status=$?
  fi
elif [[ $setup_case == two-jobs ]]; then
  second_id=$(make_job)
  "${session[@]}" "$program" --job "$job_id" &
  first_pid=$!
  sleep 0.05
  "${session[@]}" "$program" --job "$second_id" || job_status=$?
  wait "$first_pid" || job_status=$?
  second_result=$(cat "$home/.vantrel-devtool-dev/support-drafts/$second_id/result.json" 2>/dev/null || echo none)
  echo "second job's result.json: $second_result"
elif [[ $setup_case == busy ]]; then
  "${session[@]}" "$program" --job "$job_id" || job_status=$?
  # The first request's window or dialog, left as it is: no key is pressed.
  for _ in $(seq 300); do
    xdotool search --name 'Compose message| - Compose$|^(Notice|Error)$' >/dev/null 2>&1 && break
    sleep 0.2
  done
  sleep 2
  if [[ $client == sylpheed ]]; then
    # Sylpheed's request opens no dialog of its own: the user opens one.
    # Send (its toolbar's first button), clicked in the first composer
    # without a recipient, brings its alert "Recipient is not specified."
    w=$(xdotool search --name ' - Compose$' 2>/dev/null | head -n 1 || true)
    if [[ -n $w ]]; then
      focus_window "$w"
      sleep 0.5
      xdotool mousemove --window "$w" 40 45 click 1
    fi
    for _ in $(seq 25); do xdotool search --name '^(Error|Warning|Notice)$' >/dev/null 2>&1 && break; sleep 0.2; done
    sleep 1
    [[ -z ${CHECK_SCREENSHOT:-} ]] || import -window root "${CHECK_SCREENSHOT%.png}-dialog.png" 2>/dev/null || true
  fi
  echo "windows after the first job: $(xdotool search --name . getwindowname %@ 2>/dev/null | sort -u | paste -sd '|')"
  # Whether the running instance answers its --status query now (the
  # program asks it before handing a request on).
  query_start=$EPOCHREALTIME
  if timeout 5 "${session[@]}" "$client" --status >/dev/null 2>&1; then query="answered"; else query="not answered (status $?)"; fi
  printf 'its --status query: %s after %.1f s\n' "$query" "$(python3 -c "print($EPOCHREALTIME - $query_start)")"
  second_id=$(make_job)
  second_start=$EPOCHREALTIME
  "${session[@]}" "$program" --job "$second_id" || true
  second_result=$(cat "$home/.vantrel-devtool-dev/support-drafts/$second_id/result.json" 2>/dev/null || echo none)
  printf "second job's result.json: %s after %.1f s\n" "$second_result" "$(python3 -c "print($EPOCHREALTIME - $second_start)")"
else
  "${session[@]}" "$program" --job "$job_id" || job_status=$?
fi
job_end=$EPOCHREALTIME
if [[ -e "$work/wrong-handler-ran" ]]; then
  echo "FAIL: the handler of mimeapps.list was started, not the one of kde-mimeapps.list"
  exit 1
fi
result=$(cat "$job_dir/result.json" 2>/dev/null || echo none)
# The helper leaves no result.json: its status is what the portal answered.
[[ $ask_portal -eq 1 ]] && result="none; the portal helper's exit status: $job_status"
echo "result.json: $result"
if [[ $result == *'"ok":true'* && ( -z $route_answer || $route_answer == *'"route":"none"'* ||
      $route_answer == *'"log":"notCarried"'* || $route_answer == *'"log":"noRoute"'* ) && $ask_portal -eq 0 ]]; then
  echo "FAIL: the job opened a draft where the host kit's route answer said it would not"
  exit 1
fi
job_seconds=$(python3 -c "print('%.1f' % ($job_end - $job_start))")
printf 'job: exit status %d after %s s\n' "$job_status" "$job_seconds"
if [[ -n $within ]] && python3 -c "import sys; sys.exit(0 if $job_seconds > $within else 1)"; then
  echo "FAIL: the job took $job_seconds s, more than $within s"
  exit 1
fi
if [[ -n $sandbox ]]; then
  echo "the portal exchange (seconds from the job's start):"
  sleep 0.5
  START="$job_start" python3 - "$work/bus-traffic" <<'PY'
import os, re, sys
start = float(os.environ["START"])
blocks, current = [], None
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    if line and not line[0].isspace():
        current = [line.rstrip("\n"), []]
        blocks.append(current)
    elif current is not None and len(current[1]) < 1:
        current[1].append(line.strip())
def field(header, name):
    m = re.search(r"\b" + name + r"=([^ ;]+)", header)
    return m.group(1) if m else ""
calls = {}
for header, body in blocks:
    kind = header.split(" time=")[0]
    at = "%6.2f" % (float(field(header, "time") or start) - start)
    member, interface = field(header, "member"), field(header, "interface")
    first = body[0] if body else ""
    if kind == "method call" and member in ("ComposeEmail", "Close") and "portal" in interface:
        calls[(field(header, "sender"), field(header, "serial"))] = interface + "." + member
        print("  %s  %s  %s -> %s" % (at, interface + "." + member, field(header, "sender"), field(header, "destination")))
    elif kind in ("method return", "error"):
        name = calls.get((field(header, "destination"), field(header, "reply_serial")))
        if name:
            what = field(header, "error_name") if kind == "error" else first
            print("  %s  %s to %s: %s" % (at, kind, name, what))
    elif kind == "signal" and member == "Response" and "portal" in interface:
        print("  %s  %s.Response %s" % (at, interface, first))
PY
fi
echo "$client processes now: $(pgrep -x "$client" | wc -l)"
if [[ $client == failing-handler ]]; then
  sleep 2
  if [[ -s "$work/handler-calls" ]]; then
    START="$job_start" python3 - "$work/handler-calls" <<'PY'
import os, sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
print("the handler ran (and exited 1) at %.2f s with: %r" % (float(lines[0]) - float(os.environ["START"]), lines[1:-1]))
PY
  else
    echo "the handler was not started"
  fi
  if [[ $result == *'"ok":true'* ]]; then
    echo "WRONG: the job reports a draft opened, but the handler exited 1 at once"
    exit 1
  fi
  echo "the job reports the failure"
  exit 0
fi
if [[ $expect == refusal ]]; then
  sleep 5
  echo "$client processes before the job: $clients_before, now: $(pgrep -x "$client" | wc -l)"
  echo "windows: $(xdotool search --name . getwindowname %@ 2>/dev/null | sort -u | paste -sd '|')"
  if [[ $result != *DRAFT_FAILED* ]]; then
    # What the user has instead of a draft, once the client had its time.
    sleep 25
    echo "windows 30 s after the job: $(xdotool search --name . getwindowname %@ 2>/dev/null | sort -u | paste -sd '|')"
    [[ -z ${CHECK_SCREENSHOT:-} ]] || import -window root "$CHECK_SCREENSHOT" 2>/dev/null || true
    echo "FAIL: expected DRAFT_FAILED with nothing started"
    exit 1
  fi
  if [[ $(pgrep -x "$client" | wc -l) -ne $clients_before ]]; then
    echo "FAIL: the job failed but $client was started"
    exit 1
  fi
  echo "PASS: DRAFT_FAILED, nothing was started"
  exit 0
fi
if [[ $client == firefox-esr ]]; then
  uri=$(web_mailer_request) || { echo "FAIL: the web mailer got no request"; exit 1; }
  SUBJECT="$subject" BODY="$body" URI="$uri" python3 -c '
import os, sys, urllib.parse
uri = urllib.parse.unquote(os.environ["URI"])
fields = urllib.parse.parse_qs(urllib.parse.urlsplit(uri).query, keep_blank_values=True)
ok = fields.get("subject") == [os.environ["SUBJECT"]] and fields.get("body") == [os.environ["BODY"]]
print("the web mailer was handed:", uri[:100], "...")
print("subject and body:", "intact" if ok else "CHANGED: %r" % fields)
sys.exit(0 if ok else 1)
'
  exit
fi
if [[ $setup_case == two-jobs || $setup_case == busy ]]; then
  case "$client" in
    thunderbird) compose='^Write: ' ;;
    evolution) compose='^Support Request - Quorvel' ;;
    claws-mail) compose='Compose message' ;;
    sylpheed) compose=' - Compose$' ;;
    balsa) compose='^New message' ;;
    *) compose='.' ;;
  esac
  # Every job that said opened must have its composer, and no other may
  # show up later: the dialogs are closed now, as the user would close them.
  opened=0
  [[ $result == *'"ok":true'* ]] && opened=$((opened + 1))
  [[ $second_result == *'"ok":true'* ]] && opened=$((opened + 1))
  composers=0
  for _ in $(seq 150); do
    dismiss_dialogs
    composers=$({ xdotool search --name "$compose" 2>/dev/null || true; } | wc -l)
    [[ $composers -ge $opened ]] && break
    sleep 0.2
  done
  for _ in $(seq 25); do dismiss_dialogs; sleep 0.2; done
  composers=$({ xdotool search --name "$compose" 2>/dev/null || true; } | wc -l)
  echo "windows: $(xdotool search --name . getwindowname %@ 2>/dev/null | sort -u | paste -sd '|')"
  echo "jobs opened: $opened, composers: $composers"
  if [[ $setup_case == busy && $client == claws-mail && ( $result != *'"ok":true'* || $second_result != *DRAFT_FAILED* ) ]]; then
    echo "FAIL: expected the first job opened and the second DRAFT_FAILED"
    exit 1
  fi
  if [[ $result == *'"ok":true'* && $composers -eq $opened ]]; then echo "PASS: a composer for each job that opened"; exit 0; fi
  echo "FAIL: $composers composer(s) shown for $opened job(s) that opened"
  exit 1
fi
if [[ $refused -eq 1 && $result != *DRAFT_FAILED* ]]; then
  echo "WRONG: the job's texts were to be refused, and the job says: $result"
  exit 1
fi
if [[ $result == *DRAFT_FAILED* ]]; then
  # Nothing may have been opened: no client started by the job.
  sleep 5
  if [[ $running -eq 0 && $(pgrep -x "$client" | wc -l) -ne 0 ]]; then
    echo "WRONG: the job failed but $client was started"
    exit 1
  fi
  echo "nothing was opened"
  # Outside the sandbox every client of the table takes the draft, log and
  # all: a failure here is the client's or the program's, not a refusal.
  # Texts the KDE backend carries must not be refused either, nor a log
  # the GTK backend carries to Evolution, nor a job the host command runs.
  if [[ ( -z $sandbox && $refused -eq 0 ) || ( -n $texts && $refused -eq 0 ) || ( $sandbox == gtk && $client == evolution ) ||
        $flatpak_service -eq 1 ]]; then
    echo "FAIL: $client was expected to take the draft"
    exit 1
  fi
  exit 0
fi

# Thunderbird and NeoMutt read the body (NeoMutt the whole draft) from the
# job's own texts file: it must be private, and the body in no process's
# command line, raw or percent-encoded, while the client runs.
texts_faults=0
if [[ ( $client == thunderbird || $client == neomutt ) && -z $sandbox && $result == *'"ok":true'* ]]; then
  BODY="$body" TEXTS="$job_dir/draft.txt" python3 - <<'PY' || texts_faults=1
import os, stat, sys, urllib.parse
body, texts = os.environ["BODY"], os.environ["TEXTS"]
faults = 0
try:
    st = os.lstat(texts)
    private = stat.S_ISREG(st.st_mode) and stat.S_IMODE(st.st_mode) == 0o600 and st.st_uid == os.geteuid()
    print("texts file:", "draft.txt, mode 0600" if private else "NOT PRIVATE: mode %o" % stat.S_IMODE(st.st_mode))
    faults += 0 if private else 1
except FileNotFoundError:
    print("texts file: MISSING")
    faults += 1
needles = [body.encode(), urllib.parse.quote(body, safe="").encode()]
holders = []
for pid in filter(str.isdigit, os.listdir("/proc")):
    try:
        line = open("/proc/%s/cmdline" % pid, "rb").read()
    except OSError:
        continue
    if any(n and n in line for n in needles):
        holders.append("%s %s" % (pid, line.split(b"\0")[0].decode(errors="replace")))
print("command lines holding the body:", ", ".join(holders) if holders else "none")
faults += 1 if holders else 0
sys.exit(1 if faults else 0)
PY
fi

draft=$("save_$client") || {
  echo "no draft was saved: the client did not show one"
  echo "windows: $(xdotool search --name . getwindowname %@ 2>/dev/null | sort -u | paste -sd '|')"
  # CHECK_SCREENSHOT=FILE keeps what the screen showed then.
  [[ -z ${CHECK_SCREENSHOT:-} ]] || import -window root "$CHECK_SCREENSHOT" 2>/dev/null || true
  exit 1
}
echo "draft read back from: ${draft#"$work/"}"

log_file="$job_dir/log.txt"
[[ $attach_log -eq 1 ]] || log_file=""
SUBJECT="$subject" BODY="$body" LOG="$log_file" DRAFT="$draft" RECIPIENT="$recipient" python3 - <<'PY'
import email, email.policy, email.utils, mailbox, os, re, sys
subject, body, recipient = os.environ["SUBJECT"], os.environ["BODY"], os.environ["RECIPIENT"]
log = open(os.environ["LOG"], "rb").read() if os.environ["LOG"] else None
path = os.environ["DRAFT"]
if open(path, "rb").read(5) == b"From ":
    message = next(iter(mailbox.mbox(path, factory=lambda f: email.message_from_binary_file(f, policy=email.policy.default))))
else:
    # MH drafts may start with the client's own "Key:value" lines before the headers.
    raw = open(path, "rb").read()
    lines = raw.split(b"\n")
    start = next(i for i, line in enumerate(lines) if line.lower().startswith((b"date:", b"from:", b"subject:", b"to:")))
    message = email.message_from_bytes(b"\n".join(lines[start:]), policy=email.policy.default)
got_subject = str(message["subject"])
texts, attachments = [], []
for part in message.walk():
    if part.is_multipart():
        continue
    if part.get_filename():
        attachments.append((part.get_filename(), part.get_payload(decode=True)))
    elif part.get_content_type() == "text/plain":
        texts.append(part.get_content())
got_body = texts[0] if texts else ""
faults = []
def verdict(expected, got):
    if got == expected:
        return "intact"
    if got.rstrip("\n") == expected.rstrip("\n"):
        return "intact (the client added a final line break)"
    blanks = lambda text: re.sub(r"[\t\u00a0 ]+", " ", text).rstrip("\n")
    if blanks(got) == blanks(expected):
        return "intact but for tabs shown as blanks (%r)" % got
    faults.append(expected)
    return "CHANGED: expected %r, got %r" % (expected, got)
print("subject:", verdict(subject, got_subject))
print("body:", verdict(body, got_body))
if log is None:
    print("attachment:", "none, as asked" if not attachments else "UNEXPECTED: %r" % attachments)
    faults += [attachments] if attachments else []
else:
    same = [name for name, data in attachments if data == log]
    print("attachment:", ("present, identical to log.txt (as %s)" % same[0]) if same else
          "MISSING" if not attachments else "DIFFERENT: %r" % attachments)
    faults += [] if same else [log]
if recipient:
    to = [address for _, address in email.utils.getaddresses(message.get_all("to", []))]
    print("recipient:", ("%s, as built" % recipient) if to == [recipient] else "WRONG: expected [%r], got %r" % (recipient, to))
    faults += [] if to == [recipient] else [recipient]
sys.exit(1 if faults else 0)
PY
[[ $texts_faults -eq 0 ]] || { echo "FAIL: the texts were not kept out of sight"; exit 1; }
