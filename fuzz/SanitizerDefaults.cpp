// Sanitizer settings of every fuzz target; ASAN_OPTIONS and LSAN_OPTIONS
// given at run time still override them.

// Each input allocates little and frees all of it. A quarantine of 16 MB
// instead of 256 keeps that memory in use rather than paging in fresh memory
// for every input, which more than doubles the executions per second; a use
// after free is still caught while less than 16 MB has been freed since.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}

// libconfig 1.5 leaks inside its own scanner when a parse fails in certain
// places (the text of a string token just read, the buffer of a string left
// open at the end of the file). They are no fault of the code under test,
// which owns nothing libconfig allocates.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libconfig\n";
}
