#!/usr/bin/env bash
# The tests of what the sound server does to a recording, once more with PipeWire and its
# PulseAudio service as the sound server, on a screen and a server of their own.
#   pipewire_test.sh SOURCE_DIR E2E_RECORD
set -euo pipefail
source "$1/scripts/test-env.sh"
unset PULSE_SERVER DBUS_SESSION_BUS_ADDRESS TEST_ENV_DBUS
export TALLOWEN_TEST_SOUND=pipewire
test_env_start
trap test_env_stop EXIT
pactl info | grep -q 'on PipeWire' || { echo "FAIL: the sound server is not PipeWire"; exit 1; }
"$2" --gtest_filter='EndToEndLive.ARecordingOutlivesItsSoundServer:EndToEndLive.AFrozenSoundServerIsFilledWithSilence:EndToEndLive.NoRecordingGoesWhereNobodyChose'
