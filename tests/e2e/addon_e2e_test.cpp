// Add-on instances through the built host: the probe add-on of
// tests/addons/libraries in its variants, packed by vorneth-pack, installed
// from "file" URLs, then created, driven and disposed as a page does. The
// probe writes one line per entry-point call to the file that
// VORNETH_PROBE_LOG names, which shows what reached the library. The suite
// is AddonTest, so that a run of a Windows host can pick it by name; such a
// host takes its add-ons from VORNETH_WINDOWS_TEST_ADDONS.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host_process.h"
#include "install_fixture.h"
#include "json/json_conversions.h"
#include "json/styled_writer.h"
#include "support/file_bytes.h"
#include "support/json_print.h"
#include "support/scratch_dir.h"
#include "support/wait_until.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

constexpr milliseconds kHostExit{120000};
constexpr char kVersion[] = "1.0";
constexpr char kCss[] = R"({"css":".probe{color:red}","instanceId":0,"portId":"p","rtype":"Vorneth-CSS"})";
constexpr char kJs[] = R"({"instanceId":0,"js":"probe.js();","portId":"p","rtype":"Vorneth-JS"})";

// The folder of the probe's variants built for the host under test.
std::string AddOnsRoot() {
  if (HostLauncher().empty()) return VORNETH_TEST_ADDONS_DIR;
  const char* root = getenv("VORNETH_WINDOWS_TEST_ADDONS");
  return root != nullptr ? root : "";
}

// The regular files directly inside `folder`, as they are packed.
Files FolderFiles(const std::string& folder) {
  Files files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (fs::is_regular_file(it->symlink_status())) files[it->path().filename().string()] = ReadBytes(it->path());
  }
  return files;
}

std::string Quoted(const std::string& text) {
  return StyledWriter().write(Json::Value(text));
}

std::string Uuid(const std::string& name) {
  return "{" + name + "}";
}

// Page requests, all on port "p".
std::string CreateRequest(const std::string& name, const std::string& callbackId) {
  return PageCommand("CreateAddOnInstance", "[" + Quoted(Uuid(name)) + ",\"1.0\"]", callbackId, "p");
}
std::string DisposeRequest(int id, const std::string& callbackId) {
  return PageCommand("DisposeAddOnInstance", "[" + std::to_string(id) + ",\"\",\"\"]", callbackId, "p");
}
std::string InvokeRequest(int id, const std::string& command, const std::string& params,
                          const std::string& callbackId) {
  return PageCommand("InvokeAddOnInstance",
                     "[" + std::to_string(id) + "," + Quoted(command) + "," + Quoted(params) + "]", callbackId, "p");
}
// `which` is "RegisterAddOnEvent" or "UnregisterAddOnEvent".
std::string EventRequest(const std::string& which, int id, const std::string& name, const std::string& callbackId) {
  return PageCommand(which, "[" + std::to_string(id) + "," + Quoted(name) + "]", callbackId, "p");
}
std::string RaiseParams(const std::string& name, int count, const std::string& data) {
  return R"({"name":")" + name + R"(","count":)" + std::to_string(count) + R"(,"data":")" + data + R"("})";
}

// The callback identifiers of `allowed` that are not in `answered`.
std::string Unanswered(const std::map<std::string, std::vector<Json::Value>>& allowed,
                       const std::set<std::string>& answered) {
  std::string missing;
  for (const auto& [callbackId, answers] : allowed) {
    if (answered.count(callbackId) == 0) missing += " " + callbackId;
  }
  return missing;
}

class AddonTest : public InstallFixture {
 protected:
  AddonTest() { m_host.options().environment.emplace_back("VORNETH_PROBE_LOG", HostSidePath(ProbeLog())); }

  void SetUp() override {
    InstallFixture::SetUp();
    ASSERT_FALSE(AddOnsRoot().empty()) << "VORNETH_WINDOWS_TEST_ADDONS names no add-on folder";
  }

