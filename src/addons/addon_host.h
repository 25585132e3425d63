// What the add-on runtime needs of the session that owns it, without knowing
// the session: the context and callback every add-on instance is handed, the
// way out towards the page, and the library-loading lock.
//
// The session implements it; the add-on workers call it from their threads,
// several at once. HostContext and AddOnCallback are what an add-on's
// onCreate receives: the add-on calls the callback with the context, from
// any thread, while its instance lives.
#ifndef VORNETH_ADDONS_ADDON_HOST_H_
#define VORNETH_ADDONS_ADDON_HOST_H_

#include <json/value.h>

#include <cstdint>

#include "vorneth_addon.h"

namespace vorneth {

class AddOnHost {
 public:
  virtual void* HostContext() = 0;
  virtual ::EventCallback AddOnCallback() = 0;
  // The session's identifier, sent as "instanceId".
  virtual int32_t SessionId() const = 0;
  // Serialises `message` and writes it towards the page.
  virtual void SendToPage(Json::Value message) = 0;
  // The library-loading lock, shared with add-ons ("LockDllDirectory"):
  // waits until it is free and takes it; gives it back.
  virtual void LockDllDirectory() = 0;
  virtual void UnlockDllDirectory() = 0;

 protected:
  // Not destroyed through this interface.
  ~AddOnHost() = default;
};

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_HOST_H_
