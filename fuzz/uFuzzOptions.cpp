// Sanitizer defaults of every harness, so that a replay outside scripts/fuzz behaves the same.
// Pointer-overflow reports are recoverable in the fuzz build (EgaissOptions.cmake) only so that
// the suppressions can apply to them; halt_on_error makes every other report end the run.
extern "C" const char* __ubsan_default_options() {
    return "halt_on_error=1:print_stacktrace=1:suppressions=" EGAISS_UBSAN_SUPPRESSIONS;
}
