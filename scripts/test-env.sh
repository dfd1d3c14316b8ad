# Sourced by the test command: a virtual screen and a sound server of the tests' own, so
# that nothing depends on (or disturbs) the machine's desktop.
#   The default input "mic" is a pipe: what a test writes into $TALLOWEN_TEST_MIC_FIFO at a
#   real-time pace is what the program records. The default output is the null sink
#   "tsink"; its monitor tells what the program played.
#   The sound server is PulseAudio, or PipeWire with its PulseAudio service when
#   TALLOWEN_TEST_SOUND=pipewire. Tests stop and start it again with
#   test_sound_stop / test_sound_start (tests/support/SoundServer runs them).

test_sound_start() {
  export TALLOWEN_TEST_MIC_FIFO=$XDG_RUNTIME_DIR/mic.fifo
  export TALLOWEN_TEST_SINK=tsink
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  if [[ "${TALLOWEN_TEST_SOUND:-pulseaudio}" == pipewire ]]; then
    # PipeWire's session manager wants a session bus.
    if [[ -z "${TEST_ENV_DBUS:-}" ]]; then
      eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
        { read -r a; read -r p; echo "export DBUS_SESSION_BUS_ADDRESS=$a TEST_ENV_DBUS=$p"; })"
    fi
    # Their process ids are kept, so that only our own are stopped, never the desktop's.
    pipewire >>"$TEST_ENV_DIR/pipewire.log" 2>&1 &
    echo $! >"$TEST_ENV_DIR/sound.pids"
    for _ in $(seq 100); do [[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]] && break; sleep 0.05; done
    wireplumber >>"$TEST_ENV_DIR/wireplumber.log" 2>&1 &
    echo $! >>"$TEST_ENV_DIR/sound.pids"
    pipewire-pulse >>"$TEST_ENV_DIR/pipewire-pulse.log" 2>&1 &
    echo $! >>"$TEST_ENV_DIR/sound.pids"
    for _ in $(seq 200); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
    [[ -p "$TALLOWEN_TEST_MIC_FIFO" ]] || mkfifo "$TALLOWEN_TEST_MIC_FIFO"
    pactl load-module module-null-sink sink_name=tsink >/dev/null
    pactl load-module module-pipe-source source_name=mic file="$TALLOWEN_TEST_MIC_FIFO" \
      format=s16le rate=44100 channels=2 >/dev/null
    # The session manager takes a moment to see the new nodes.
    for _ in $(seq 100); do pactl list short sources | grep -q $'\tmic\t' && break; sleep 0.05; done
  else
    pulseaudio --daemonize=yes --exit-idle-time=-1 --system=false -n \
      --load="module-null-sink sink_name=tsink" \
      --load="module-pipe-source source_name=mic file=$TALLOWEN_TEST_MIC_FIFO format=s16le rate=44100 channels=2" \
      --load=module-native-protocol-unix 2>"$TEST_ENV_DIR/pulse.log"
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  fi
  pactl set-default-source mic
  pactl set-default-sink tsink
}

test_sound_stop() {
  if [[ "${TALLOWEN_TEST_SOUND:-pulseaudio}" == pipewire ]]; then
    local pids
    pids=$(cat "$TEST_ENV_DIR/sound.pids" 2>/dev/null || true)
    [[ -n "$pids" ]] && kill -KILL $pids 2>/dev/null || true
    for pid in $pids; do
      for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    done
    rm -f "$TEST_ENV_DIR/sound.pids"
    rm -f "$XDG_RUNTIME_DIR/pipewire-0" "$XDG_RUNTIME_DIR/pipewire-0.lock"
    rm -rf "$XDG_RUNTIME_DIR/pulse"
  else
    pulseaudio --kill 2>/dev/null || true
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 || break; sleep 0.05; done
  fi
}

# The sound server's processes: what a test freezes (SIGSTOP), as a laptop's suspend does.
test_sound_pids() {
  if [[ "${TALLOWEN_TEST_SOUND:-pulseaudio}" == pipewire ]]; then
    cat "$TEST_ENV_DIR/sound.pids"
  else
    cat "$XDG_RUNTIME_DIR/pulse/pid"
  fi
}

test_env_start() {
  TEST_ENV_DIR=$(mktemp -d "${TALLOWEN_TEST_TMP:-/tmp}/tallowen-test.XXXXXX")
  export TEST_ENV_DIR
  export XDG_RUNTIME_DIR=$TEST_ENV_DIR/run
  mkdir -m 700 -p "$XDG_RUNTIME_DIR"
  # Programs started here note their recordings in progress here, not in the user's folder.
  export XDG_STATE_HOME=$TEST_ENV_DIR/state
  # A home of its own: the settings of the tests (Qt's test mode keeps them in ~/.qttest)
  # and the desktop's trash meet no other run's. The caches (fonts, GStreamer's plugin
  # list) stay shared.
  export XDG_CACHE_HOME=${XDG_CACHE_HOME:-$HOME/.cache}
  export HOME=$TEST_ENV_DIR/home
  mkdir -p "$HOME"
  unset XDG_CONFIG_HOME XDG_DATA_HOME

  # No reset when the last client goes, which would refuse the next one for a moment, and
  # room for more clients than the tests' programs and tools ever hold at once.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset -maxclients 2048 \
    3>"$TEST_ENV_DIR/display" 2>"$TEST_ENV_DIR/xvfb.log" &
  TEST_ENV_XVFB=$!
  for _ in $(seq 100); do [[ -s "$TEST_ENV_DIR/display" ]] && break; sleep 0.05; done
  export DISPLAY=:$(cat "$TEST_ENV_DIR/display")

  test_sound_start
}

test_env_stop() {
  test_sound_stop
  [[ -n "${TEST_ENV_DBUS:-}" ]] && kill "$TEST_ENV_DBUS" 2>/dev/null || true
  [[ -n "${TEST_ENV_XVFB:-}" ]] && kill "$TEST_ENV_XVFB" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$TEST_ENV_DIR"
}
