# Qt for Windows built in the background while the suites run; sourced by
# .ci/run and scripts/test.sh.
#   start_qt_build LOG   starts scripts/build-qt-windows.sh, its messages to
#                        LOG, unless there is no mingw-w64; $qt_job is then
#                        its process ID, and the build is stopped when the
#                        caller exits (it resumes from its work folder the
#                        next time)
#   stop_qt_build        stops it now, if it still runs
#
# The build runs in a session of its own so that the whole process group can
# be stopped. A new session is also a new scheduler autogroup, and the
# scheduler shares the processors between autogroups before it looks at nice
# values: `nice` alone would give the build an even share against the
# suites. Its autogroup's own nice value lowers it against them; where the
# kernel has no autogroups the file is not there and `nice` does the work.
qt_job=

stop_qt_build() {
  [ -z "$qt_job" ] || kill -- -"$qt_job" 2>/dev/null || true
  qt_job=
}

start_qt_build() {
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || return 0
  setsid bash -c '{ echo 10 >/proc/self/autogroup; } 2>/dev/null; exec nice -n 10 scripts/build-qt-windows.sh' \
    >/dev/null 2>"$1" &
  qt_job=$!
  trap stop_qt_build EXIT
}