  // A path of this machine as the host under test names it (a Windows host
  // reaches this system's root through its Z: drive).
  static std::string HostSidePath(const std::string& path) { return HostLauncher().empty() ? path : "Z:" + path; }
  std::string ProbeLog() const { return m_root / "probe.log"; }
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadBytes(ProbeLog()));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) lines.push_back(line);
    }
    return lines;
  }
  bool Logged(const std::string& line) const {
    const std::vector<std::string> lines = LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  // Packs variant `variant` of the probe as add-on Uuid(`name`) 1.0 and
  // installs it.
  void InstallVariant(const std::string& variant, const std::string& name) {
    const Files files = FolderFiles(AddOnsRoot() + "/" + variant);
    ASSERT_FALSE(files.empty()) << "no built variant " << variant << " in " << AddOnsRoot();
    InstallFiles(name, files);
  }
  void InstallFiles(const std::string& name, const Files& files) {
    PackFolder(name + ".pkg", Uuid(name), kVersion, files, {"--name", "Probe " + name});
    const std::vector<Json::Value> frames =
        Install(BaseUrl(), "[" + Descriptor(Uuid(name), kVersion, name + ".pkg") + "]", "install");
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(frames.back()["response"], Parse("[200]")) << name;
  }

  // onInitPath's argument for add-on Uuid(`name`): its installation folder
  // with the closing separator, as the host under test names it.
  void ExpectInstallFolder(const Json::Value& path, const std::string& name) const {
    if (HostLauncher().empty()) {
      EXPECT_EQ(path, AddOnFolder(Uuid(name), kVersion) + "/");
    } else {
      EXPECT_TRUE(path.asString().ends_with("\\addons\\" + Uuid(name) + "\\1.0\\")) << path.asString();
    }
  }

  std::string NextId() { return "cb" + std::to_string(++m_calls); }

  // Sends `request` and returns the frames up to and including the answer
  // that carries `callbackId`.
  std::vector<Json::Value> Exchange(const std::string& request, const std::string& callbackId) {
    std::vector<Json::Value> frames;
    EXPECT_TRUE(m_host.Send(request)) << m_host.error();
    for (int i = 0; i < kMaxFrames; ++i) {
      std::optional<Json::Value> frame = m_host.ReadJson(kAnswer);
      if (!frame) {
        ADD_FAILURE() << "no answer to " << request << ": " << m_host.error();
        break;
      }
      frames.push_back(std::move(*frame));
      if (IsString(Member(frames.back(), "callbackId"), callbackId)) break;
    }
    return frames;
  }
  // The "response" of the answer to `request`, which must come alone.
  Json::Value Response(const std::string& request, const std::string& callbackId) {
    const std::vector<Json::Value> frames = Exchange(request, callbackId);
    EXPECT_EQ(frames.size(), 1u) << "frames besides the answer to " << request;
    if (frames.empty()) return Json::Value();
    EXPECT_EQ(frames.back()["rtype"], "Vorneth");
    EXPECT_EQ(frames.back()["instanceId"], 0);
    return frames.back()["response"];
  }

  // A new instance of Uuid(`name`): its add-on id, or -1 (a test failure)
  // when the creation failed. The style and script frames go to `before`.
  int CreateInstance(const std::string& name, std::vector<Json::Value>* before = nullptr) {
    const std::string callbackId = NextId();
    std::vector<Json::Value> frames = Exchange(CreateRequest(name, callbackId), callbackId);
    if (frames.empty()) return -1;
    const Json::Value response = frames.back()["response"];
    frames.pop_back();
    if (before != nullptr) *before = frames;
    if (!response.isArray() || response.size() != 1 || !response[0].isInt()) {
      ADD_FAILURE() << "creation of " << name << " answered " << response.toStyledString();
      return -1;
    }
    return response[0].asInt();
  }
  // The answer to the creation of an instance of Uuid(`name`), which must
  // come alone.
  Json::Value CreateResponse(const std::string& name) {
    const std::string callbackId = NextId();
    return Response(CreateRequest(name, callbackId), callbackId);
  }
  Json::Value Invoke(int id, const std::string& command, const std::string& params = "") {
    const std::string callbackId = NextId();
    return Response(InvokeRequest(id, command, params, callbackId), callbackId);
  }
  Json::Value Event(const std::string& which, int id, const std::string& name) {
    const std::string callbackId = NextId();
    return Response(EventRequest(which, id, name, callbackId), callbackId);
  }
  Json::Value Dispose(int id) {
    const std::string callbackId = NextId();
    return Response(DisposeRequest(id, callbackId), callbackId);
  }
  Json::Value HostResponse(const std::string& command) {
    const std::string callbackId = NextId();
    const std::vector<Json::Value> frames = Exchange(HostCommand(command, "[]", callbackId, "p"), callbackId);
    EXPECT_EQ(frames.size(), 1u);
    return frames.empty() ? Json::Value() : frames.back();
  }

  int m_calls = 0;
};

const Json::Value kTrue = Parse("[true]");
const Json::Value kError = Parse(R"(["Error"])");

TEST_F(AddonTest, LifeOfAnInstanceInTheFramesThePageReceives) {
  InstallVariant("probe", "probe");
  // Style, script, then the answer with the new id; every frame exactly.
  ASSERT_TRUE(m_host.Send(CreateRequest("probe", "c")));
  EXPECT_EQ(m_host.ReadFrame(kAnswer), kCss);
  EXPECT_EQ(m_host.ReadFrame(kAnswer), kJs);
  EXPECT_EQ(m_host.ReadFrame(kAnswer),
            R"({"callbackId":"c","instanceId":0,"portId":"p","response":[0],"rtype":"Vorneth"})");

  ASSERT_TRUE(m_host.Send(InvokeRequest(0, "echo", R"({"b":[1,"x"],"a":null})", "i")));
  EXPECT_EQ(m_host.ReadFrame(kAnswer),
            R"({"callbackId":"i","instanceId":0,"portId":"p","response":{"a":null,"b":[1, "x"]},"rtype":"Vorneth"})");

  const Json::Value info = Invoke(0, "info");
  EXPECT_EQ(info["instance"], 7);
  EXPECT_EQ(info["creations"], 1);
  EXPECT_EQ(info["initBeforeCreate"], true);
  ExpectInstallFolder(info["initPath"], "probe");

  ASSERT_TRUE(m_host.Send(EventRequest("RegisterAddOnEvent", 0, "tick", "r")));
  EXPECT_EQ(m_host.ReadFrame(kAnswer),
            R"({"callbackId":"r","instanceId":0,"portId":"p","response":[true],"rtype":"Vorneth"})");
  EXPECT_EQ(Event("UnregisterAddOnEvent", 0, "tick"), kTrue);

  ASSERT_TRUE(m_host.Send(DisposeRequest(0, "d")));
  EXPECT_EQ(m_host.ReadFrame(kAnswer),
            R"({"callbackId":"d","instanceId":0,"portId":"p","response":[true],"rtype":"Vorneth"})");
  EXPECT_EQ(Invoke(0, "echo", "1"), kError);
  EXPECT_EQ(Dispose(0), kError);

  // The library saw each call once, in the page's order.
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"initPath " + info["initPath"].asString(), "create 7", "invoke 7 echo",
                                      "invoke 7 info", "register 7 tick", "unregister 7 tick", "dispose 7"}));
}

