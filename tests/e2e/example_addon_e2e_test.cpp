// The SDK's example add-on (sdk/example) through the built host, as an add-on
// author would meet it: its build folder packed by vorneth-pack, installed
// from a "file" URL, then driven by a page. The suite is ExampleAddonTest.
#include <string>
#include <vector>

#include "install_fixture.h"
#include "json/styled_writer.h"

namespace vorneth::testing {
namespace {

constexpr char kUuid[] = "{example}";
constexpr char kVersion[] = "1.0";
// Frames read while waiting for one answer, at most (ticks come fast).
constexpr int kMaxEventFrames = 10000;
// Commands sent while waiting for ticks, at most.
constexpr int kMaxCommands = 64;

// Frames as compact text, for comparisons that print what differs.
std::string Texts(const std::vector<Json::Value>& frames) {
  std::string text;
  for (const Json::Value& frame : frames) text += StyledWriter().write(frame) + "\n";
  return text;
}

// The frames up to one answer: the events before it, and the answer.
struct Exchange {
  std::vector<Json::Value> m_events;
  Json::Value m_answer;
};

class ExampleAddonTest : public InstallFixture {
 protected:
  void SetUp() override {
    InstallFixture::SetUp();
    if (HasFatalFailure()) return;
    // The library in the folder is this machine's: a host run through a
    // launcher (a Windows host) could not load it.
    if (!HostLauncher().empty()) GTEST_SKIP() << "the example is built for this system's host only";
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator(VORNETH_EXAMPLE_ADDON_DIR)) {
      files[entry.path().filename().string()] = ReadBytes(entry.path().string());
    }
    ASSERT_EQ(files.size(), 1u) << "the example's folder holds the library alone";
    PackFolder("example.pkg", kUuid, kVersion, files);
    const std::vector<Json::Value> frames =
        Install(BaseUrl(), "[" + Descriptor(kUuid, kVersion, "example.pkg") + "]", "i");
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(frames.back()["response"], Parse("[200]"));
  }

  // Sends `request` and reads until the answer naming `callbackId`.
  Exchange Send(const std::string& request, const std::string& callbackId) {
    Exchange exchange;
    EXPECT_TRUE(m_host.Send(request));
    for (int i = 0; i < kMaxEventFrames; ++i) {
      const std::optional<std::string> frame = m_host.ReadFrame(kAnswer);
      if (!frame) break;
      const Json::Value value = Parse(*frame);  // const: a look-up adds no member
      if (value["callbackId"] == callbackId) {
        exchange.m_answer = value;
        return exchange;
      }
      exchange.m_events.push_back(value);
    }
    ADD_FAILURE() << "no answer to " << request;
    return exchange;
  }

  // A new instance's add-on id, after the style and the script messages;
  // -1 (and a test failure) when there is none.
  int CreateInstance() {
    const Exchange created = Send(PageCommand("CreateAddOnInstance", R"(["{example}", "1.0"])", "c", "p"), "c");
    EXPECT_EQ(Texts(created.m_events),
              Texts({Parse(R"({"css":".vorneth-example{font-family:monospace}","instanceId":0,"portId":"p",)"
                           R"("rtype":"Vorneth-CSS"})"),
                     Parse(R"({"instanceId":0,"js":"window.vornethExample={loaded:true};","portId":"p",)"
                           R"("rtype":"Vorneth-JS"})")}));
    int32_t id = -1;
    EXPECT_TRUE(created.m_answer["response"].size() == 1 && ReadInt(created.m_answer["response"][0], id))
        << created.m_answer.toStyledString();
    return id;
  }

