#pragma once

namespace tallowen {

// Off unless the environment variable TALLOWEN_TRACE names a file. Then each call appends
// "<steady clock in ns> <moment>" to it, so that a benchmark can time a click against the
// moment the program acted on it. When off it costs one test of a static.
void TraceMoment(const char* moment);
// The same with a figure: "<ns> <moment> <value>".
void TraceMoment(const char* moment, long long value);

}  // namespace tallowen
