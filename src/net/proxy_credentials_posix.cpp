// Proxy credentials on Linux desktops: the Secret Service (libsecret) as the
// store, and the desktop's password dialog (credential_dialog_posix.h).
//
// The Secret Service is reached over GLib's shared session bus connection
// (libsecret knows no other), with its exit-on-close turned off: a bus that
// goes away must not end the host. The bus is only tried where one can be
// found without launching one: DBUS_SESSION_BUS_ADDRESS, else the socket
// $XDG_RUNTIME_DIR/bus; an autolaunch address is refused. The service
// object is opened for each call and released after it, so no stale
// session outlives a restarted keyring.
//
// Every call on the store runs against a deadline: a thread cancels the
// call's GCancellable when it passes, which ends a bus that never answers
// as well as an unlock prompt nobody answers.
#include <libsecret/secret.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "net/credential_dialog_posix.h"
#include "net/proxy_credentials.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

constexpr char kCaption[] = "Proxy Authentication - Vorneth";
constexpr char kTargetAttribute[] = "target";
constexpr char kUserAttribute[] = "user";
// Long enough for the user to unlock a locked keyring at the service's
// prompt; a bus that does not answer is given up after it.
constexpr std::chrono::seconds kStoreDeadline{60};

// The item schema: the proxy text and the user name as attributes, the
// password as the secret.
const SecretSchema* ProxyCredentialSchema() {
  static const SecretSchema schema = [] {
    SecretSchema value{};
    value.name = "org.vorneth.ProxyCredential";
    value.flags = SECRET_SCHEMA_NONE;
    value.attributes[0] = {kTargetAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING};
    value.attributes[1] = {kUserAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING};
    return value;
  }();
  return &schema;
}

// Cancels a GCancellable when the deadline passes, unless the owner is
// done first.
class CallDeadline {
 public:
  explicit CallDeadline(std::chrono::milliseconds limit)
      : m_cancellable(g_cancellable_new()), m_thread([this, limit] { Run(limit); }) {}
  ~CallDeadline() {
    {
      MutexLock lock(&m_lock);
      m_done = true;
    }
    m_wake.Signal();
    m_thread.join();
    g_object_unref(m_cancellable);
  }
  CallDeadline(const CallDeadline&) = delete;
  CallDeadline& operator=(const CallDeadline&) = delete;

  GCancellable* cancellable() const { return m_cancellable; }

 private:
  void Run(std::chrono::milliseconds limit) EXCLUDES(m_lock) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    MutexLock lock(&m_lock);
    while (!m_done) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        g_cancellable_cancel(m_cancellable);  // thread-safe; the call ends with G_IO_ERROR_CANCELLED
        return;
      }
      m_wake.WaitFor(&m_lock, left);
    }
  }

  Mutex m_lock;
  CondVar m_wake{&m_lock};
  bool m_done GUARDED_BY(m_lock) = false;
  GCancellable* const m_cancellable;
  std::thread m_thread;  // last: starts once the members above are made
};

// The host never changes its environment, so reading it races with nothing.
const char* Variable(const char* name) {
  return std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
}

bool HasText(const char* value) {
  return value != nullptr && value[0] != '\0';
}

// Whether GLib can find the session bus without starting one: by
// DBUS_SESSION_BUS_ADDRESS (not an autolaunch address), else by the socket
// $XDG_RUNTIME_DIR/bus. Otherwise GLib would try to launch a bus.
bool HasSessionBus() {
  const char* address = Variable("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr) return address[0] != '\0' && std::strstr(address, "autolaunch:") == nullptr;
  const char* runtime = Variable("XDG_RUNTIME_DIR");
  if (!HasText(runtime) || runtime[0] != '/') return false;
  const std::string socket = std::string(runtime) + "/bus";
  struct stat info {};
  return stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// An open session with the Secret Service on the session bus. Null with
// `why` set when there is no bus or no service on it.
SecretService* OpenService(GCancellable* cancellable, std::string& why) {
  if (!HasSessionBus()) {
    why = "no session bus";
    return nullptr;
  }
  g_autoptr(GError) error = nullptr;
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable, &error);
  if (bus == nullptr) {
    why = std::string("cannot connect to the session bus: ") + error->message;
    return nullptr;
  }
  // The connection is GLib's shared one, which raises SIGTERM when its bus
  // goes away, once anything in the process (an add-on with a GLib main
  // loop) runs the default main context. A read after that fails instead;
  // one after the bus is back connects anew.
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  SecretService* service =
      secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, cancellable, &error);
  if (service == nullptr) why = std::string("no Secret Service: ") + error->message;
  return service;
}

