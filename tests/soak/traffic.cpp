#include "traffic.h"

#include <cstdint>
#include <string>

#include "json/json_conversions.h"

namespace vorneth::soak {

namespace {

// The session's "version" text, which "GetVersion" gives back.
constexpr char kExtensionVersion[] = "1.0";
// What the example add-on and the probe send after each creation.
constexpr char kExampleCss[] = ".vorneth-example{font-family:monospace}";
constexpr char kExampleJs[] = "window.vornethExample={loaded:true};";
constexpr char kProbeCss[] = ".probe{color:red}";
constexpr char kProbeJs[] = "probe.js();";
// "add" invocations sent while the ticks come.
constexpr int kAdds = 6;
// Milliseconds between ticks.
constexpr int kTickIntervalMs = 2;
constexpr int kLeftTickIntervalMs = 5;
constexpr char kProbeEvent[] = "soak";

Json::Value Descriptor(const Package& package) {
  Json::Value descriptor;
  descriptor["packageURL"] = package.m_file;
  descriptor["packageUUID"] = package.m_uuid;
  descriptor["packageVersion"] = package.m_version;
  return descriptor;
}

// The finish event of one package installed with `result`.
std::string FinishEvent(int result, const Package& package) {
  Json::Value data(Json::arrayValue);
  data.append(result);
  data.append(Descriptor(package));
  return MessageKey("Vorneth-E", "AddOnInstallFinishEvent", Compact(data));
}

std::string InstallParams(const Catalogue& catalogue, const std::vector<Package>& packages) {
  Json::Value params(Json::arrayValue);
  params.append(catalogue.m_baseUrl);
  Json::Value list(Json::arrayValue);
  for (const Package& package : packages) list.append(Descriptor(package));
  params.append(list);
  return Compact(params);
}

std::string Texts(std::initializer_list<const char*> texts) {
  Json::Value list(Json::arrayValue);
  for (const char* text : texts) list.append(text);
  return Compact(list);
}

std::string InvokeParams(int32_t id, const std::string& command, const std::string& params) {
  Json::Value list(Json::arrayValue);
  list.append(id);
  list.append(command);
  list.append(params);
  return Compact(list);
}

std::string IdAndName(int32_t id, const std::string& name) {
  Json::Value list(Json::arrayValue);
  list.append(id);
  list.append(name);
  return Compact(list);
}

// An answer [id]: the id lands in `id`.
AnswerCheck CreatedId(int32_t& id) {
  return [&id](const Json::Value& response) -> std::string {
    if (response.isArray() && response.size() == 1 && ReadInt(response[0], id)) return {};
    id = -1;
    return "no add-on id: " + Compact(response);
  };
}

// Creates an instance of `package`, owed its style and script first; -1
// when there is none.
int32_t CreateInstance(SoakHost& host, const Package& package, const char* css, const char* js) {
  int32_t id = -1;
  host.ledger().ExpectMessage(MessageKey("Vorneth-CSS", "", css));
  host.ledger().ExpectMessage(MessageKey("Vorneth-JS", "", js));
  host.Page("CreateAddOnInstance", Texts({package.m_uuid.c_str(), package.m_version.c_str()}), CreatedId(id));
  return host.Settle() ? id : -1;
}

std::string TickKey(int tick, int of) {
  return MessageKey("Vorneth-E", "tick", "{\"tick\":" + std::to_string(tick) + ",\"of\":" + std::to_string(of) + "}");
}

}  // namespace

void NewSession(SoakHost& host, int serial) {
  host.Create(std::string(kPageUrl) + "?session=" + std::to_string(serial), kExtensionVersion);
}

bool Install(SoakHost& host, const Catalogue& catalogue, const std::vector<Package>& packages) {
  for (const Package& package : packages) host.ledger().ExpectMessage(FinishEvent(200, package));
  host.Page("InstallAddOns", InstallParams(catalogue, packages), Equals(Parse("[200]")));
  return host.Settle();
}

bool Queries(SoakHost& host, const Catalogue& catalogue) {
  host.Page("GetVersion", "[]", Equals(Parse(Texts({"0x020F0000", kExtensionVersion}))));
  host.Page("RegisterEvent", R"(["AddOnInstallFinishEvent"])", Equals(Parse("[true]")));
  host.Page("UnregisterEvent", R"(["SomethingElse"])", Equals(Parse(R"(["Error"])")));
  host.Page("NoSuchCommand", "[]", Equals(Parse(R"(["Error",-2])")));
  host.Page("CreateAddOnInstance", R"(["{soak-absent}","1.0"])", Equals(Parse(R"(["Error",-5])")));
  host.Page("InvokeAddOnInstance", R"([99999,"add","{}"])", Equals(Parse(R"(["Error"])")));
  host.Page("DisposeAddOnInstance", R"([99999,"{soak-absent}","1.0"])", Equals(Parse(R"(["Error"])")));
  host.ledger().ExpectMessage(FinishEvent(0, catalogue.m_example));
  host.Page("InstallAddOns", InstallParams(catalogue, {catalogue.m_example}), Equals(Parse("[0]")));
  host.Host("GetHostVersion", "[]", Equals("2.15.0.0"));
  host.Host("GetDomain", "[]", Equals(kPageOrigin));
  host.Host("IsDomainBlocked", "[]", Equals(0));
  host.Host("IsWhitelistMode", "[]", Equals(0));
  host.Host("ReadVornethAddOnListDB", "[]", AnyAnswer);
  host.Host("ReadVornethPermListDB", "[]", AnyAnswer);
  host.Host("GetActiveAddOnList", "[]", AnyAnswer);
  host.Host("NoSuchHostCommand", "[]", Equals(Parse(R"(["Error",-2])")));
  return host.Settle();
}

bool ExampleInstance(SoakHost& host, const Package& example, int ticks) {
  const int32_t id = CreateInstance(host, example, kExampleCss, kExampleJs);
  if (id < 0) return false;
  host.Page("RegisterAddOnEvent", IdAndName(id, "tick"), Equals(Parse("[true]")));
  if (!host.Settle()) return false;
  for (int tick = 1; tick <= ticks; ++tick) host.ledger().ExpectMessage(TickKey(tick, ticks));
  const std::string start =
      "{\"count\":" + std::to_string(ticks) + ",\"intervalMs\":" + std::to_string(kTickIntervalMs) + "}";
  host.Page("InvokeAddOnInstance", InvokeParams(id, "startTicks", start),
            Equals(Parse("{\"started\":" + std::to_string(ticks) + "}")));
  for (int i = 0; i < kAdds; ++i) {
    host.Page("InvokeAddOnInstance", InvokeParams(id, "add", "{\"a\":" + std::to_string(i) + ",\"b\":0.5}"),
              Equals(Parse("{\"sum\":" + std::to_string(i) + ".5}")));
  }
  host.Page("InvokeAddOnInstance", InvokeParams(id, "about", ""), AnyAnswer);
  if (!host.Settle()) return false;
  host.Page("UnregisterAddOnEvent", IdAndName(id, "tick"), Equals(Parse("[true]")));
  return host.Settle() && Dispose(host, id, example);
}

bool Dispose(SoakHost& host, int32_t id, const Package& package) {
  Json::Value params(Json::arrayValue);
  params.append(id);
  params.append(package.m_uuid);
  params.append(package.m_version);
  host.Page("DisposeAddOnInstance", Compact(params), Equals(Parse("[true]")));
  return host.Settle();
}

int32_t CreateProbe(SoakHost& host, const Package& probe) {
  return CreateInstance(host, probe, kProbeCss, kProbeJs);
}

bool ProbeInstance(SoakHost& host, const Package& probe, int events) {
  const int32_t id = CreateProbe(host, probe);
  return id >= 0 && UseProbe(host, id, events) && Dispose(host, id, probe);
}

bool UseProbe(SoakHost& host, int32_t id, int events) {
  for (int i = 0; i < events; ++i) {
    host.ledger().ExpectMessage(MessageKey("Vorneth-E", kProbeEvent, "d#" + std::to_string(i)));
  }
  host.Page("InvokeAddOnInstance",
            InvokeParams(id, "raise",
                         "{\"name\":\"" + std::string(kProbeEvent) + "\",\"count\":" + std::to_string(events) +
                             ",\"data\":\"d\"}"),
            Equals(Parse("{\"started\":" + std::to_string(events) + "}")));
  host.Page("InvokeAddOnInstance", InvokeParams(id, "echo", R"({"echo":[1,"two",3.5]})"),
            Equals(Parse(R"({"echo":[1,"two",3.5]})")));
  std::string handle;
  host.Page("InvokeAddOnInstance", InvokeParams(id, "setSecure", "soak secret"),
            [&handle](const Json::Value& response) -> std::string {
              handle = response["handle"].asString();
              return handle.empty() ? "no handle: " + Compact(response) : std::string();
            });
  if (!host.Settle()) return false;
  host.Page("InvokeAddOnInstance", InvokeParams(id, "getSecure", handle), Equals(Parse(R"({"data":"soak secret"})")));
  if (!host.Settle()) return false;
  host.Page("InvokeAddOnInstance", InvokeParams(id, "ackSet", handle), Equals(Parse(R"({"acked":true})")));
  return host.Settle();
}

bool InstallAndRemove(SoakHost& host, const Catalogue& catalogue) {
  if (!Install(host, catalogue, {catalogue.m_churn})) return false;
  host.Host("ReadVornethAddOnListDB", "[]", AnyAnswer);
  host.Host("UninstallAddOn", Texts({catalogue.m_churn.m_uuid.c_str(), catalogue.m_churn.m_version.c_str()}),
            Equals(200));
  if (!host.Settle()) return false;
  // Gone: a second removal finds nothing.
  host.Host("UninstallAddOn", Texts({catalogue.m_churn.m_uuid.c_str(), catalogue.m_churn.m_version.c_str()}),
            Equals(0));
  return host.Settle();
}

bool DenyAndAllow(SoakHost& host) {
  host.Host("SetDomainDenied", "[]", Equals(kPageOrigin));
  if (!host.Settle()) return false;
  host.Page("GetVersion", "[]", Equals(Parse(Texts({"0x020F0000", kExtensionVersion}))));
  host.Page("RegisterEvent", R"(["AddOnInstallFinishEvent"])", Equals(Parse(R"(["Error",-3])")));
  host.Page("CreateAddOnInstance", R"(["{example}","1.0"])", Equals(Parse(R"(["Error",-3])")));
  host.Host("IsDomainBlocked", "[]", Equals(1));
  if (!host.Settle()) return false;
  host.Host("SetDomainAllowed", "[]", Equals(kPageOrigin));
  host.Host("RemoveFromPermList", Texts({kPageOrigin, "blacklisted"}),
            Equals(Parse(Texts({kPageOrigin, "blacklisted"}))));
  host.Host("RemoveFromPermList", Texts({kPageOrigin, "whitelisted"}),
            Equals(Parse(Texts({kPageOrigin, "whitelisted"}))));
  host.Host("IsDomainBlocked", "[]", Equals(0));
  return host.Settle();
}

bool LeaveTicking(SoakHost& host, const Package& example, int ticks) {
  const int32_t id = CreateInstance(host, example, kExampleCss, kExampleJs);
  if (id < 0) return false;
  host.Page("RegisterAddOnEvent", IdAndName(id, "tick"), Equals(Parse("[true]")));
  if (!host.Settle()) return false;
  for (int tick = 1; tick <= ticks; ++tick) host.ledger().AllowMessage(TickKey(tick, ticks));
  const std::string start =
      "{\"count\":" + std::to_string(ticks) + ",\"intervalMs\":" + std::to_string(kLeftTickIntervalMs) + "}";
  host.Page("InvokeAddOnInstance", InvokeParams(id, "startTicks", start),
            Equals(Parse("{\"started\":" + std::to_string(ticks) + "}")));
  return host.Settle();
}

}  // namespace vorneth::soak
