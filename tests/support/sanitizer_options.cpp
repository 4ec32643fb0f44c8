// The sanitizers' options, built into each test program of the sanitizer
// build: a report fails the test that caused it, whatever its environment.

extern "C" {
const char* __asan_default_options() { return NAMEWHEEL_ASAN_OPTIONS; }
const char* __ubsan_default_options() { return NAMEWHEEL_UBSAN_OPTIONS; }
const char* __lsan_default_options() { return NAMEWHEEL_LSAN_OPTIONS; }
}
