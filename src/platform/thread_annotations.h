// Clang's thread-safety attributes under short names. Other compilers see
// nothing; a Clang build with -Wthread-safety checks every use.
//
// GUARDED_BY(mu) on a member: read and written only while `mu` is held.
// REQUIRES(mu) on a function: the caller holds `mu`.
// EXCLUDES(mu) on a function: the caller does not hold `mu` (it takes it).
// ACQUIRE / RELEASE / TRY_ACQUIRE: the function takes or gives up the
// capability itself. NO_THREAD_SAFETY_ANALYSIS: the function is checked by
// reading, with a comment that says why the analysis cannot follow it.
#ifndef VORNETH_PLATFORM_THREAD_ANNOTATIONS_H_
#define VORNETH_PLATFORM_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define VORNETH_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VORNETH_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VORNETH_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VORNETH_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VORNETH_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VORNETH_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) VORNETH_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) VORNETH_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) VORNETH_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VORNETH_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VORNETH_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VORNETH_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) VORNETH_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VORNETH_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) VORNETH_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VORNETH_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // VORNETH_PLATFORM_THREAD_ANNOTATIONS_H_
