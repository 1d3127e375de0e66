# Sourced by scripts/run and scripts/screenshot: starts the bundled demo site on a free port.
#   start_demo_site [site options...]   sets DEMO_SITE_PID and DEMO_SITE_BASE ("http://127.0.0.1:PORT")
#   stop_demo_site                      ends it (safe to call twice)

start_demo_site() {
  local program=build/bin/magnet-finder-demo-site
  # The site prints its address as its first line, then nothing more.
  exec {DEMO_SITE_FD}< <(exec "$program" --port 0 "$@")
  DEMO_SITE_PID=$!
  if ! read -r -t 10 -u "$DEMO_SITE_FD" DEMO_SITE_BASE || [[ "$DEMO_SITE_BASE" != http://* ]]; then
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

# Builds the demo site and, when its sources are there, the window program.
build_programs() {
  cmake -S . -B build -G Ninja -DMF_WERROR=ON
  cmake --build build --target magnet-finder-demo-site
  if cmake --build build --target help | grep -q '^magnet-finder:'; then
    cmake --build build --target magnet-finder
  fi
  if [[ ! -x build/bin/magnet-finder ]]; then
    echo "scripts/${0##*/}: build/bin/magnet-finder is missing: the window program (target" \
      "'magnet-finder', src/app/main.cpp) is not part of this checkout yet" >&2
    return 1
  fi
}
