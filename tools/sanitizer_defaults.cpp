// Linked into every program of a sanitized build (QUORVA_SANITIZE): how the
// sanitizers report. Built in rather than read from the environment, since
// some programs start with an empty one (the driver's guard), and the host's
// own output is /dev/null: each report goes to a file of its own in the build
// tree's sanitizer-reports/, named by program and pid, and the program ends
// with SIGABRT.
#ifndef QUORVA_SANITIZER_REPORTS
#error "QUORVA_SANITIZER_REPORTS names the reports' path prefix"
#endif

#define QUORVA_REPORTING \
    "log_path='" QUORVA_SANITIZER_REPORTS "':log_exe_name=1:abort_on_error=1:halt_on_error=1"

extern "C" {

__attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return QUORVA_REPORTING ":detect_leaks=1:check_initialization_order=1:strict_init_order=1";
}

__attribute__((visibility("default"), used)) const char* __ubsan_default_options() {
    return QUORVA_REPORTING ":print_stacktrace=1";
}

// Only a leak that is not suppressed makes a report.
__attribute__((visibility("default"), used)) const char* __lsan_default_options() {
    return "print_suppressions=0";
}

// fontconfig's caches, made when Qt first looks for a font, are never freed.
__attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
}
