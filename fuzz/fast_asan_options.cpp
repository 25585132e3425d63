// The address sanitizer's defaults for the targets that build many small
// JSON values, archives and paths per input: allocation stacks are not
// recorded and new blocks are not filled, which together cost about a
// quarter of such a run. Use-after-free and overflow reports still name the
// faulting access; for the allocation's stack too, rerun the saved input
// with ASAN_OPTIONS=malloc_context_size=30. ASAN_OPTIONS set by the caller
// override these.
extern "C" const char* __asan_default_options() {
  return "malloc_context_size=0:max_malloc_fill_size=0";
}