TEST_F(AddonTest, TwoInstancesShareOneLoadedLibraryAndIdsAreNeverReused) {
  InstallVariant("probe", "probe");
  ASSERT_EQ(CreateInstance("probe"), 0);
  ASSERT_EQ(CreateInstance("probe"), 1);
  const Json::Value first = Invoke(0, "info");
  const Json::Value second = Invoke(1, "info");
  EXPECT_EQ(first["instance"], 7);
  EXPECT_EQ(second["instance"], 8);
  // Two onCreate calls on one load, with one host context.
  EXPECT_EQ(second["creations"], 2);
  EXPECT_EQ(first["sameContext"], true);
  EXPECT_EQ(second["sameContext"], true);
  // The instance values stay the library's: ids address the right one.
  EXPECT_EQ(Invoke(1, "echo", "[1]"), Parse("[1]"));
  EXPECT_TRUE(Logged("invoke 8 echo"));

  EXPECT_EQ(Dispose(0), kTrue);
  EXPECT_EQ(CreateInstance("probe"), 2);
  EXPECT_EQ(Invoke(0, "info"), kError);
  const Json::Value third = Invoke(2, "info");
  EXPECT_EQ(third["instance"], 9);
  EXPECT_EQ(third["creations"], 3);
  EXPECT_EQ(third["sameContext"], true);
  EXPECT_EQ(Invoke(1, "info")["instance"], 8);
}

TEST_F(AddonTest, EveryCreationFailureAnswersItsCode) {
  InstallVariant("probe", "probe");
  InstallVariant("probe", "changed");
  InstallVariant("create_fails", "create_fails");
  InstallVariant("no_create", "no_create");
  InstallFiles("no_library", {{"readme.txt", "a folder without its library\n"}});

  // Refused before an id is given out: the table does not grow.
  EXPECT_EQ(CreateResponse("absent"), Parse(R"(["Error",-5])"));
  EXPECT_EQ(CreateInstanceError(Uuid("probe"), "2.0"), -5);
  const std::string library =
      AddOnFolder(Uuid("changed"), kVersion) + "/" + (HostLauncher().empty() ? "addon.so" : "addon.dll");
  ASSERT_TRUE(fs::exists(library));
  WriteBytes(library, ReadBytes(library) + "x");
  ClearTrace();
  EXPECT_EQ(CreateResponse("changed"), Parse(R"(["Error",-4])"));
  if (TracesAreRecorded()) {
    EXPECT_TRUE(HostTraced(kCheckFailed));
  }

  // Refused by the add-on worker: ids 0, 1 and 2 stay failed.
  ClearTrace();
  EXPECT_EQ(CreateResponse("no_library"), Parse(R"(["Error",-6])"));
  if (TracesAreRecorded()) {
    EXPECT_TRUE(HostTraced("Vorneth::CreateAddOnInstance - Addon library load failed!!!"));
  }
  EXPECT_EQ(CreateResponse("create_fails"), Parse(R"(["Error",-7])"));
  EXPECT_EQ(CreateResponse("no_create"), Parse(R"(["Error",-7])"));
  if (TracesAreRecorded()) {
    EXPECT_TRUE(HostTraced("Vorneth::CreateAddOnInstance - Create addon instance failed!!!"));
  }

  // The library without onCreate stays loaded and answers nothing more; a
  // good add-on after the failures gets the next id, and the failed
  // library does not block the next load.
  EXPECT_EQ(CreateInstance("probe"), 3);
  EXPECT_EQ(Invoke(3, "echo", "\"ok\""), "ok");
  for (int failed = 0; failed < 3; ++failed) EXPECT_EQ(Invoke(failed, "echo", "1"), kError) << failed;
  EXPECT_EQ(HostResponse("GetActiveAddOnList")["response"],
            Parse(R"([{"name":"Probe probe","uuid":"{probe}","version":"1.0"}])"));
}

TEST_F(AddonTest, MissingEntryPointsAreNeverCalled) {
  InstallVariant("minimal", "minimal");
  InstallVariant("no_invoke", "no_invoke");
  InstallVariant("js_only", "js_only");

  // Without style and script the answer comes alone; without onDispose the
  // disposal still answers.
  std::vector<Json::Value> before;
  ASSERT_EQ(CreateInstance("minimal", &before), 0);
  EXPECT_TRUE(before.empty());
  EXPECT_EQ(Invoke(0, "echo", "[2]"), Parse("[2]"));
  ClearTrace();
  EXPECT_EQ(Dispose(0), kTrue);
  if (TracesAreRecorded()) {
    EXPECT_TRUE(HostTraced("onDispose method not found"));
  }
  EXPECT_EQ(Invoke(0, "echo", "[2]"), kError);

  ASSERT_EQ(CreateInstance("no_invoke", &before), 1);
  ASSERT_EQ(before.size(), 2u);
  EXPECT_EQ(before[0]["rtype"], "Vorneth-CSS");
  EXPECT_EQ(before[1]["rtype"], "Vorneth-JS");
  EXPECT_EQ(Invoke(1, "echo", "[3]"), kError);
  EXPECT_EQ(Event("RegisterAddOnEvent", 1, "tick"), kError);
  EXPECT_EQ(Event("UnregisterAddOnEvent", 1, "tick"), kError);
  EXPECT_EQ(Dispose(1), kTrue);

  // A null style sends no style frame.
  ASSERT_TRUE(m_host.Send(CreateRequest("js_only", "j")));
  EXPECT_EQ(m_host.ReadFrame(kAnswer), kJs);
  EXPECT_EQ(m_host.ReadFrame(kAnswer),
            R"({"callbackId":"j","instanceId":0,"portId":"p","response":[2],"rtype":"Vorneth"})");

  // What reached the libraries, each with instance 7 of its own: only the
  // entry points they export, and nothing after a refusal.
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"create 7", "invoke 7 echo", "create 7", "dispose 7"}));
  EXPECT_TRUE(lines[4].starts_with("initPath ")) << lines[4];
  EXPECT_EQ(lines[5], "create 7");
}