  // The page command "InvokeAddOnInstance": `params` is the add-on's text.
  Exchange Invoke(int id, const std::string& command, const std::string& params, const std::string& callbackId = "v") {
    Json::Value list(Json::arrayValue);
    list.append(id);
    list.append(command);
    list.append(params);
    return Send(PageCommand("InvokeAddOnInstance", StyledWriter().write(list), callbackId, "p"), callbackId);
  }
  Json::Value Register(int id, const std::string& name, const char* command = "RegisterAddOnEvent") {
    return Send(PageCommand(command, "[" + std::to_string(id) + ", \"" + name + "\"]", "r", "p"), "r")
        .m_answer["response"];
  }
  Json::Value Dispose(int id) {
    const std::string params = "[" + std::to_string(id) + R"(, "{example}", "1.0"])";
    return Send(PageCommand("DisposeAddOnInstance", params, "d", "p"), "d").m_answer["response"];
  }
};

TEST_F(ExampleAddonTest, AnswersItsCommandsAsJsonAndRefusesBrokenParameters) {
  const int id = CreateInstance();
  ASSERT_GE(id, 0);
  EXPECT_EQ(id, 0);
  const Exchange sum = Invoke(id, "add", R"({"b": 2.5, "nested": {"a": 100}, "a": -1})");
  EXPECT_EQ(sum.m_answer, Parse(R"({"callbackId":"v","instanceId":0,"portId":"p","response":{"sum":1.5},)"
                                R"("rtype":"Vorneth"})"));
  EXPECT_TRUE(sum.m_events.empty());
  for (const char* broken : {R"({"a": "1", "b": 2})", R"({"a": 1})", R"([1, 2])", R"({"a": 1, "b": 2)", "",
                             R"({"a": 1e999, "b": 1})", R"({"a": 1, "b": 2} x)"}) {
    EXPECT_EQ(Invoke(id, "add", broken).m_answer["response"], Parse(R"({"error":"add needs the numbers a and b"})"))
        << broken;
  }
  EXPECT_EQ(Invoke(id, "share", R"({"text": "\ud800"})").m_answer["response"],
            Parse(R"({"error":"share needs the string text"})"));
  EXPECT_EQ(Invoke(id, "nothing", "{}").m_answer["response"], Parse(R"({"error":"unknown command"})"));

  const Json::Value about = Invoke(id, "about", "").m_answer["response"];
  EXPECT_EQ(about["domain"], kPageOrigin);
  EXPECT_EQ(about["path"], AddOnFolder(kUuid, kVersion) + "/");
  EXPECT_EQ(Dispose(id), Parse("[true]"));
}

TEST_F(ExampleAddonTest, RaisesTicksFromItsOwnThreadOnlyWhileRegistered) {
  const int id = CreateInstance();
  ASSERT_GE(id, 0);
  EXPECT_EQ(Register(id, "tick"), Parse("[true]"));
  EXPECT_EQ(Register(id, "clock"), Parse(R"(["Error"])"));
  const Exchange started = Invoke(id, "startTicks", R"({"count": 3, "intervalMs": 1})");
  EXPECT_EQ(started.m_answer["response"], Parse(R"({"started":3})"));
  // The ticks come while other commands run; they arrive whole and in order.
  std::vector<Json::Value> ticks = started.m_events;
  for (int i = 0; i < kMaxCommands && ticks.size() < 3; ++i) {
    const Exchange exchange = Invoke(id, "add", R"({"a": 1, "b": 1})", "t" + std::to_string(i));
    EXPECT_EQ(exchange.m_answer["response"], Parse(R"({"sum":2})"));
    ticks.insert(ticks.end(), exchange.m_events.begin(), exchange.m_events.end());
  }
  ASSERT_EQ(ticks.size(), 3u);
  for (int n = 1; n <= 3; ++n) {
    Json::Value tick;
    tick["event"] = "tick";
    tick["instanceId"] = 0;
    tick["portId"] = "p";
    tick["response"] = R"({"tick":)" + std::to_string(n) + R"(,"of":3})";
    tick["rtype"] = "Vorneth-E";
    EXPECT_EQ(Texts({ticks[n - 1]}), Texts({tick}));
  }

  EXPECT_EQ(Register(id, "tick", "UnregisterAddOnEvent"), Parse("[true]"));
  EXPECT_EQ(Invoke(id, "startTicks", R"({"count": 2, "intervalMs": 0})").m_answer["response"],
            Parse(R"({"started":2})"));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence)) << "a tick that was not registered";
  EXPECT_TRUE(Invoke(id, "startTicks", R"({"count": 0, "intervalMs": 1})").m_answer["response"]["error"].isString());
  EXPECT_EQ(Dispose(id), Parse("[true]"));
}

TEST_F(ExampleAddonTest, DisposalStopsTheTicksBeforeItIsAnswered) {
  const int id = CreateInstance();
  ASSERT_GE(id, 0);
  ASSERT_EQ(Register(id, "tick"), Parse("[true]"));
  ASSERT_EQ(Invoke(id, "startTicks", R"({"count": 100000, "intervalMs": 1})").m_answer["response"],
            Parse(R"({"started":100000})"));
  const Exchange disposed = Send(PageCommand("DisposeAddOnInstance", R"([0, "{example}", "1.0"])", "d", "p"), "d");
  EXPECT_EQ(disposed.m_answer["response"], Parse("[true]"));
  for (const Json::Value& event : disposed.m_events) EXPECT_EQ(event["event"], "tick");
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence)) << "a tick after the instance was disposed";
  EXPECT_EQ(Invoke(id, "add", R"({"a": 1, "b": 1})").m_answer["response"], Parse(R"(["Error"])"));
}

TEST_F(ExampleAddonTest, HandsASecureTextToAnotherInstanceOnce) {
  const int sender = CreateInstance();
  ASSERT_GE(sender, 0);
  const int receiver = CreateInstance();
  ASSERT_GE(receiver, 0);
  EXPECT_EQ(receiver, sender + 1);
  ASSERT_EQ(Register(sender, "shared"), Parse("[true]"));
  const Exchange shared = Invoke(sender, "share", R"({"text": "key \"7\" \u00e9\n"})");
  const std::string handle = shared.m_answer["response"]["handle"].asString();
  ASSERT_FALSE(handle.empty()) << shared.m_answer.toStyledString();
  ASSERT_EQ(shared.m_events.size(), 1u);
  EXPECT_EQ(shared.m_events[0]["event"], "shared");
  EXPECT_EQ(shared.m_events[0]["response"], handle);

  const std::string ask = R"({"handle": ")" + handle + R"("})";
  EXPECT_EQ(Invoke(receiver, "receive", ask).m_answer["response"], Parse(R"({"text":"key \"7\" \u00e9\n"})"));
  EXPECT_EQ(Invoke(receiver, "receive", ask).m_answer["response"], Parse(R"({"error":"no text under this handle"})"))
      << "the text was acknowledged";
  EXPECT_EQ(Dispose(sender), Parse("[true]"));
  EXPECT_EQ(Dispose(receiver), Parse("[true]"));
}

}  // namespace
}  // namespace vorneth::testing
