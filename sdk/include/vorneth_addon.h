/*
 * The contract between the Vorneth host and an add-on library, for add-on
 * authors. Usable from C (C99 or later) and C++.
 *
 * An add-on is a shared library named "addon.so" (Linux) or "addon.dll"
 * (Windows) in the add-on's installation folder. The host loads it into its
 * own process the first time a page creates an instance of the add-on, and
 * never unloads it. It looks every entry point below up by name each time it
 * needs it; an add-on exports the ones it implements and leaves the others
 * out:
 *
 *   entry point        if not exported
 *   onInitPath         skipped
 *   onCreate           creation fails: the page is answered ["Error", -7]
 *   onDispose          skipped
 *   onInvoke           the page is answered ["Error"]
 *   onRegisterEvent    the page is answered ["Error"]
 *   onUnregisterEvent  the page is answered ["Error"]
 *   onGetCSS           no style message
 *   onGetJS            no script message
 *
 * Order of calls, per instance: onInitPath, onCreate, then onInvoke,
 * onRegisterEvent and onUnregisterEvent in the order the page sent its
 * commands, then onDispose. All of them come from the instance's own host
 * thread, never two at once for one instance; calls for different instances
 * of one library may come at the same time from different threads.
 * onGetCSS and onGetJS follow each successful onCreate.
 *
 * Texts: every text is NUL-terminated UTF-8. A text the host passes in is
 * valid only during the call. A text an entry point returns stays the
 * add-on's: it must still be valid when the call has returned (the host
 * copies it at once and never frees it), so return a string literal or a
 * buffer the instance (or the library) keeps until its next call.
 *
 * Every entry point and the host callback use the C calling convention
 * (cdecl on 32-bit Windows); VORNETH_ADDON_CALL says so to the compiler.
 * Build an add-on with the CMake helper (sdk/cmake/VornethAddon.cmake),
 * which hides every other symbol and lets the library find libraries of its
 * own beside itself.
 */
#ifndef VORNETH_ADDON_H_
#define VORNETH_ADDON_H_

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#define VORNETH_ADDON_CALL __cdecl
#define VORNETH_ADDON_EXPORT __declspec(dllexport)
#else
#define VORNETH_ADDON_CALL
#define VORNETH_ADDON_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The host callback. Call it with the host context that onCreate received,
 * from any thread, at any time from onCreate until onDispose has returned.
 * `name` is one of the request names below, or the name of an event: every
 * other name is sent to the page as an event whose data is `data`.
 * The result is a text that stays the host's, or NULL (for events and for
 * most requests; see each request).
 */
typedef const char*(VORNETH_ADDON_CALL* EventCallback)(void* host_context, const char* name, const char* data);

/*
 * Requests to the host through EventCallback (`data` as described).
 *
 * Secure data: a text handed from one instance to another without passing
 * through the page. One instance stores it and passes the handle on (in an
 * event, say); the other reads it with the handle.
 *   SetSecureData     data: the text. Result: its handle, a decimal text,
 *                     valid until AckSetSecureData with it.
 *   AckSetSecureData  data: a handle; the handle text is freed. Result NULL.
 *   GetSecureData     data: a handle. Result: the stored text, valid until
 *                     AckGetSecureData with the handle; NULL for an unknown
 *                     or acknowledged handle.
 *   AckGetSecureData  data: a handle; the stored text is freed. Result NULL.
 * Page:
 *   GetDomain         data: ignored. Result: the page's origin, such as
 *                     "https://shop.example", valid while the instance lives.
 * Library loading:
 *   LockDllDirectory / UnlockDllDirectory
 *                     data: ignored. Result NULL. Take and give back the
 *                     session's library-loading lock, for an add-on that
 *                     loads libraries of its own later; the host holds it
 *                     around onInitPath and onCreate, so never call it from
 *                     there. It may be given back on another thread.
 */
#define VORNETH_SET_SECURE_DATA "SetSecureData"
#define VORNETH_GET_SECURE_DATA "GetSecureData"
#define VORNETH_ACK_SET_SECURE_DATA "AckSetSecureData"
#define VORNETH_ACK_GET_SECURE_DATA "AckGetSecureData"
#define VORNETH_GET_DOMAIN "GetDomain"
#define VORNETH_LOCK_DLL_DIRECTORY "LockDllDirectory"
#define VORNETH_UNLOCK_DLL_DIRECTORY "UnlockDllDirectory"

/*
 * Command names the host keeps for itself: a page cannot invoke an add-on
 * command of one of these names.
 */
#define VORNETH_CREATE_ADDON_INSTANCE "CreateAddOnInstance"
#define VORNETH_DISPOSE_ADDON_INSTANCE "DisposeAddOnInstance"
#define VORNETH_REGISTER_ADDON_EVENT "RegisterAddOnEvent"
#define VORNETH_UNREGISTER_ADDON_EVENT "UnregisterAddOnEvent"

/*
 * The add-on's installation folder, with its closing separator
 * ("<data>/addons/<uuid>/<version>/" on Linux, "...\\" on Windows).
 * Called before each onCreate.
 */
VORNETH_ADDON_EXPORT void VORNETH_ADDON_CALL onInitPath(const char* path);

/*
 * Creates an instance. Keep `host_context` and `callback` for EventCallback
 * calls (every instance of one page gets the same context). Returns the
 * instance's value, 0 or more, which the host passes to the instance's
 * other entry points; a negative value means the instance could not be
 * created.
 */
VORNETH_ADDON_EXPORT int32_t VORNETH_ADDON_CALL onCreate(void* host_context, EventCallback callback);

/*
 * Ends an instance. Stop raising its events before returning: the host
 * context may be gone afterwards.
 */
VORNETH_ADDON_EXPORT void VORNETH_ADDON_CALL onDispose(int32_t instance);

/*
 * Runs the add-on's command `command` with the page's parameters `params`
 * (a text, usually JSON, passed on as the page sent it). Returns a JSON
 * document as text; the page receives the document itself as the answer
 * ("{\"sum\":3}" reaches it as {"sum":3}). An empty text or NULL answers
 * null.
 */
VORNETH_ADDON_EXPORT const char* VORNETH_ADDON_CALL onInvoke(int32_t instance, const char* command, const char* params);

/*
 * The page asks for (or no longer wants) the event `name`. The host keeps no
 * list: raising an event is the add-on's decision. Returns true to accept;
 * the host reads only the low 8 bits of the result.
 */
VORNETH_ADDON_EXPORT bool VORNETH_ADDON_CALL onRegisterEvent(int32_t instance, const char* name);
VORNETH_ADDON_EXPORT bool VORNETH_ADDON_CALL onUnregisterEvent(int32_t instance, const char* name);

/*
 * The add-on's style sheet and script for the page, or NULL for none. They
 * belong to the library as a whole, not to an instance.
 */
VORNETH_ADDON_EXPORT const char* VORNETH_ADDON_CALL onGetCSS(void);
VORNETH_ADDON_EXPORT const char* VORNETH_ADDON_CALL onGetJS(void);

#ifdef __cplusplus
}
#endif

#endif /* VORNETH_ADDON_H_ */
