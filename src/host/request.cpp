#include "host/request.h"

#include <utility>

#include "json/json_conversions.h"
#include "json/json_subset_reader.h"

namespace vorneth {

namespace {

struct TextMember {
  std::string_view m_name;  // a literal, so NUL-terminated for Member
  Request::Text Request::*m_field;
};
constexpr TextMember kTextMembers[] = {
    {"type", &Request::m_type}, {"command", &Request::m_command}, {"portId", &Request::m_portId},
    {"url", &Request::m_url},   {"version", &Request::m_version}, {"callbackId", &Request::m_callbackId},
};

constexpr std::string_view kParams = "params";

// ReadText's rule on a value not read yet: strings, null and booleans are
// texts; numbers, arrays and objects are not (and are left to the reader
// to check and skip).
Request::Text ReadTextMember(SubsetMember& value) {
  switch (value.kind()) {
    case SubsetKind::kString:
      return std::string(value.String());
    case SubsetKind::kNull:
      return std::string();
    case SubsetKind::kTrue:
      return std::string("true");
    case SubsetKind::kFalse:
      return std::string("false");
    default:
      return std::nullopt;
  }
}

// Fills a Request member by member; a repeated member overwrites the
// earlier one, as it does in the value Json::Reader builds.
class RequestMembers final : public SubsetMemberVisitor {
 public:
  explicit RequestMembers(Request& request) : m_request(request) {}

  void Visit(std::string_view name, SubsetMember& value) override {
    if (name == kParams) {
      value.Read(m_request.m_params);
      return;
    }
    for (const TextMember& member : kTextMembers) {
      if (name == member.m_name) {
        m_request.*member.m_field = ReadTextMember(value);
        return;
      }
    }
  }

 private:
  Request& m_request;
};

}  // namespace

Request ParseRequest(std::string_view body) {
  Request request;
  RequestMembers members(request);
  switch (VisitSubsetRoot(body, members)) {
    case SubsetRoot::kObject:
    case SubsetRoot::kNull:
      return request;
    case SubsetRoot::kOther: {
      Request ignored;
      ignored.m_routable = false;
      return ignored;
    }
    case SubsetRoot::kOutside:
      break;
  }
  return ParseRequestStraight(body);
}

Request ParseRequestStraight(std::string_view body) {
  Json::Value root;
  ParseJson(body, root);
  Request request;
  if (!root.isObject() && !root.isNull()) {
    request.m_routable = false;
    return request;
  }
  for (const TextMember& member : kTextMembers) {
    std::string text;
    if (ReadText(Member(root, member.m_name.data()), text)) {
      request.*member.m_field = std::move(text);
    } else {
      request.*member.m_field = std::nullopt;
    }
  }
  // Moved out rather than copied: the root is dropped here anyway.
  if (root.isObject()) root.removeMember("params", &request.m_params);
  return request;
}

}  // namespace vorneth
