/*
 * A library of the probe add-on's own ("libprobedep"), packed beside the
 * add-on's library. Built twice under the same file name: the copy packed
 * with the add-on answers "addon-folder", the decoy (PROBE_DEPENDENCY_DECOY)
 * answers "decoy", so that the add-on's "dep" command tells which copy the
 * loader found.
 */
#ifdef _WIN32
#define PROBE_DEPENDENCY_EXPORT __declspec(dllexport)
#else
#define PROBE_DEPENDENCY_EXPORT __attribute__((visibility("default")))
#endif

PROBE_DEPENDENCY_EXPORT const char* probe_dependency_origin(void);

const char* probe_dependency_origin(void) {
#ifdef PROBE_DEPENDENCY_DECOY
  return "decoy";
#else
  return "addon-folder";
#endif
}
