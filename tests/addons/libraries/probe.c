/*
 * The probe add-on: a test add-on that records how the host calls it and
 * answers commands that exercise every part of the add-on contract (events
 * from a thread of its own and from the host's thread, secure data, the
 * library-loading lock, damaged and empty answers). Its protocol, which the
 * tests rely on, is described in README.md beside this file.
 *
 * One source builds every variant; the build leaves entry points out with
 * these definitions:
 *   PROBE_OMIT_INIT_PATH, PROBE_OMIT_CREATE, PROBE_OMIT_DISPOSE,
 *   PROBE_OMIT_INVOKE, PROBE_OMIT_EVENTS (both event entry points),
 *   PROBE_OMIT_STYLE (onGetCSS and onGetJS)
 * and changes behaviour with these:
 *   PROBE_CREATE_FAILS  onCreate returns -1
 *   PROBE_NO_CSS        onGetCSS returns NULL
 *   PROBE_DEPENDENCY    links libprobedep and answers the "dep" command
 *
 * Locking: every piece of library state (the instance table, the counters,
 * the kept path) is read and written under g_lock only. Entry points of one
 * instance never run at once (the host promises it), but different
 * instances run on different host threads and share the table.
 */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vorneth_addon.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <time.h>
#endif

#ifdef PROBE_DEPENDENCY
#ifdef _WIN32
#define PROBE_IMPORT __declspec(dllimport)
#else
#define PROBE_IMPORT
#endif
/* From libprobedep, beside addon.so / addon.dll. */
PROBE_IMPORT const char* probe_dependency_origin(void);
#endif

/* ---- threads and the lock: the one platform split of the probe ---- */

#ifdef _WIN32
typedef HANDLE probe_thread;
static SRWLOCK g_lock = SRWLOCK_INIT;
static void probe_lock(void) {
  AcquireSRWLockExclusive(&g_lock);
}
static void probe_unlock(void) {
  ReleaseSRWLockExclusive(&g_lock);
}
static void probe_sleep(long ms) {
  Sleep((DWORD)ms);
}
static DWORD WINAPI probe_thread_entry(void* job);
static int probe_thread_start(probe_thread* thread, void* job) {
  *thread = CreateThread(NULL, 0, probe_thread_entry, job, 0, NULL);
  return *thread != NULL;
}
static void probe_thread_join(probe_thread thread) {
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}
#else
typedef pthread_t probe_thread;
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static void probe_lock(void) {
  pthread_mutex_lock(&g_lock);
}
static void probe_unlock(void) {
  pthread_mutex_unlock(&g_lock);
}
static void probe_sleep(long ms) {
  struct timespec delay = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}
static void* probe_thread_entry(void* job);
static int probe_thread_start(probe_thread* thread, void* job) {
  return pthread_create(thread, NULL, probe_thread_entry, job) == 0;
}
static void probe_thread_join(probe_thread thread) {
  pthread_join(thread, NULL);
}
#endif

/* ---- growing texts ---- */

/* A heap text; `failed` once an allocation failed (the text then answers NULL). */
typedef struct {
  char* bytes;
  size_t length;
  size_t capacity;
  int failed;
} text;

static void text_append_bytes(text* out, const char* bytes, size_t length) {
  if (out->failed) return;
  if (out->length + length + 1 > out->capacity) {
    size_t capacity = (out->length + length + 1) * 2;
    char* grown = realloc(out->bytes, capacity);
    if (grown == NULL) {
      out->failed = 1;
      return;
    }
    out->bytes = grown;
    out->capacity = capacity;
  }
  memcpy(out->bytes + out->length, bytes, length);
  out->length += length;
  out->bytes[out->length] = '\0';
}

static void text_append(text* out, const char* s) {
  text_append_bytes(out, s, strlen(s));
}

static void text_appendf(text* out, const char* format, ...) {
  char buffer[64];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  text_append(out, buffer);
}

/* `s` as a JSON string with its quotes, or null for NULL. */
static void text_append_json(text* out, const char* s) {
  if (s == NULL) {
    text_append(out, "null");
    return;
  }
  text_append(out, "\"");
  for (; *s != '\0'; ++s) {
    unsigned char c = (unsigned char)*s;
    if (c == '"' || c == '\\') {
      char escaped[2] = {'\\', (char)c};
      text_append_bytes(out, escaped, 2);
    } else if (c < 0x20) {
      text_appendf(out, "\\u%04x", c);
    } else {
      text_append_bytes(out, s, 1);
    }
  }
  text_append(out, "\"");
}

/* ---- library state ---- */

enum { FIRST_INSTANCE = 7, MAX_INSTANCES = 256 };

#ifdef PROBE_CREATE_FAILS
static const int kCreateFails = 1;
#else
static const int kCreateFails = 0;
#endif

