// Sanitizer settings of every harness.

// The fuzz build lets UndefinedBehaviorSanitizer recover, so a finding would scroll by while the
// run goes on; the harnesses stop at the first one instead, with its stack, so that libFuzzer
// keeps the input.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}
