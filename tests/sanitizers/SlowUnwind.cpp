// Linked into sanitized test binaries whose leak reports come from inside Qt
// (see lsan.supp). Qt is built without frame pointers, so the fast unwinder
// stops at its first frame; only the slow one walks an allocation's stack far
// enough for a suppression to recognise it. It is much slower, hence only
// here. Options given in ASAN_OPTIONS still win over these defaults.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