/* Events to raise: a copy of everything the event thread needs, owned by the
 * instance slot until joined. */
typedef struct {
  void* context;
  EventCallback callback;
  char* name;
  char* data;
  long count;
  /* A file whose existence the raising waits for; empty: none. */
  char* gate;
} raise_job;

typedef struct {
  int live;
  void* context;
  EventCallback callback;
  int init_before_create;
  char* answer; /* the last answer, valid until the instance's next call */
  int has_thread;
  probe_thread thread;
  raise_job* job;
} instance_slot;

static instance_slot g_instances[MAX_INSTANCES];
static int g_next_instance = FIRST_INSTANCE;
static int g_creations;
static char* g_init_path;
static int g_init_pending;
static void* g_first_context;
static int g_seen_context;

static char* copy_text(const char* s) {
  size_t length = strlen(s) + 1;
  char* copy = malloc(length);
  if (copy != NULL) memcpy(copy, s, length);
  return copy;
}

/* One line to the file that VORNETH_PROBE_LOG names: opened, appended and
 * closed per line, under the lock, so lines of several threads stay whole. */
static void probe_log(const char* what, int instance, const char* detail) {
  const char* path = getenv("VORNETH_PROBE_LOG");
  if (path == NULL || *path == '\0') return;
  probe_lock();
  FILE* file = fopen(path, "a");
  if (file != NULL) {
    if (instance < 0 && detail != NULL) {
      fprintf(file, "%s %s\n", what, detail);
    } else if (detail != NULL) {
      fprintf(file, "%s %d %s\n", what, instance, detail);
    } else {
      fprintf(file, "%s %d\n", what, instance);
    }
    fclose(file);
  }
  probe_unlock();
}

/* The slot of `instance`, or NULL for a value this library never handed out
 * or already disposed of. Call under the lock. */
static instance_slot* slot_of(int instance) {
  int index = instance - FIRST_INSTANCE;
  if (index < 0 || index >= MAX_INSTANCES || !g_instances[index].live) return NULL;
  return &g_instances[index];
}

/* ---- events ---- */

/* Waits until the file `path` exists, at most about 30 seconds. */
static void wait_for_gate(const char* path) {
  for (int tries = 0; *path != '\0' && tries < 3000; ++tries) {
    FILE* file = fopen(path, "r");
    if (file != NULL) {
      fclose(file);
      return;
    }
    probe_sleep(10);
  }
}

static void raise_events(const raise_job* job) {
  wait_for_gate(job->gate);
  for (long i = 0; i < job->count; ++i) {
    text data = {0};
    /* The data may be longer than a formatted piece can be. */
    text_append(&data, job->data);
    text_appendf(&data, "#%ld", i);
    if (!data.failed) job->callback(job->context, job->name, data.bytes);
    free(data.bytes);
  }
}

#ifdef _WIN32
static DWORD WINAPI probe_thread_entry(void* job) {
  raise_events(job);
  return 0;
}
#else
static void* probe_thread_entry(void* job) {
  raise_events(job);
  return NULL;
}
#endif

static void free_job(raise_job* job) {
  if (job == NULL) return;
  free(job->name);
  free(job->data);
  free(job->gate);
  free(job);
}

/* Joins the instance's event thread, if any. Not under the lock: the thread
 * may be inside the host callback, which may wait for host locks. */
static void join_events(int instance) {
  probe_lock();
  instance_slot* slot = slot_of(instance);
  int has_thread = slot != NULL && slot->has_thread;
  probe_thread thread;
  memset(&thread, 0, sizeof thread);
  raise_job* job = NULL;
  if (has_thread) {
    thread = slot->thread;
    job = slot->job;
    slot->has_thread = 0;
    slot->job = NULL;
  }
  probe_unlock();
  if (has_thread) probe_thread_join(thread);
  free_job(job);
}

/* ---- a minimal reader for the "raise" parameters ---- */

/* The value of "key" in the flat JSON object `json`: a string's text (with
 * its escapes taken off) or a number's digits. NULL if absent. The caller
 * frees the result. */
static char* json_member(const char* json, const char* key) {
  text pattern = {0};
  text_append_json(&pattern, key);
  const char* at = pattern.failed ? NULL : strstr(json, pattern.bytes);
  size_t skip = pattern.length;
  free(pattern.bytes);
  if (at == NULL) return NULL;
  at += skip;
  while (*at == ' ' || *at == ':') ++at;
  text value = {0};
  text_append(&value, "");
  if (*at == '"') {
    for (++at; *at != '\0' && *at != '"'; ++at) {
      if (*at == '\\' && at[1] != '\0') ++at;
      text_append_bytes(&value, at, 1);
    }
  } else {
    for (; *at == '-' || (*at >= '0' && *at <= '9'); ++at) text_append_bytes(&value, at, 1);
  }
  if (value.failed) {
    free(value.bytes);
    return NULL;
  }
  return value.bytes;
}