// Attributes naming the items of `target` (the table borrows the text).
GHashTable* TargetAttributes(const std::string& target) {
  GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
  g_hash_table_insert(attributes, const_cast<char*>(kTargetAttribute), const_cast<char*>(target.c_str()));
  return attributes;
}

// The first unlocked item of `target` with a user name and a secret.
// False with `why` set when there is none.
bool FindCredential(SecretService* service, const std::string& target, GCancellable* cancellable, SecretText& user,
                    SecretText& password, std::string& why) {
  g_autoptr(GHashTable) query = TargetAttributes(target);
  g_autoptr(GError) error = nullptr;
  const auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS);
  g_autolist(SecretItem) items =
      secret_service_search_sync(service, ProxyCredentialSchema(), query, flags, cancellable, &error);
  if (error != nullptr) {
    why = std::string("the search failed: ") + error->message;
    return false;
  }
  for (GList* node = items; node != nullptr; node = node->next) {
    auto* item = static_cast<SecretItem*>(node->data);
    g_autoptr(SecretValue) secret = secret_item_get_secret(item);  // none while the item is locked
    g_autoptr(GHashTable) attributes = secret_item_get_attributes(item);
    auto* name = static_cast<gchar*>(g_hash_table_lookup(attributes, kUserAttribute));
    if (secret == nullptr || name == nullptr) continue;
    gsize length = 0;
    const gchar* bytes = secret_value_get(secret, &length);
    user.Assign(name);
    password.Assign(std::string_view(bytes, length));
    WipeBytes(name, std::strlen(name));
    return true;
  }
  why = items == nullptr ? "no item" : "no unlocked item";
  return false;
}

// Keeps the credential as the one item of `target` in the default
// collection, replacing those there were.
bool StoreCredential(const std::string& target, const SecretText& user, const SecretText& password, std::string& why) {
  const CallDeadline deadline(kStoreDeadline);
  g_autoptr(SecretService) service = OpenService(deadline.cancellable(), why);
  if (service == nullptr) return false;
  g_autoptr(GError) error = nullptr;
  g_autoptr(GHashTable) old_items = TargetAttributes(target);
  if (!secret_service_clear_sync(service, ProxyCredentialSchema(), old_items, deadline.cancellable(), &error) &&
      error != nullptr) {
    why = std::string("cannot remove the old item: ") + error->message;
    return false;
  }
  g_autoptr(GHashTable) attributes = TargetAttributes(target);
  g_hash_table_insert(attributes, const_cast<char*>(kUserAttribute), const_cast<char*>(user.c_str()));
  g_autoptr(SecretValue) secret =
      secret_value_new(password.c_str(), static_cast<gssize>(password.size()), "text/plain");
  const std::string label = "Proxy credential for " + target;
  if (!secret_service_store_sync(service, ProxyCredentialSchema(), attributes, SECRET_COLLECTION_DEFAULT, label.c_str(),
                                 secret, deadline.cancellable(), &error)) {
    why = std::string("cannot store the item: ") + error->message;
    return false;
  }
  return true;
}

}  // namespace

bool ReadStoredProxyCredential(const std::string& target, SecretText& user, SecretText& password) {
  TraceFunction trace("ReadStoredProxyCredential");
  trace.Text("target", target);
  user.Clear();
  password.Clear();
  std::string why;
  const CallDeadline deadline(kStoreDeadline);
  g_autoptr(SecretService) service = OpenService(deadline.cancellable(), why);
  if (service != nullptr && FindCredential(service, target, deadline.cancellable(), user, password, why)) {
    return true;
  }
  trace.Message("ReadStoredProxyCredential - no stored credential");
  trace.Text("why", why);
  return false;
}

bool PromptProxyCredentials(const std::string& target, SecretText& user, SecretText& password) {
  TraceFunction trace("PromptProxyCredentials");
  trace.Text("target", target);
  user.Clear();
  password.Clear();
  posix::DialogCredential answer;
  std::string why;
  if (!posix::AskCredentialDialog(kCaption, "Please provide authentication credential for " + target + ".", answer,
                                  why)) {
    trace.Message("PromptProxyCredentials - no credential");
    trace.Text("why", why);
    return false;
  }
  if (answer.m_remember && !StoreCredential(target, answer.m_user, answer.m_password, why)) {
    // The answer still serves this request; only keeping it failed.
    trace.Message("PromptProxyCredentials - the credential was not kept");
    trace.Text("why", why);
  }
  user = std::move(answer.m_user);
  password = std::move(answer.m_password);
  return true;
}

}  // namespace vorneth