// An exception that an add-on lets out of an entry point fails the command,
// which is answered, and the instance goes on.
TEST_F(AddonTest, AnExceptionFromTheAddOnAnswersError) {
  if (!HostLauncher().empty()) GTEST_SKIP() << "the throwing add-on is built for Linux only";
  InstallVariant("throwing", "throwing");
  ASSERT_EQ(CreateInstance("throwing"), 0);
  EXPECT_EQ(Invoke(0, "throw", "{}"), kError);
  EXPECT_EQ(Invoke(0, "other", "{}"), Parse(R"({"ok":true})"));
  EXPECT_EQ(Dispose(0), kTrue);
}

TEST_F(AddonTest, InvocationAnswersAreTheAddOnsParsedDocument) {
  InstallVariant("probe", "probe");
  ASSERT_EQ(CreateInstance("probe"), 0);
  const std::string object = R"({"list":[1,2.5,"three",{"x":null}],"nested":{"t":true,"u":"\u00e9\"\\"}})";
  EXPECT_EQ(Invoke(0, "echo", object), Parse(object));
  EXPECT_EQ(Invoke(0, "echo", "[1,\"two\"]"), Parse("[1,\"two\"]"));
  EXPECT_EQ(Invoke(0, "echo", "\"text\""), "text");
  EXPECT_EQ(Invoke(0, "echo", "42"), 42);
  // An empty text and a null result are both null.
  for (const char* command : {"empty", "null"}) {
    const std::string callbackId = NextId();
    const std::vector<Json::Value> frames = Exchange(InvokeRequest(0, command, "", callbackId), callbackId);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].isMember("response")) << command;
    EXPECT_TRUE(frames[0]["response"].isNull()) << command;
  }
  // A damaged document: whatever the parser built from it, not null.
  Json::Value built;
  EXPECT_FALSE(ParseJson(R"({"a":1,)", built));
  ASSERT_FALSE(built.isNull());
  EXPECT_EQ(Invoke(0, "broken"), built);
  EXPECT_EQ(Invoke(0, "anything else"), Parse(R"({"unknown":"anything else"})"));

  // An answer the browser would refuse, and which would close its channel,
  // is replaced by an error; the next answer comes as usual.
  const std::string huge = "\"" + std::string(size_t{1} << 20, 'h') + "\"";
  EXPECT_EQ(Invoke(0, "echo", huge), Parse(R"(["Error", -9])"));
  EXPECT_EQ(Invoke(0, "echo", "[6]"), Parse("[6]"));
}

TEST_F(AddonTest, ReservedNamesAndRefusedRegistrationsAnswerError) {
  InstallVariant("probe", "probe");
  ASSERT_EQ(CreateInstance("probe"), 0);
  for (const char* name :
       {"CreateAddOnInstance", "DisposeAddOnInstance", "RegisterAddOnEvent", "UnregisterAddOnEvent"}) {
    EXPECT_EQ(Invoke(0, name, "[0,\"x\"]"), kError) << name;
  }
  EXPECT_EQ(Event("RegisterAddOnEvent", 0, "refuse"), kError);
  EXPECT_EQ(Event("UnregisterAddOnEvent", 0, "refuse"), kError);
  EXPECT_EQ(Event("RegisterAddOnEvent", 0, "Refuse"), kTrue);
  EXPECT_EQ(Event("UnregisterAddOnEvent", 0, "other"), kTrue);
  // The instance is still the same live one, and the reserved names never
  // reached it: neither as commands nor as internal work.
  EXPECT_EQ(Invoke(0, "info")["instance"], 7);
  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()),
            (std::vector<std::string>{"create 7", "register 7 refuse", "unregister 7 refuse", "register 7 Refuse",
                                      "unregister 7 other", "invoke 7 info"}));
}

TEST_F(AddonTest, CommandsForIdsThatAreNotLiveAreRefused) {
  InstallVariant("probe", "probe");
  InstallVariant("create_fails", "create_fails");
  ASSERT_EQ(CreateInstance("probe"), 0);
  EXPECT_EQ(CreateResponse("create_fails"), Parse(R"(["Error",-7])"));
  EXPECT_EQ(Dispose(0), kTrue);
  const std::vector<std::string> logged = LogLines();

  // -1, the table's length, a disposed id and a failed id.
  ClearTrace();
  for (int id : {-1, 2, 0, 1}) {
    EXPECT_EQ(Invoke(id, "echo", "1"), kError) << id;
    EXPECT_EQ(Event("RegisterAddOnEvent", id, "tick"), kError) << id;
    EXPECT_EQ(Event("UnregisterAddOnEvent", id, "tick"), kError) << id;
    EXPECT_EQ(Dispose(id), kError) << id;
  }
  if (TracesAreRecorded()) {
    EXPECT_TRUE(HostTraced("Vorneth::InvokeAddOnInstance addonId checks failed!"));
  }
  EXPECT_EQ(LogLines(), logged);
  // The ids stay unused: the next instance gets 2.
  EXPECT_EQ(CreateInstance("probe"), 2);
}