/* The "raise" parameters as a job for `slot`, or NULL if out of memory. */
static raise_job* make_job(const instance_slot* slot, const char* params) {
  raise_job* job = calloc(1, sizeof *job);
  if (job == NULL) return NULL;
  char* count = json_member(params, "count");
  job->context = slot->context;
  job->callback = slot->callback;
  job->name = json_member(params, "name");
  job->data = json_member(params, "data");
  job->gate = json_member(params, "gate");
  job->count = count != NULL ? strtol(count, NULL, 10) : 0;
  free(count);
  if (job->name == NULL) job->name = copy_text("");
  if (job->data == NULL) job->data = copy_text("");
  if (job->gate == NULL) job->gate = copy_text("");
  if (job->name == NULL || job->data == NULL || job->gate == NULL) {
    free_job(job);
    return NULL;
  }
  return job;
}

/* ---- commands ---- */

/* The instance's context and callback, read under the lock. */
static void host_of(int instance, void** context, EventCallback* callback) {
  probe_lock();
  instance_slot* slot = slot_of(instance);
  *context = slot != NULL ? slot->context : NULL;
  *callback = slot != NULL ? slot->callback : NULL;
  probe_unlock();
}

static const char* ask_host(int instance, const char* name, const char* data) {
  void* context;
  EventCallback callback;
  host_of(instance, &context, &callback);
  return callback != NULL ? callback(context, name, data) : NULL;
}

static void command_info(int instance, text* out) {
  probe_lock();
  instance_slot* slot = slot_of(instance);
  text_appendf(out, "{\"instance\":%d,\"creations\":%d,\"initPath\":", instance, g_creations);
  text_append_json(out, g_init_path);
  text_append(out, ",\"initBeforeCreate\":");
  text_append(out, slot != NULL && slot->init_before_create ? "true" : "false");
  text_append(out, ",\"sameContext\":");
  text_append(out, slot != NULL && slot->context == g_first_context ? "true" : "false");
  text_append(out, "}");
  probe_unlock();
}

static void command_raise(int instance, const char* params, int on_own_thread, text* out) {
  void* context;
  EventCallback callback;
  host_of(instance, &context, &callback);
  instance_slot copy = {.context = context, .callback = callback};
  raise_job* job = make_job(&copy, params);
  if (job == NULL || callback == NULL) {
    free_job(job);
    text_append(out, "{\"error\":\"raise\"}");
    return;
  }
  if (!on_own_thread) {
    raise_events(job);
    text_appendf(out, "{\"raised\":%ld}", job->count);
    free_job(job);
    return;
  }
  join_events(instance);
  long count = job->count;
  probe_lock();
  instance_slot* slot = slot_of(instance);
  int started = slot != NULL && probe_thread_start(&slot->thread, job);
  if (started) {
    slot->has_thread = 1;
    slot->job = job;
  }
  probe_unlock();
  if (!started) {
    free_job(job);
    text_append(out, "{\"error\":\"thread\"}");
    return;
  }
  text_appendf(out, "{\"started\":%ld}", count);
}

static void command_get_secure(int instance, const char* params, text* out) {
  text_append(out, "{\"data\":");
  /* Copied before the acknowledgement, which frees the host's text. */
  text_append_json(out, ask_host(instance, VORNETH_GET_SECURE_DATA, params));
  text_append(out, "}");
  ask_host(instance, VORNETH_ACK_GET_SECURE_DATA, params);
}

/* The answer to `command` in `out`; returns 0 for the command "null". */
static int run_command(int instance, const char* command, const char* params, text* out) {
  if (strcmp(command, "echo") == 0) {
    text_append(out, params);
  } else if (strcmp(command, "info") == 0) {
    command_info(instance, out);
  } else if (strcmp(command, "empty") == 0) {
    text_append(out, "");
  } else if (strcmp(command, "null") == 0) {
    return 0;
  } else if (strcmp(command, "broken") == 0) {
    text_append(out, "{\"a\":1,");
  } else if (strcmp(command, "raise") == 0 || strcmp(command, "raiseHere") == 0) {
    command_raise(instance, params, strcmp(command, "raise") == 0, out);
  } else if (strcmp(command, "join") == 0) {
    join_events(instance);
    text_append(out, "{\"joined\":true}");
  } else if (strcmp(command, "sleep") == 0) {
    long ms = strtol(params, NULL, 10);
    probe_sleep(ms > 0 ? ms : 0);
    text_appendf(out, "{\"slept\":%ld}", ms);
  } else if (strcmp(command, "setSecure") == 0) {
    text_append(out, "{\"handle\":");
    text_append_json(out, ask_host(instance, VORNETH_SET_SECURE_DATA, params));
    text_append(out, "}");
  } else if (strcmp(command, "getSecure") == 0) {
    command_get_secure(instance, params, out);
  } else if (strcmp(command, "ackSet") == 0) {
    ask_host(instance, VORNETH_ACK_SET_SECURE_DATA, params);
    text_append(out, "{\"acked\":true}");
  } else if (strcmp(command, "domain") == 0) {
    text_append(out, "{\"domain\":");
    text_append_json(out, ask_host(instance, VORNETH_GET_DOMAIN, ""));
    text_append(out, "}");
  } else if (strcmp(command, "lockDll") == 0) {
    ask_host(instance, VORNETH_LOCK_DLL_DIRECTORY, "");
    ask_host(instance, VORNETH_UNLOCK_DLL_DIRECTORY, "");
    text_append(out, "{\"locked\":true}");
#ifdef PROBE_DEPENDENCY
  } else if (strcmp(command, "dep") == 0) {
    text_append(out, "{\"dep\":");
    text_append_json(out, probe_dependency_origin());
    text_append(out, "}");
#endif
  } else {
    text_append(out, "{\"unknown\":");
    text_append_json(out, command);
    text_append(out, "}");
  }
  return 1;
}

