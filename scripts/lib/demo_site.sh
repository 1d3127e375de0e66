# Sourced by scripts/run and scripts/screenshot: builds the programs and starts the bundled demo
# site on a free port.
#   build_programs                      configures and builds the window, the command line and
#                                       the demo site in build/, quietly unless something fails
#   start_demo_site [site options...]   sets DEMO_SITE_PID and DEMO_SITE_BASE ("http://127.0.0.1:PORT")
#   stop_demo_site                      ends it (safe to call twice)

# Runs a command with its output kept back, and shown only when it fails.
run_quietly() {
  local log status=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || status=$?
  if ((status != 0)); then
    cat "$log" >&2
  fi
  rm -f "$log"
  return "$status"
}

build_programs() {
  local targets=(magnet-finder magnet-finder-cli magnet-finder-demo-site)
  if [[ ! -f build/build.ninja ]]; then
    run_quietly cmake -S . -B build -G Ninja -DMF_WERROR=ON
  fi
  if ! ninja -C build -n "${targets[@]}" 2>/dev/null | grep -q '^ninja: no work to do'; then
    echo "scripts/${0##*/}: building the programs (the first time takes a few minutes)..." >&2
    run_quietly cmake --build build --target "${targets[@]}"
  fi
}

start_demo_site() {
  local program=build/bin/magnet-finder-demo-site
  # The site prints its address as its first line, then nothing more.
  exec {DEMO_SITE_FD}< <(exec "$program" --port 0 "$@")
  DEMO_SITE_PID=$!
  if ! read -r -t 10 -u "$DEMO_SITE_FD" DEMO_SITE_BASE || [[ "$DEMO_SITE_BASE" != http* ]]; then
    echo "scripts/${0##*/}: the demo site did not start" >&2
    stop_demo_site
    return 1
  fi
}

stop_demo_site() {
  if [[ -n "${DEMO_SITE_PID:-}" ]]; then
    kill "$DEMO_SITE_PID" 2>/dev/null || true
    wait "$DEMO_SITE_PID" 2>/dev/null || true
    DEMO_SITE_PID=""
  fi
  if [[ -n "${DEMO_SITE_FD:-}" ]]; then
    exec {DEMO_SITE_FD}<&-
    DEMO_SITE_FD=""
  fi
}
