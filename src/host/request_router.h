// Routes each request the host reads to the current session.
//
// "Vorneth-I" with "command" "Create" makes a new session (a session it
// replaces keeps running until the router ends); any other "Vorneth-I"
// command runs as a host command at once; "Vorneth" queues a page command.
// Every other request is ignored, as is a request whose "type", "command",
// "portId", "url", "version" or "callbackId" is a number, array or object, or
// whose body is JSON other than an object. Without a session, commands are
// dropped silently.
//
// Not thread-safe: the main thread alone reads and routes requests.
#ifndef VORNETH_HOST_REQUEST_ROUTER_H_
#define VORNETH_HOST_REQUEST_ROUTER_H_

#include <memory>
#include <string>
#include <vector>

#include "session/vorneth.h"

namespace vorneth {

class RequestRouter {
 public:
  explicit RequestRouter(HostCallback callback);
  // Destroys every session, the current one first: running page commands
  // finish and their answers are written.
  ~RequestRouter();
  RequestRouter(const RequestRouter&) = delete;
  RequestRouter& operator=(const RequestRouter&) = delete;

  // Handles one request body. Never throws.
  void Route(const std::string& body);

 private:
  void RouteParsed(const std::string& body);

  HostCallback callback_;
  std::unique_ptr<Vorneth> session_;
  // Sessions replaced by a later "Create": they receive no more requests but
  // keep their workers and add-on instances until the end.
  std::vector<std::unique_ptr<Vorneth>> replaced_;
};

}  // namespace vorneth

#endif  // VORNETH_HOST_REQUEST_ROUTER_H_