// Commands that found the instance live but queue behind its disposal: the
// worker ends after the disposal and never takes them. Each is still
// answered, and the disposal returns.
TEST_F(AddonTest, CommandsQueuedBehindADisposalAreAnsweredError) {
  InstallVariant("probe", "probe");
  ASSERT_EQ(CreateInstance("probe"), 0);
  // The worker is busy, so what follows waits in its queue.
  ASSERT_TRUE(m_host.Send(InvokeRequest(0, "sleep", "300", "sleep")));
  ASSERT_TRUE(WaitUntil([&] { return Logged("invoke 7 sleep"); }));
  std::string requests = EncodeFrame(DisposeRequest(0, "d"));
  for (int n = 0; n < 4; ++n) requests += EncodeFrame(InvokeRequest(0, "echo", "[1]", "e" + std::to_string(n)));
  ASSERT_TRUE(m_host.SendRaw(requests));
  std::map<std::string, std::vector<Json::Value>> allowed = {{"sleep", {Parse(R"({"slept":300})")}}, {"d", {kTrue}}};
  for (int n = 0; n < 4; ++n) allowed["e" + std::to_string(n)] = {Parse("[1]"), kError};
  std::set<std::string> answered;
  for (size_t i = 0; i < allowed.size() && answered.size() < allowed.size(); ++i) {
    const std::optional<Json::Value> frame = m_host.ReadJson(kAnswer);
    ASSERT_TRUE(frame.has_value()) << "no answer to" << Unanswered(allowed, answered);
    const std::string callbackId = (*frame)["callbackId"].asString();
    ASSERT_EQ(allowed.count(callbackId), 1u) << callbackId;
    EXPECT_TRUE(answered.insert(callbackId).second) << callbackId;
    const std::vector<Json::Value>& answers = allowed[callbackId];
    EXPECT_NE(std::find(answers.begin(), answers.end(), (*frame)["response"]), answers.end()) << callbackId;
  }
  // The page goes on: the dispatch is not stuck.
  EXPECT_EQ(CreateInstance("probe"), 1);
}

TEST_F(AddonTest, EventsFromTheAddOnsOwnThreadArriveWholeAndInOrder) {
  InstallVariant("probe", "probe");
  ASSERT_EQ(CreateInstance("probe"), 0);
  ASSERT_EQ(CreateInstance("probe"), 1);
  constexpr int kEvents = 300;
  // A long name, so that frames are large and a torn one would show.
  const std::string name = "tick" + std::string(700, 'k');
  const std::string data = "payload";
  const std::map<std::string, Json::Value> expected = {
      {"raise", Parse(R"({"started":300})")}, {"sleep", Parse(R"({"slept":300})")}, {"echo", Parse("[5]")}};
  int events = 0;
  std::set<std::string> answered;
  // Reads until `answers` answers have come and, with `all`, every event.
  auto readUntil = [&](size_t answers, bool all) {
    for (int i = 0; i < kEvents + 10 && (answered.size() < answers || (all && events < kEvents)); ++i) {
      const std::optional<Json::Value> frame = m_host.ReadJson(kAnswer);
      ASSERT_TRUE(frame.has_value()) << "after " << events << " events: " << m_host.error();
      if ((*frame)["rtype"] == "Vorneth-E") {
        EXPECT_EQ((*frame)["event"], name);
        EXPECT_EQ((*frame)["instanceId"], 0);
        EXPECT_FALSE(frame->isMember("callbackId"));
        ASSERT_EQ((*frame)["response"].asString(), data + "#" + std::to_string(events)) << "out of order or torn";
        ++events;
      } else {
        const std::string callbackId = (*frame)["callbackId"].asString();
        EXPECT_TRUE(answered.insert(callbackId).second) << callbackId;
        ASSERT_EQ(expected.count(callbackId), 1u) << callbackId;
        EXPECT_EQ((*frame)["response"], expected.at(callbackId)) << callbackId;
      }
    }
  };
  ASSERT_TRUE(m_host.Send(InvokeRequest(0, "raise", RaiseParams(name, kEvents, data), "raise")));
  readUntil(1, false);
  ASSERT_FALSE(HasFatalFailure());
  // The add-on's thread goes on raising while both workers run commands.
  ASSERT_TRUE(m_host.Send(InvokeRequest(0, "sleep", "300", "sleep")));
  ASSERT_TRUE(m_host.Send(InvokeRequest(1, "echo", "[5]", "echo")));
  readUntil(3, true);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(events, kEvents);
  EXPECT_EQ(answered, (std::set<std::string>{"raise", "sleep", "echo"}));
  EXPECT_EQ(Invoke(0, "join"), Parse(R"({"joined":true})"));
  EXPECT_EQ(m_host.partial_bytes(), 0u);

  // Raised on the instance's own worker: every event before the answer.
  const std::vector<Json::Value> frames =
      Exchange(InvokeRequest(1, "raiseHere", RaiseParams("here", 3, "h"), "h"), "h");
  ASSERT_EQ(frames.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(frames[i], Parse(R"({"event":"here","instanceId":0,"portId":"p","response":"h#)" + std::to_string(i) +
                               R"(","rtype":"Vorneth-E"})"));
  }
  EXPECT_EQ(frames[3]["response"], Parse(R"({"raised":3})"));
}

