# Sourced by the test command: a virtual screen and a sound server of the tests' own, so
# that nothing depends on (or disturbs) the machine's desktop.
#   The default input "mic" is a pipe: what a test writes into $TALLOWEN_TEST_MIC_FIFO at a
#   real-time pace is what the program records. The default output is the null sink
#   "tsink"; its monitor tells what the program played.

test_env_start() {
  TEST_ENV_DIR=$(mktemp -d "${TALLOWEN_TEST_TMP:-/tmp}/tallowen-test.XXXXXX")
  export XDG_RUNTIME_DIR=$TEST_ENV_DIR/run
  mkdir -m 700 -p "$XDG_RUNTIME_DIR"
  # Programs started here note their recordings in progress here, not in the user's folder.
  export XDG_STATE_HOME=$TEST_ENV_DIR/state

  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$TEST_ENV_DIR/display" 2>"$TEST_ENV_DIR/xvfb.log" &
  TEST_ENV_XVFB=$!
  for _ in $(seq 100); do [[ -s "$TEST_ENV_DIR/display" ]] && break; sleep 0.05; done
  export DISPLAY=:$(cat "$TEST_ENV_DIR/display")

  export TALLOWEN_TEST_MIC_FIFO=$XDG_RUNTIME_DIR/mic.fifo
  export TALLOWEN_TEST_SINK=tsink
  pulseaudio --daemonize=yes --exit-idle-time=-1 --system=false -n \
    --load="module-null-sink sink_name=tsink" \
    --load="module-pipe-source source_name=mic file=$TALLOWEN_TEST_MIC_FIFO format=s16le rate=44100 channels=2" \
    --load=module-native-protocol-unix 2>"$TEST_ENV_DIR/pulse.log"
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl set-default-source mic
  pactl set-default-sink tsink
}

test_env_stop() {
  pulseaudio --kill 2>/dev/null || true
  [[ -n "${TEST_ENV_XVFB:-}" ]] && kill "$TEST_ENV_XVFB" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$TEST_ENV_DIR"
}
