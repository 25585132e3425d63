/* A library preloaded into a host process whose thread creation must fail:
 * pthread_create starts the number of threads named by the environment
 * variable VORNETH_TEST_THREADS_ALLOWED and refuses every later one with
 * EAGAIN, as a system out of threads does. Without the variable it changes
 * nothing. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdlib.h>

typedef int (*CreateFunction)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

static atomic_int g_left = -2; /* -2: not read yet; -1: no limit */

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  static CreateFunction real;
  if (real == NULL) real = (CreateFunction)dlsym(RTLD_NEXT, "pthread_create");
  if (atomic_load(&g_left) == -2) {
    const char* allowed = getenv("VORNETH_TEST_THREADS_ALLOWED");
    int expected = -2;
    atomic_compare_exchange_strong(&g_left, &expected, allowed != NULL ? atoi(allowed) : -1);
  }
  int left = atomic_load(&g_left);
  while (left != -1) {
    if (left == 0) return EAGAIN;
    if (atomic_compare_exchange_weak(&g_left, &left, left - 1)) break;
  }
  return real(thread, attr, start, arg);
}