TEST_F(AddonTest, SecureDataPassesBetweenTwoInstances) {
  InstallVariant("probe", "probe");
  ASSERT_EQ(CreateInstance("probe"), 0);
  ASSERT_EQ(CreateInstance("probe"), 1);
  const Json::Value stored = Invoke(0, "setSecure", "a secret");
  EXPECT_EQ(stored, Parse(R"({"handle":"0"})"));
  const std::string handle = stored["handle"].asString();
  EXPECT_EQ(Invoke(1, "getSecure", handle), Parse(R"({"data":"a secret"})"));
  // The reader acknowledged it: the datum is gone, for either instance.
  EXPECT_EQ(Invoke(1, "getSecure", handle), Parse(R"({"data":null})"));
  EXPECT_EQ(Invoke(0, "getSecure", handle), Parse(R"({"data":null})"));
  EXPECT_EQ(Invoke(0, "ackSet", handle), Parse(R"({"acked":true})"));
  EXPECT_EQ(Invoke(0, "ackSet", handle), Parse(R"({"acked":true})"));
  // Handles are never reused.
  EXPECT_EQ(Invoke(1, "setSecure", "another"), Parse(R"({"handle":"1"})"));
  EXPECT_EQ(Invoke(0, "getSecure", "1"), Parse(R"({"data":"another"})"));
}

TEST_F(AddonTest, TheAddOnSeesThePageOriginAndTheHostListsItsInstances) {
  InstallVariant("probe", "probe");
  InstallVariant("js_only", "js_only");
  EXPECT_FALSE(HostResponse("GetActiveAddOnList").isMember("response"));
  ASSERT_EQ(CreateInstance("probe"), 0);
  EXPECT_EQ(Invoke(0, "domain"), Parse(std::string(R"({"domain":")") + kPageOrigin + "\"}"));
  EXPECT_EQ(HostResponse("GetDomain")["response"], kPageOrigin);
  const Json::Value list = HostResponse("GetActiveAddOnList");
  EXPECT_EQ(list["rtype"], "Vorneth-I");
  EXPECT_EQ(list["response"], Parse(R"([{"name":"Probe probe","uuid":"{probe}","version":"1.0"}])"));
  // The library-directory lock, taken and given back by the add-on, lets
  // the next creation load its library.
  EXPECT_EQ(Invoke(0, "lockDll"), Parse(R"({"locked":true})"));
  ASSERT_EQ(CreateInstance("js_only"), 1);
  ASSERT_EQ(CreateInstance("probe"), 2);
  EXPECT_EQ(HostResponse("GetActiveAddOnList")["response"],
            Parse(R"([{"name":"Probe probe","uuid":"{probe}","version":"1.0"},)"
                  R"({"name":"Probe js_only","uuid":"{js_only}","version":"1.0"}])"));
  EXPECT_EQ(Dispose(0), kTrue);
  EXPECT_EQ(Dispose(1), kTrue);
  EXPECT_EQ(Dispose(2), kTrue);
  EXPECT_FALSE(HostResponse("GetActiveAddOnList").isMember("response"));
}

TEST_F(AddonTest, EndOfInputDisposesEveryLiveInstanceInIdOrder) {
  InstallVariant("probe", "probe");
  InstallVariant("create_fails", "create_fails");
  ASSERT_EQ(CreateInstance("probe"), 0);
  EXPECT_EQ(CreateResponse("create_fails"), Parse(R"(["Error",-7])"));
  ASSERT_EQ(CreateInstance("probe"), 2);
  ASSERT_EQ(CreateInstance("probe"), 3);
  EXPECT_EQ(Dispose(2), kTrue);
  const size_t before = LogLines().size();
  m_host.CloseInput();
  // Nothing more reaches the page, and the host ends by itself.
  EXPECT_EQ(m_host.ReadFrame(kHostExit), std::nullopt);
  EXPECT_TRUE(m_host.output_ended());
  EXPECT_EQ(m_host.WaitExit(kHostExit), 0);
  const std::vector<std::string> lines = LogLines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + std::min(before, lines.size()), lines.end()),
            (std::vector<std::string>{"dispose 7", "dispose 9"}));
}

TEST_F(AddonTest, AnswersWithAnEmptyCallbackIdAreSentNowhere) {
  InstallVariant("probe", "probe");
  // The creation runs completely: style and script, but no answer.
  ASSERT_TRUE(m_host.Send(CreateRequest("probe", "")));
  EXPECT_EQ(m_host.ReadFrame(kAnswer), kCss);
  EXPECT_EQ(m_host.ReadFrame(kAnswer), kJs);
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
  EXPECT_EQ(Invoke(0, "info")["instance"], 7);

  ASSERT_TRUE(m_host.Send(InvokeRequest(0, "echo", "1", "")));
  ASSERT_TRUE(m_host.Send(EventRequest("RegisterAddOnEvent", 0, "tick", "")));
  EXPECT_TRUE(WaitUntil([&] { return Logged("invoke 7 echo") && Logged("register 7 tick"); }));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));

  ASSERT_TRUE(m_host.Send(DisposeRequest(0, "")));
  EXPECT_TRUE(WaitUntil([&] { return Logged("dispose 7"); }));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
  EXPECT_EQ(Invoke(0, "info"), kError);
}

TEST_F(AddonTest, DependentLibrariesComeFromTheAddOnsFolderNotTheCurrentOne) {
  InstallVariant("dependency", "dependency");
  // The decoy, a library of the same name, waits in the host's current
  // folder.
  const std::string current = m_root / "current";
  fs::create_directory(current);
  const Files decoy = FolderFiles(AddOnsRoot() + "/dependency_decoy");
  ASSERT_FALSE(decoy.empty());
  for (const auto& [name, content] : decoy) WriteBytes(current + "/" + name, content);
  m_host.options().working_directory = current;
  ASSERT_TRUE(m_host.Start()) << m_host.error();
  ASSERT_TRUE(m_host.Send(Create(kPageUrl, "1.0", "p")));

  ASSERT_EQ(CreateInstance("dependency"), 0);
  EXPECT_EQ(Invoke(0, "dep"), Parse(R"({"dep":"addon-folder"})"));
}