/* ---- the entry points' work, exported below as the variant asks ----
 * Not static, so that a variant that leaves an entry point out still
 * compiles cleanly; the build hides every symbol that is not an entry point. */

void probe_init_path(const char* path) {
  probe_log("initPath", -1, path);
  char* copy = copy_text(path);
  probe_lock();
  free(g_init_path);
  g_init_path = copy;
  g_init_pending = 1;
  probe_unlock();
}

int32_t probe_create(void* host_context, EventCallback callback) {
  int instance = -1;
  probe_lock();
  ++g_creations;
  if (!g_seen_context) {
    g_seen_context = 1;
    g_first_context = host_context;
  }
  if (!kCreateFails && g_next_instance - FIRST_INSTANCE < MAX_INSTANCES) {
    instance = g_next_instance++;
    instance_slot* slot = &g_instances[instance - FIRST_INSTANCE];
    slot->live = 1;
    slot->context = host_context;
    slot->callback = callback;
    slot->init_before_create = g_init_pending;
  }
  g_init_pending = 0;
  probe_unlock();
  probe_log("create", instance, NULL);
  return instance;
}

void probe_dispose(int32_t instance) {
  join_events(instance);
  probe_lock();
  instance_slot* slot = slot_of(instance);
  if (slot != NULL) {
    free(slot->answer);
    memset(slot, 0, sizeof *slot);
  }
  probe_unlock();
  probe_log("dispose", instance, NULL);
}

const char* probe_invoke(int32_t instance, const char* command, const char* params) {
  probe_log("invoke", instance, command);
  text out = {0};
  int answered = run_command(instance, command, params != NULL ? params : "", &out);
  if (!answered || out.failed) {
    free(out.bytes);
    out.bytes = NULL;
  }
  probe_lock();
  instance_slot* slot = slot_of(instance);
  if (slot != NULL) {
    free(slot->answer);
    slot->answer = out.bytes;
  } else {
    /* Not an instance of this library: nowhere to keep the answer. */
    free(out.bytes);
    out.bytes = NULL;
  }
  probe_unlock();
  return out.bytes;
}

bool probe_event(const char* what, int32_t instance, const char* name) {
  probe_log(what, instance, name);
  return strcmp(name, "refuse") != 0;
}

#ifndef PROBE_OMIT_INIT_PATH
void VORNETH_ADDON_CALL onInitPath(const char* path) {
  probe_init_path(path);
}
#endif

#ifndef PROBE_OMIT_CREATE
int32_t VORNETH_ADDON_CALL onCreate(void* host_context, EventCallback callback) {
  return probe_create(host_context, callback);
}
#endif

#ifndef PROBE_OMIT_DISPOSE
void VORNETH_ADDON_CALL onDispose(int32_t instance) {
  probe_dispose(instance);
}
#endif

#ifndef PROBE_OMIT_INVOKE
const char* VORNETH_ADDON_CALL onInvoke(int32_t instance, const char* command, const char* params) {
  return probe_invoke(instance, command, params);
}
#endif

#ifndef PROBE_OMIT_EVENTS
bool VORNETH_ADDON_CALL onRegisterEvent(int32_t instance, const char* name) {
  return probe_event("register", instance, name);
}
bool VORNETH_ADDON_CALL onUnregisterEvent(int32_t instance, const char* name) {
  return probe_event("unregister", instance, name);
}
#endif

#ifndef PROBE_OMIT_STYLE
const char* VORNETH_ADDON_CALL onGetCSS(void) {
#ifdef PROBE_NO_CSS
  return NULL;
#else
  return ".probe{color:red}";
#endif
}
const char* VORNETH_ADDON_CALL onGetJS(void) {
  return "probe.js();";
}
#endif
