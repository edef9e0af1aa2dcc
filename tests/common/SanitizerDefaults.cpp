// What the sanitizers run every test program with, built into the programs so that a test run by
// hand behaves as under ctest: any report fails the program, and the race and leak detectors skip
// only code we did not write and cannot instrument. Without a sanitizer these are never called.

// The runtimes are shared libraries that look these up by name, so they must stay visible.
#define SANITIZER_HOOK extern "C" __attribute__((visibility("default"), used)) const char*

// A report ends the program at once with a failure, so no test passes over one.
SANITIZER_HOOK __asan_default_options() {
    return "detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1";
}
SANITIZER_HOOK __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
SANITIZER_HOOK __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1";
}

// Races inside libraries built without the race detector: it sees their memory accesses only
// where they call back into ours, so it cannot see the locks they take around them.
//  - pa_mutex_lock: the sound server client allocates its mutexes on one thread and hands them to
//    its mainloop thread through its own lock-free atomics, which the detector cannot see; the
//    first lock on the other thread then looks like a race with the allocation.
SANITIZER_HOOK __tsan_default_suppressions() {
    return "race:pa_mutex_lock\n";
}

// Memory that libraries we do not own keep for the life of the process on purpose.
SANITIZER_HOOK __lsan_default_suppressions() {
    return "";
}