// Several instances with many commands in flight at once, events raised
// from the add-on's threads meanwhile, disposals racing invocations of the
// same instances, and the end of input while commands are still queued.
// The thread-sanitizer build makes this the race check of the runtime.
TEST_F(AddonTest, ManyCommandsInFlightWhileDisposalsAndEndOfInputRaceThem) {
  InstallVariant("probe", "probe");
  constexpr int kInstances = 4;
  constexpr int kInvocations = 40;
  constexpr int kEvents = 50;
  for (int i = 0; i < kInstances; ++i) ASSERT_EQ(CreateInstance("probe"), i);

  // Instances 2 and 3 are disposed halfway through their invocations.
  std::map<std::string, std::vector<Json::Value>> allowed;  // callbackId -> the answers it may get
  std::string requests;
  for (int i = 0; i < kInstances; ++i) {
    const std::string callbackId = "r" + std::to_string(i);
    requests +=
        EncodeFrame(InvokeRequest(i, "raise", RaiseParams("burst" + std::to_string(i), kEvents, "d"), callbackId));
    allowed[callbackId] = {Parse(R"({"started":50})")};
    if (i >= 2) allowed[callbackId].push_back(kError);
  }
  for (int n = 0; n < kInvocations; ++n) {
    for (int i = 0; i < kInstances; ++i) {
      const std::string callbackId = "e" + std::to_string(i) + "." + std::to_string(n);
      const std::string params = R"({"i":)" + std::to_string(i) + R"(,"n":)" + std::to_string(n) + "}";
      requests += EncodeFrame(InvokeRequest(i, "echo", params, callbackId));
      allowed[callbackId] = {Parse(params)};
      if (i >= 2) allowed[callbackId].push_back(kError);
    }
    if (n == kInvocations / 2) {
      for (int i = 2; i < kInstances; ++i) {
        requests += EncodeFrame(DisposeRequest(i, "d" + std::to_string(i)));
        allowed["d" + std::to_string(i)] = {kTrue};
      }
    }
  }
  ASSERT_TRUE(m_host.SendRaw(requests)) << m_host.error();

  std::map<std::string, int> events;    // event name -> how many arrived
  std::set<std::string> disposedBurst;  // events of disposed instances after their disposal
  std::set<std::string> answered;
  const size_t budget = allowed.size() + kInstances * kEvents + 2;
  auto readAnswers = [&] {
    for (size_t i = 0; i < budget && answered.size() < allowed.size(); ++i) {
      const std::optional<Json::Value> frame = m_host.ReadJson(kAnswer);
      ASSERT_TRUE(frame.has_value()) << "no answer to" << Unanswered(allowed, answered) << m_host.error();
      if ((*frame)["rtype"] == "Vorneth-E") {
        const std::string name = (*frame)["event"].asString();
        EXPECT_EQ((*frame)["response"], "d#" + std::to_string(events[name]++)) << name;
        if (answered.count("d" + name.substr(5)) != 0) disposedBurst.insert(name);
        continue;
      }
      const std::string callbackId = (*frame)["callbackId"].asString();
      ASSERT_TRUE(allowed.count(callbackId) != 0) << callbackId;
      EXPECT_TRUE(answered.insert(callbackId).second) << "answered twice: " << callbackId;
      const std::vector<Json::Value>& answers = allowed[callbackId];
      EXPECT_NE(std::find(answers.begin(), answers.end(), (*frame)["response"]), answers.end())
          << callbackId << " answered " << (*frame)["response"].toStyledString();
    }
    EXPECT_EQ(answered.size(), allowed.size());
  };
  readAnswers();
  if (HasFatalFailure()) return;
  // Joined, the live instances' threads have raised every event.
  for (int i = 0; i < 2; ++i) {
    const std::string callbackId = "j" + std::to_string(i);
    ASSERT_TRUE(m_host.Send(InvokeRequest(i, "join", "", callbackId)));
    allowed[callbackId] = {Parse(R"({"joined":true})")};
  }
  readAnswers();
  if (HasFatalFailure()) return;
  EXPECT_EQ(events["burst0"], kEvents);
  EXPECT_EQ(events["burst1"], kEvents);
  EXPECT_TRUE(disposedBurst.empty()) << "a disposed instance's thread still raised events";

  // The page goes away with commands queued and events being raised.
  requests.clear();
  for (int i = 0; i < 2; ++i) {
    requests += EncodeFrame(InvokeRequest(i, "raise", RaiseParams("late", kEvents, "d"), "late-r" + std::to_string(i)));
    for (int n = 0; n < kInvocations; ++n) {
      requests += EncodeFrame(InvokeRequest(i, n % 10 == 0 ? "sleep" : "echo", n % 10 == 0 ? "5" : "[0]",
                                            "late" + std::to_string(i) + "." + std::to_string(n)));
    }
  }
  requests += EncodeFrame(DisposeRequest(0, "late-d0"));
  ASSERT_TRUE(m_host.SendRaw(requests)) << m_host.error();
  m_host.CloseInput();
  std::set<std::string> late;
  for (size_t i = 0; i < 4 * budget && !m_host.output_ended(); ++i) {
    const std::optional<std::string> body = m_host.ReadFrame(kHostExit);
    if (!body) break;
    const Json::Value frame = Parse(*body);
    if (frame.isMember("callbackId")) {
      EXPECT_TRUE(late.insert(frame["callbackId"].asString()).second) << *body;
    }
  }
  EXPECT_TRUE(m_host.output_ended());
  EXPECT_EQ(m_host.partial_bytes(), 0u);
  EXPECT_EQ(m_host.WaitExit(kHostExit), 0);
}

