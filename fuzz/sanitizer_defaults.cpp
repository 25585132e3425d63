// AddressSanitizer defaults for every fuzz target (the environment's
// ASAN_OPTIONS still override them).
//
// malloc_context_size=2: an allocation's recorded stack is the allocating
// function and its caller. AddressSanitizer unwinds allocation stacks by
// frame pointers, and the system's JSON library (Json::Value, Json::Reader)
// is built without them: past its frames the unwinder reads whatever the
// stack holds, so every allocation made inside it got a stack never seen
// before. Each one stays in the sanitizer's stack store for the whole run:
// the request reader's target spent a fifth of its time storing them and
// grew to 2.3 GB in twelve minutes. Two frames are always real. Errors are
// found as before, and a report still shows the whole stack of the faulty
// access; for the whole stacks of an allocation and its release, run the
// saved input again with ASAN_OPTIONS=malloc_context_size=30.
extern "C" const char* __asan_default_options();

extern "C" const char* __asan_default_options() {
  return "malloc_context_size=2";
}
