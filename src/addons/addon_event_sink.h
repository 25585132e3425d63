// How add-on code sends an event back through the session that owns it,
// without knowing the session.
//
// The session implements RaiseAddOnEvent by passing the event on exactly as
// an add-on library's own EventCallback call would: an event name that is a
// request to the host is served, any other reaches the page as an event
// message. `name` and `data` are NUL-terminated texts that stay the caller's;
// the call may come from any thread.
#ifndef VORNETH_ADDONS_ADDON_EVENT_SINK_H_
#define VORNETH_ADDONS_ADDON_EVENT_SINK_H_

namespace vorneth {

class AddOnEventSink {
 public:
  virtual void RaiseAddOnEvent(const char* name, const char* data) = 0;

 protected:
  // Not destroyed through this interface.
  ~AddOnEventSink() = default;
};

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_EVENT_SINK_H_
