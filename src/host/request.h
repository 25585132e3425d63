// One request body, read the way the router reads it.
//
// The router looks at six text members ("type", "command", "portId", "url",
// "version", "callbackId") and at "params". A text member reads as
// ReadText reads it: a string as it is, a boolean as "true" or "false",
// null or a missing member as "". A number, array or object there is
// unreadable, and the router ignores the request at the point where it
// needs that member. "params" is taken as the JSON value it is.
//
// ParseRequestStraight reads the body with Json::Reader (ParseJson) and
// takes the members from the value it built, damage and all: members read
// before the damage stay, a text the reader gives up on reads as null.
// ParseRequest gives exactly the same Request, faster: it reads plain
// bodies with the subset reader (json/json_subset_reader.h) without building
// the root object, and hands every other body to ParseRequestStraight.
//
// Both never throw and share no state.
#ifndef VORNETH_HOST_REQUEST_H_
#define VORNETH_HOST_REQUEST_H_

#include <json/value.h>

#include <optional>
#include <string>
#include <string_view>

namespace vorneth {

struct Request {
  // A text member; nullopt when it is a number, array or object.
  using Text = std::optional<std::string>;

  // False when the body is JSON other than an object or null (an array, a
  // string...): the router then ignores it whole, and the members below
  // keep their defaults.
  bool m_routable = true;
  Text m_type{""};
  Text m_command{""};
  Text m_portId{""};
  Text m_url{""};
  Text m_version{""};
  Text m_callbackId{""};
  // Null when absent.
  Json::Value m_params;

  // Members compare with Json::Value's ==, which is type-strict (an int is
  // no uint of the same number) and ignores source offsets.
  friend bool operator==(const Request&, const Request&) = default;
};

// The fast path, falling back to ParseRequestStraight for every body the
// subset reader leaves to Json::Reader.
Request ParseRequest(std::string_view body);

// Json::Reader, then the members as the router has always read them.
Request ParseRequestStraight(std::string_view body);

}  // namespace vorneth

#endif  // VORNETH_HOST_REQUEST_H_