// Sessions replaced by later "Create"s: one that holds a live instance keeps
// it working (its events and answers still reach the page, it is disposed at
// the end), while those that hold none are destroyed while the host runs.
TEST_F(AddonTest, ARetiredSessionKeepsItsInstanceWhileEmptyOnesAreFreed) {
  if (!TracesAreRecorded()) GTEST_SKIP() << "counts the host's traces";
  InstallVariant("probe", "probe");
  ASSERT_EQ(CreateInstance("probe"), 0);
  // Both raisings wait for the gate file: on the instance's own thread
  // ("t") and on its worker, which answers "h" afterwards.
  const std::string gate = m_root / "gate";
  const std::string gateParam = R"(,"gate":")" + HostSidePath(gate) + R"("})";
  constexpr int kEvents = 20;
  std::string params = RaiseParams("t", kEvents, "d");
  params.pop_back();
  EXPECT_EQ(Invoke(0, "raise", params + gateParam), Parse(R"({"started":20})"));
  params = RaiseParams("h", kEvents, "d");
  params.pop_back();
  ASSERT_TRUE(m_host.Send(InvokeRequest(0, "raiseHere", params + gateParam, "h")));

  const auto count = [&](const std::string& line) {
    const std::string trace = ReadBytes(TraceFile());
    size_t found = 0;
    for (size_t at = trace.find(line); at != std::string::npos; at = trace.find(line, at + 1)) ++found;
    return found;
  };
  const std::string loopEnded = "message\tVornethCommandWorker::ThreadMainFunction\t\tThread's main loop ended\n";
  const std::string destroyed = "enter\tVorneth::~Vorneth\t";
  ClearTrace();
  // The session with the instance and kCreates - 1 empty ones are retired.
  constexpr size_t kCreates = 12;
  for (size_t i = 0; i < kCreates; ++i) ASSERT_TRUE(m_host.Send(Create(kPageUrl, "1.0", "p")));
  ASSERT_TRUE(HostResponse("GetHostVersion").isMember("response"));
  EXPECT_TRUE(WaitUntil([&] { return count(loopEnded) >= 3 * kCreates; }))
      << count(loopEnded) << " dispatch worker loops ended";
  // The next "Create" destroys the finished sessions, not the one whose
  // instance lives (nor, perhaps, the one it replaces, still ending).
  ASSERT_TRUE(m_host.Send(Create(kPageUrl, "1.0", "p")));
  ASSERT_TRUE(HostResponse("GetHostVersion").isMember("response"));
  EXPECT_GE(count(destroyed), kCreates - 1);
  EXPECT_LE(count(destroyed), kCreates);
  EXPECT_FALSE(Logged("dispose 7"));

  // The retired instance goes on: every event of both raisings, in order,
  // and the invocation's answer.
  std::ofstream(gate).put('g');
  std::map<std::string, int> events;
  bool answered = false;
  for (int i = 0; i < 2 * kEvents + 1 && !(answered && events["t"] == kEvents); ++i) {
    const std::optional<Json::Value> frame = m_host.ReadJson(kAnswer);
    ASSERT_TRUE(frame.has_value()) << m_host.error();
    EXPECT_EQ((*frame)["instanceId"], 0);
    if ((*frame)["rtype"] == "Vorneth-E") {
      const std::string name = (*frame)["event"].asString();
      ASSERT_EQ((*frame)["response"].asString(), "d#" + std::to_string(events[name]++)) << name;
    } else {
      EXPECT_EQ((*frame)["callbackId"], "h");
      EXPECT_EQ((*frame)["response"], Parse(R"({"raised":20})"));
      EXPECT_EQ(events["h"], kEvents) << "raised on the worker before its answer";
      answered = true;
    }
  }
  EXPECT_TRUE(answered);
  EXPECT_EQ(events["t"], kEvents);
  EXPECT_EQ(events["h"], kEvents);
  // The instance lasts until the end.
  m_host.CloseInput();
  EXPECT_EQ(m_host.WaitExit(kHostExit), 0);
  EXPECT_TRUE(Logged("dispose 7"));
}

// A failed creation's worker ends once it has answered, and the host frees
// it: neither threads nor slots pile up in a page that keeps failing.
TEST_F(AddonTest, FailedCreationsGiveBackTheirWorkers) {
  if (!TracesAreRecorded()) GTEST_SKIP() << "counts the host's traces";
  InstallVariant("create_fails", "create_fails");
  InstallVariant("probe", "probe");
  const std::string loopEnded = "message\tVornethCommandWorker::ThreadMainFunction\t\tThread's main loop ended\n";
  const std::string joined = "enter\tVornethCommandWorker::Join\t";
  const auto count = [&](const std::string& line) {
    const std::string trace = ReadBytes(TraceFile());
    size_t found = 0;
    for (size_t at = trace.find(line); at != std::string::npos; at = trace.find(line, at + 1)) ++found;
    return found;
  };
  ClearTrace();
  constexpr size_t kFailures = 10;
  for (size_t i = 0; i < kFailures; ++i) {
    EXPECT_EQ(CreateResponse("create_fails"), Parse(R"(["Error",-7])"));
  }
  // Only add-on workers end here: the session's dispatch workers run on.
  EXPECT_TRUE(WaitUntil([&] { return count(loopEnded) >= kFailures; })) << count(loopEnded);
  // The next creation frees them; ids are not reused.
  EXPECT_EQ(CreateInstance("probe"), static_cast<int>(kFailures));
  EXPECT_GE(count(joined), kFailures);
  EXPECT_EQ(Dispose(0), kError) << "a failed id is not live";
  EXPECT_EQ(Invoke(static_cast<int>(kFailures), "echo", "[1]"), Parse("[1]"));
}

}  // namespace
}  // namespace vorneth::testing
