// The built host driven over real pipes, as the browser drives it.
#include <gtest/gtest.h>

#include <filesystem>

#include "host_process.h"
#include "json/json_conversions.h"
#include "support/file_bytes.h"
#include "support/scratch_dir.h"
#include "support/wait_until.h"

namespace vorneth::testing {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kAnswer{10000};
constexpr milliseconds kSilence{300};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_host.Start()) << m_host.error(); }

  // Sends `request` and returns the next frame's exact text.
  std::string Ask(const std::string& request) {
    EXPECT_TRUE(m_host.Send(request));
    auto frame = m_host.ReadFrame(kAnswer);
    EXPECT_TRUE(frame.has_value()) << "no answer to " << request;
    return frame.value_or("");
  }

  void CreateSession(const std::string& url = "https://page.test/app") {
    ASSERT_TRUE(m_host.Send(Create(url, "1.0", "p")));
  }

  std::string Store() { return ReadBytes(m_host.store_path()); }

  HostProcess m_host;
};

TEST_F(HostTest, AnswersCarryExactTextAndTheLatestPortId) {
  CreateSession();
  EXPECT_EQ(Ask(PageCommand("GetVersion", "[]", "7", "9")),
            R"({"callbackId":"7","instanceId":0,"portId":"9","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})");
  EXPECT_EQ(Ask(HostCommand("GetHostVersion", "[]", "8", "10")),
            R"({"callbackId":"8","instanceId":0,"portId":"10","response":"2.15.0.0","rtype":"Vorneth-I"})");
  // A body of "{}" empties the port identifier; the next message carries "".
  ASSERT_TRUE(m_host.Send("{}"));
  EXPECT_EQ(Ask(R"({"type":"Vorneth","command":"GetVersion","callbackId":"c"})"),
            R"({"callbackId":"c","instanceId":0,"portId":"","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})");
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
}

TEST_F(HostTest, PaddingDependsOnTheFinalLength) {
  CreateSession();
  const std::string base =
      R"({"callbackId":"","instanceId":0,"portId":"p","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})";
  for (size_t length : {265u, 266u, 267u, 522u, 778u}) {
    const std::string callbackId(length - base.size(), 'c');
    const std::string answer = Ask(PageCommand("GetVersion", "[]", callbackId, "p"));
    const std::string plain = R"({"callbackId":")" + callbackId +
                              R"(","instanceId":0,"portId":"p","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})";
    ASSERT_EQ(plain.size(), length);
    if (length % 256 == 10) {
      EXPECT_EQ(answer, R"({"callbackId":")" + callbackId +
                            R"(","instanceId":0,"padding":"x","portId":"p","response":["0x020F0000", "1.0"],)"
                            R"("rtype":"Vorneth"})");
      EXPECT_EQ(answer.size(), length + 14);
    } else {
      EXPECT_EQ(answer, plain);
    }
  }
}

// The browser drops a message that holds a raw control byte, so frames
// carry them escaped, however the request brought them.
TEST_F(HostTest, ControlBytesReachThePageEscaped) {
  CreateSession();
  EXPECT_EQ(Ask(PageCommand("GetVersion", "[]",
                            "\x01"
                            "cb\x1f",
                            "p\x02")),
            R"({"callbackId":"\u0001cb\u001f","instanceId":0,"portId":"p\u0002","response":["0x020F0000", "1.0"],)"
            R"("rtype":"Vorneth"})");
  EXPECT_EQ(Ask(R"({"callbackId":"\u0001\t","command":"GetVersion","portId":"\u001f","type":"Vorneth"})"),
            R"({"callbackId":"\u0001\t","instanceId":0,"portId":"\u001f","response":["0x020F0000", "1.0"],)"
            R"("rtype":"Vorneth"})");
}

// Lengths whose upper bytes are 0x0A (a line feed) must cross the channel
// unchanged in both directions: 2,560 to 2,815 bytes and 655,360 and up.
TEST_F(HostTest, FramesWithLineFeedLengthBytesSurviveBothWays) {
  CreateSession();
  const std::string answerBase =
      R"({"callbackId":"","instanceId":0,"portId":"p","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})";
  const std::string requestBase =
      R"({"callbackId":"","command":"GetVersion","filler":"","portId":"p","type":"Vorneth"})";
  for (size_t length : {2570u, 2700u, 2815u, 655400u}) {
    const std::string callbackId(length - answerBase.size(), 'c');
    const std::string filler(length - requestBase.size() - callbackId.size(), 'f');
    const std::string request = R"({"callbackId":")" + callbackId + R"(","command":"GetVersion","filler":")" + filler +
                                R"(","portId":"p","type":"Vorneth"})";
    ASSERT_EQ(request.size(), length);
    std::string expected = R"({"callbackId":")" + callbackId + R"(","instanceId":0,)";
    if (length % 256 == 10) expected += R"("padding":"x",)";
    expected += R"("portId":"p","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})";
    const std::string answer = Ask(request);
    EXPECT_EQ(answer.size(), expected.size()) << length;
    EXPECT_TRUE(answer == expected) << "answer to a request of " << length << " bytes differs";
  }
  EXPECT_EQ(m_host.partial_bytes(), 0u);
}

TEST_F(HostTest, SilentRequests) {
  // Commands before any session, unknown types, near-miss types, "Create".
  ASSERT_TRUE(m_host.Send(PageCommand("GetVersion", "[]", "1", "p")));
  ASSERT_TRUE(m_host.Send(HostCommand("GetHostVersion", "[]", "2", "p")));
  CreateSession();
  ASSERT_TRUE(m_host.Send(R"({"type":"vorneth-i","command":"GetHostVersion","callbackId":"3"})"));
  ASSERT_TRUE(m_host.Send(R"({"type":"Vorneth-I ","command":"GetHostVersion","callbackId":"4"})"));
  ASSERT_TRUE(m_host.Send(R"({"type":"Other","command":"GetVersion","callbackId":"5"})"));
  ASSERT_TRUE(m_host.SendRaw(std::string("\0\0\0\0", 4)));
  ASSERT_TRUE(m_host.SendRaw(std::string("\0\0\0\x80", 4)));
  ASSERT_TRUE(m_host.Send("not json at all"));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
  // The host still serves the session afterwards.
  EXPECT_NE(Ask(HostCommand("GetHostVersion", "[]", "6", "p")).find(R"("callbackId":"6")"), std::string::npos);
}

TEST_F(HostTest, RequestsOfTheWrongShapeAreIgnoredAndNothingEndsTheHost) {
  CreateSession();
  std::string deep(5000, '[');
  deep += std::string(5000, ']');
  const std::string ignored[] = {
      deep,
      R"([1,2,3])",
      R"("text")",
      R"({"type":5,"command":"GetVersion","callbackId":"x"})",
      R"({"type":"Vorneth","command":["GetVersion"],"callbackId":"x"})",
      R"({"type":"Vorneth","command":"GetVersion","callbackId":{"a":1}})",
      R"({"type":"Vorneth","command":"GetVersion","callbackId":"x","portId":7})",
      R"({"type":"Vorneth-I","command":"Create","url":1,"version":"2"})",
      R"({"type":"Vorneth","command":"GetVersion","callbackId":"x","params":)" + deep + "}",
  };
  for (const std::string& request : ignored) ASSERT_TRUE(m_host.Send(request));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
  // Parameters that cannot be converted are refused with an error answer.
  EXPECT_EQ(Ask(PageCommand("CreateAddOnInstance", R"([5, "1.0"])", "a", "p")),
            R"({"callbackId":"a","instanceId":0,"portId":"p","response":["Error"],"rtype":"Vorneth"})");
  EXPECT_NE(Ask(PageCommand("DisposeAddOnInstance", R"(["zero", "u", "v"])", "b", "p")).find(R"(["Error"])"),
            std::string::npos);
  EXPECT_NE(Ask(PageCommand("InvokeAddOnInstance", R"([1e20, "c", "{}"])", "c", "p")).find(R"(["Error"])"),
            std::string::npos);
  EXPECT_NE(Ask(HostCommand("SetPermissionMode", R"([{"a":1}])", "d", "p")).find(R"("response":["Error"])"),
            std::string::npos);
  EXPECT_NE(Ask(HostCommand("UninstallAddOn", R"([[1], "1.0"])", "e", "p")).find(R"("response":["Error"])"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(m_host.store_path())) << "a refused command must not touch the store";
  // Booleans and null convert as text; a "params" that is not an array
  // has no elements.
  EXPECT_NE(Ask(PageCommand("RegisterEvent", R"(true)", "f", "p")).find(R"(["Error"])"), std::string::npos);
  EXPECT_NE(Ask(HostCommand("SetPermissionMode", R"([true])", "g", "p")).find(R"("response":"true")"),
            std::string::npos);
}

TEST_F(HostTest, PageCommandTable) {
  CreateSession();
  const auto response = [&](const std::string& command, const std::string& params) {
    const std::string answer = Ask(PageCommand(command, params, "i", "p"));
    const size_t begin = answer.find(R"("response":)");
    const size_t end = answer.find(R"(,"rtype":"Vorneth"})");
    EXPECT_TRUE(begin != std::string::npos && end != std::string::npos) << answer;
    return begin == std::string::npos || end == std::string::npos ? answer
                                                                  : answer.substr(begin + 11, end - begin - 11);
  };
  EXPECT_EQ(response("RegisterEvent", R"(["AddOnInstallFinishEvent"])"), "[true]");
  EXPECT_EQ(response("UnregisterEvent", R"(["AddOnInstallFinishEvent"])"), "[true]");
  EXPECT_EQ(response("RegisterEvent", R"(["Other"])"), R"(["Error"])");
  EXPECT_EQ(response("UnregisterEvent", "[]"), R"(["Error"])");
  EXPECT_EQ(response("getversion", "[]"), R"(["Error", -2])");
  EXPECT_EQ(response("InstallAddOns", R"(["https://files.test/", []])"), R"(["Error", -1])");
  EXPECT_EQ(response("CreateAddOnInstance", R"(["{5f6e}", "1.0"])"), R"(["Error", -5])");
  EXPECT_EQ(response("DisposeAddOnInstance", R"([0, "{5f6e}", "1.0"])"), R"(["Error"])");
  EXPECT_EQ(response("InvokeAddOnInstance", R"([0, "run", "{}"])"), R"(["Error"])");
  EXPECT_EQ(response("RegisterAddOnEvent", R"([0, "tick"])"), R"(["Error"])");
  EXPECT_EQ(response("UnregisterAddOnEvent", R"([-1, "tick"])"), R"(["Error"])");
}

TEST_F(HostTest, BlockedOriginsGetOnlyTheirVersion) {
  CreateSession("https://page.test/app");
  EXPECT_NE(Ask(HostCommand("SetDomainDenied", "[]", "1", "p")).find(R"("response":"https://page.test")"),
            std::string::npos);
  EXPECT_EQ(Store(), R"({"blacklisted":["https://page.test"]})");
  EXPECT_NE(Ask(PageCommand("GetVersion", "[]", "2", "p")).find(R"(["0x020F0000", "1.0"])"), std::string::npos);
  EXPECT_NE(Ask(PageCommand("RegisterEvent", R"(["AddOnInstallFinishEvent"])", "3", "p")).find(R"(["Error", -3])"),
            std::string::npos);
  EXPECT_NE(Ask(PageCommand("NoSuchCommand", "[]", "4", "p")).find(R"(["Error", -3])"), std::string::npos);
  EXPECT_NE(Ask(HostCommand("IsDomainBlocked", "[]", "5", "p")).find(R"("response":1,)"), std::string::npos);

  // A new host process reads the same store: its session starts blocked.
  m_host.CloseInput();
  ASSERT_EQ(m_host.WaitExit(kAnswer), 0);
  ASSERT_TRUE(m_host.Start());
  CreateSession("https://page.test/other");
  EXPECT_NE(Ask(PageCommand("RegisterEvent", R"(["AddOnInstallFinishEvent"])", "6", "p")).find(R"(["Error", -3])"),
            std::string::npos);
  EXPECT_NE(Ask(HostCommand("SetDomainAllowed", "[]", "7", "p")).find(R"("response":"https://page.test")"),
            std::string::npos);
  EXPECT_EQ(Store(), R"({"blacklisted":[]})");
  EXPECT_NE(Ask(PageCommand("RegisterEvent", R"(["AddOnInstallFinishEvent"])", "8", "p")).find("[true]"),
            std::string::npos);
}

TEST_F(HostTest, UnusableUrlsBlockEveryPageCommandButGetVersion) {
  for (const char* url : {"", "ftp://page.test/", "https://user@page.test/"}) {
    CreateSession(url);
    EXPECT_NE(Ask(PageCommand("GetVersion", "[]", "1", "p")).find("0x020F0000"), std::string::npos) << url;
    EXPECT_NE(Ask(PageCommand("RegisterEvent", R"(["AddOnInstallFinishEvent"])", "2", "p")).find(R"(["Error", -3])"),
              std::string::npos)
        << url;
    EXPECT_NE(Ask(HostCommand("GetDomain", "[]", "3", "p")).find(R"("response":"",)"), std::string::npos) << url;
  }
}

TEST_F(HostTest, PermissionCommandsAgainstTheStoreFile) {
  CreateSession("HTTP://Page.Test:8080/x");
  const auto ask = [&](const std::string& command, const std::string& params) {
    return Ask(HostCommand(command, params, "c", "p"));
  };
  EXPECT_NE(ask("GetDomain", "[]").find(R"("response":"http://Page.Test:8080")"), std::string::npos);
  EXPECT_NE(ask("IsWhitelistMode", "[]").find(R"("response":0,)"), std::string::npos);
  EXPECT_NE(ask("ReadVornethPermListDB", "[]").find(R"("response":null,)"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(m_host.store_path())) << "reads never write";

  EXPECT_NE(ask("SetPermissionMode", R"(["whitelist"])").find(R"("response":"whitelist")"), std::string::npos);
  EXPECT_EQ(Store(), R"({"permission-mode":"whitelist"})");
  EXPECT_NE(ask("IsDomainBlocked", "[]").find(R"("response":1,)"), std::string::npos);
  EXPECT_NE(Ask(PageCommand("RegisterEvent", R"(["AddOnInstallFinishEvent"])", "g", "p")).find(R"(["Error", -3])"),
            std::string::npos);
  ask("SetDomainAllowed", "[]");
  ask("SetDomainAllowed", "[]");
  EXPECT_EQ(Store(),
            R"({"permission-mode":"whitelist","whitelisted":["http://Page.Test:8080", "http://Page.Test:8080"]})");
  EXPECT_NE(ask("ReadVornethPermListDB", "[]").find(R"("response":["http://Page.Test:8080", "http://Page.Test:8080"])"),
            std::string::npos);
  EXPECT_NE(ask("IsWhitelistMode", "[]").find(R"("response":1,)"), std::string::npos);

  EXPECT_EQ(ask("RemoveFromPermList", R"(["http://Page.Test:8080", "blacklisted"])"),
            R"({"callbackId":"c","instanceId":0,"portId":"p","response":["http://Page.Test:8080", "blacklisted"],)"
            R"("rtype":"Vorneth-I"})");
  EXPECT_EQ(Store(), R"({"blacklisted":null,"permission-mode":"whitelist","whitelisted":["http://Page.Test:8080", )"
                     R"("http://Page.Test:8080"]})");
  // A list name that is no list changes nothing at all.
  ask("RemoveFromPermList", R"(["whitelist", "permission-mode"])");
  ask("RemoveFromPermList", R"(["x", "installed"])");
  EXPECT_EQ(Store(), R"({"blacklisted":null,"permission-mode":"whitelist","whitelisted":["http://Page.Test:8080", )"
                     R"("http://Page.Test:8080"]})");

  ask("SetDomainDenied", "[]");
  EXPECT_EQ(Store(), R"({"blacklisted":null,"permission-mode":"whitelist","whitelisted":[]})");
  EXPECT_NE(ask("SetPermissionMode", R"(["Blacklist"])").find(R"("response":"Blacklist")"), std::string::npos);
  EXPECT_NE(ask("IsWhitelistMode", "[]").find(R"("response":1,)"), std::string::npos);
  ask("SetPermissionMode", R"(["blacklist"])");
  EXPECT_NE(ask("IsDomainBlocked", "[]").find(R"("response":0,)"), std::string::npos);
  EXPECT_EQ(ask("NoSuchHostCommand", "[]"),
            R"({"callbackId":"c","instanceId":0,"portId":"p","response":["Error", -2],"rtype":"Vorneth-I"})");
}

TEST_F(HostTest, AddOnHostCommands) {
  const std::string record =
      R"({"description":"d","icon":"","install":[{"https://page.test":1700000000}],"name":"Clock",)"
      R"("origin":["https://files.test"],"uuid":"{5f6e}","version":["1.0"]})";
  WriteBytes(m_host.store_path(), R"({"installed":[)" + record + "]}");
  const std::string addonFolder = m_host.data_directory() + "/addons/{5f6e}/1.0";
  WriteBytes(addonFolder + "/addon.so", "binary");
  WriteBytes(m_host.data_directory() + "/addons/{5f6e}/2.0/addon.so", "other version");
  CreateSession();

  EXPECT_EQ(Ask(HostCommand("ReadVornethAddOnListDB", "[]", "1", "p")),
            R"({"callbackId":"1","instanceId":0,"portId":"p","response":[)" + record + R"(],"rtype":"Vorneth-I"})");
  EXPECT_EQ(Ask(HostCommand("GetActiveAddOnList", "[]", "2", "p")),
            R"({"callbackId":"2","instanceId":0,"portId":"p","rtype":"Vorneth-I"})");
  // Installed, but its files cannot be verified: -4, not -5.
  EXPECT_NE(Ask(PageCommand("CreateAddOnInstance", R"(["{5f6e}", "1.0"])", "3", "p")).find(R"(["Error", -4])"),
            std::string::npos);

  // An installed version is reported with the finish event before the answer.
  ASSERT_TRUE(m_host.Send(PageCommand(
      "InstallAddOns", R"(["https://files.test/", [{"packageUUID":"{5f6e}","packageVersion":"1.0","extra":1}]])", "4",
      "p")));
  EXPECT_EQ(m_host.ReadFrame(kAnswer).value_or(""),
            R"({"event":"AddOnInstallFinishEvent","instanceId":0,"portId":"p","response":)"
            R"("[0,{\"extra\":1,\"packageURL\":null,\"packageUUID\":\"{5f6e}\",\"packageVersion\":\"1.0\"}]",)"
            R"("rtype":"Vorneth-E"})");
  EXPECT_EQ(m_host.ReadFrame(kAnswer).value_or(""),
            R"({"callbackId":"4","instanceId":0,"portId":"p","response":[0],"rtype":"Vorneth"})");

  EXPECT_NE(Ask(HostCommand("UninstallAddOn", R"(["{5f6e}", "3.0"])", "5", "p")).find(R"("response":0,)"),
            std::string::npos);
  EXPECT_NE(Ask(HostCommand("UninstallAddOn", R"(["{5f6e}", "1.0"])", "6", "p")).find(R"("response":200,)"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(addonFolder));
  EXPECT_TRUE(std::filesystem::exists(m_host.data_directory() + "/addons/{5f6e}/2.0/addon.so"));
  EXPECT_EQ(Store(), R"({"installed":[]})");
}

TEST_F(HostTest, UninstallNeverDeletesOutsideTheAddOnFolder) {
  WriteBytes(m_host.store_path(),
             R"({"installed":[{"name":"x","uuid":"..","version":[".."],"origin":["o"],"install":[{}]}]})");
  const std::string precious = m_host.data_directory() + "/precious.txt";
  WriteBytes(precious, "keep");
  CreateSession();
  EXPECT_NE(Ask(HostCommand("UninstallAddOn", R"(["..", ".."])", "1", "p")).find(R"("response":200,)"),
            std::string::npos);
  EXPECT_EQ(ReadBytes(precious), "keep");
  EXPECT_EQ(Store(), R"({"installed":[]})");
}

TEST_F(HostTest, ASecondCreateReplacesTheSession) {
  CreateSession("https://first.test/");
  ASSERT_TRUE(m_host.Send(Create("https://second.test/", "2.0", "q")));
  EXPECT_EQ(Ask(PageCommand("GetVersion", "[]", "1", "q")),
            R"({"callbackId":"1","instanceId":0,"portId":"q","response":["0x020F0000", "2.0"],"rtype":"Vorneth"})");
  EXPECT_NE(Ask(HostCommand("GetDomain", "[]", "2", "q")).find(R"("response":"https://second.test")"),
            std::string::npos);
}

// "Create" makes a session only with the type "Vorneth-I": under the page
// type it is an unknown page command, under any other type it is ignored.
// Neither replaces the session of the first page.
TEST_F(HostTest, CreateUnderAnotherTypeLeavesTheSessionAlone) {
  CreateSession("https://first.test/app");
  const auto create = [](const std::string& type, const std::string& id) {
    return R"({"callbackId":")" + id + R"(","command":"Create","portId":"p","type":")" + type +
           R"(","url":"https://second.test/","version":"9.9"})";
  };
  EXPECT_EQ(Ask(create("Vorneth", "1")),
            R"({"callbackId":"1","instanceId":0,"portId":"p","response":["Error", -2],"rtype":"Vorneth"})");
  ASSERT_TRUE(m_host.Send(create("Other", "2")));
  ASSERT_TRUE(m_host.Send(create("vorneth-i", "3")));
  ASSERT_TRUE(m_host.Send(create("Vorneth-I ", "4")));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
  EXPECT_EQ(Ask(HostCommand("GetDomain", "[]", "5", "p")),
            R"({"callbackId":"5","instanceId":0,"portId":"p","response":"https://first.test","rtype":"Vorneth-I"})");
  EXPECT_EQ(Ask(PageCommand("GetVersion", "[]", "6", "p")),
            R"({"callbackId":"6","instanceId":0,"portId":"p","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})");

  // On a blocked page the page-type "Create" is refused as blocked.
  EXPECT_NE(Ask(HostCommand("SetDomainDenied", "[]", "7", "p")).find(R"("response":"https://first.test")"),
            std::string::npos);
  EXPECT_EQ(Ask(create("Vorneth", "8")),
            R"({"callbackId":"8","instanceId":0,"portId":"p","response":["Error", -3],"rtype":"Vorneth"})");
  EXPECT_NE(Ask(HostCommand("GetDomain", "[]", "9", "p")).find(R"("response":"https://first.test")"),
            std::string::npos);
  EXPECT_NE(Ask(PageCommand("GetVersion", "[]", "10", "p")).find(R"(["0x020F0000", "1.0"])"), std::string::npos);
}

// The browser starts one host per port; they all share one store file.
TEST_F(HostTest, HostsSharingTheStoreLoseNoChange) {
  HostProcessOptions sharing;
  sharing.data_home = m_host.data_home();
  HostProcess other(sharing);
  ASSERT_TRUE(other.Start()) << other.error();
  ASSERT_TRUE(m_host.Send(Create("https://first.test/", "1.0", "p")));
  ASSERT_TRUE(other.Send(Create("https://second.test/", "1.0", "p")));
  constexpr int kChanges = 40;
  // Both hosts get all their requests at once and work through them
  // side by side.
  for (int i = 0; i < kChanges; ++i) {
    ASSERT_TRUE(m_host.Send(HostCommand("SetDomainDenied", "[]", std::to_string(i), "p")));
    ASSERT_TRUE(other.Send(HostCommand("SetDomainDenied", "[]", std::to_string(i), "p")));
  }
  EXPECT_EQ(m_host.ReadFrames(kChanges, kAnswer).size(), static_cast<size_t>(kChanges));
  EXPECT_EQ(other.ReadFrames(kChanges, kAnswer).size(), static_cast<size_t>(kChanges));
  Json::Value store;
  ASSERT_TRUE(ParseJson(Store(), store)) << Store();
  int first = 0, second = 0;
  for (const Json::Value& origin : store["blacklisted"]) {
    first += origin == "https://first.test";
    second += origin == "https://second.test";
  }
  EXPECT_EQ(first, kChanges);
  EXPECT_EQ(second, kChanges);
}

// A command the host has taken in before the port closes is answered, even
// when the close follows right behind it.
TEST_F(HostTest, ACommandRightBeforeTheEndOfInputIsStillAnswered) {
  for (int round = 0; round < 10; ++round) {
    ASSERT_TRUE(m_host.Start());
    ASSERT_TRUE(m_host.Send(Create("https://page.test/app", "1.0", "p")));
    ASSERT_TRUE(m_host.Send(PageCommand("GetVersion", "[]", "last", "p")));
    m_host.CloseInput();
    const std::optional<std::string> answer = m_host.ReadFrame(kAnswer);
    ASSERT_TRUE(answer.has_value()) << "round " << round;
    EXPECT_NE(answer->find(R"("callbackId":"last")"), std::string::npos) << *answer;
    EXPECT_EQ(m_host.WaitExit(kAnswer), 0);
  }
}

TEST_F(HostTest, EndOfInputEndsTheHostWithStatusZero) {
  CreateSession();
  // Pipelined page commands are all answered; then the port closes.
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(m_host.Send(PageCommand("GetVersion", "[]", std::to_string(i), "p")));
  EXPECT_EQ(m_host.ReadFrames(20, kAnswer).size(), 20u);
  m_host.CloseInput();
  EXPECT_EQ(m_host.WaitExit(kAnswer), 0);
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
  EXPECT_TRUE(m_host.output_ended());
}

TEST_F(HostTest, EndOfInputInsideAFrameEndsTheHostWithStatusZero) {
  CreateSession();
  ASSERT_TRUE(m_host.SendRaw(std::string("\x40\x00\x00\x00{\"type\":", 12)));
  m_host.CloseInput();
  EXPECT_EQ(m_host.WaitExit(kAnswer), 0);
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
}

TEST_F(HostTest, EndOfInputInsideTheLengthEndsTheHostWithStatusZero) {
  ASSERT_TRUE(m_host.SendRaw(std::string("\x05\x00", 2)));
  m_host.CloseInput();
  EXPECT_EQ(m_host.WaitExit(kAnswer), 0);
}

// Every file under `folder` (recursively) that holds a frame's bytes: an
// answer's "rtype" member, which no store or lock file ever contains.
std::vector<std::string> FilesHoldingFrames(const std::string& folder) {
  std::vector<std::string> holding;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
    if (!entry.is_regular_file()) continue;
    if (ReadBytes(entry.path().string()).find("\"rtype\"") != std::string::npos) {
      holding.push_back(entry.path().string());
    }
  }
  return holding;
}

// A parent may start the host without some standard streams. The host then
// must not hand a missing descriptor number to a file it opens (the store's
// lock file, say) and write its frames into that file.
TEST(HostStreamsTest, WithoutStandardOutputNoFrameLandsInAFile) {
  for (const std::vector<int>& closed : {std::vector<int>{1}, std::vector<int>{1, 2}}) {
    SCOPED_TRACE(::testing::PrintToString(closed));
    HostProcessOptions options;
    options.closed_standard_streams = closed;
    HostProcess host(options);
    ASSERT_TRUE(host.Start()) << host.error();
    ASSERT_TRUE(host.Send(Create("https://page.test/app", "1.0", "p")));
    // Page commands are answered by workers while the main thread has the
    // store's files open for the host commands: a frame written then would
    // land in whichever file holds the missing descriptor number.
    for (int i = 0; i < 30; ++i) {
      ASSERT_TRUE(host.Send(PageCommand("GetVersion", "[]", "g" + std::to_string(i), "p")));
      ASSERT_TRUE(
          host.Send(HostCommand(i % 2 == 0 ? "SetDomainDenied" : "IsDomainBlocked", "[]", std::to_string(i), "p")));
    }
    EXPECT_TRUE(host.ExpectNoFrame(kSilence));
    EXPECT_TRUE(host.output_ended());
    host.CloseInput();
    EXPECT_EQ(host.WaitExit(kAnswer), 0);
    // Each "SetDomainDenied" adds the origin once more.
    std::string denied;
    for (int i = 0; i < 15; ++i) denied += std::string(i == 0 ? "" : ",") + "\"https://page.test\"";
    EXPECT_EQ(ReadBytes(host.store_path()), "{\"blacklisted\":[" + denied + "]}");
    EXPECT_EQ(FilesHoldingFrames(host.data_home()), std::vector<std::string>());
  }
}

TEST(HostStreamsTest, WithoutStandardErrorFramesStillGoToStandardOutput) {
  HostProcessOptions options;
  options.closed_standard_streams = {2};
  HostProcess host(options);
  ASSERT_TRUE(host.Start()) << host.error();
  ASSERT_TRUE(host.Send(Create("https://page.test/app", "1.0", "p")));
  ASSERT_TRUE(host.Send(HostCommand("SetDomainDenied", "[]", "1", "p")));
  ASSERT_TRUE(host.Send(HostCommand("GetHostVersion", "[]", "2", "p")));
  const std::vector<std::string> frames = host.ReadFrames(2, kAnswer);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_NE(frames[0].find(R"("callbackId":"1")"), std::string::npos);
  EXPECT_NE(frames[1].find(R"("callbackId":"2")"), std::string::npos);
  host.CloseInput();
  EXPECT_EQ(host.WaitExit(kAnswer), 0);
  EXPECT_EQ(FilesHoldingFrames(host.data_home()), std::vector<std::string>());
}

TEST(HostStreamsTest, WithoutStandardInputTheHostEndsAtOnce) {
  HostProcessOptions options;
  options.closed_standard_streams = {0};
  HostProcess host(options);
  ASSERT_TRUE(host.Start()) << host.error();
  EXPECT_EQ(host.WaitExit(kAnswer), 0);
  EXPECT_TRUE(host.ExpectNoFrame(kSilence));
  EXPECT_EQ(FilesHoldingFrames(host.data_home()), std::vector<std::string>());
}

}  // namespace
}  // namespace vorneth::testing

namespace vorneth::testing {
namespace {

// The host finds the recording trace library through the standard library
// search and traces into it; the records land in a file.
// The recording library built here is a Linux library: these tests apply to
// this build's own host only.
bool TestsThisBuildsHost() {
  return HostUnderTestPath() == VORNETH_HOST_PATH;
}

TEST(HostTraceTest, TheHostTracesThroughTheLoggingLibraryItFinds) {
  if (!TestsThisBuildsHost()) GTEST_SKIP() << "another host is under test";
  ScratchDir folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string records = folder / "records.txt";
  HostProcessOptions options;
  options.environment = {{"LD_LIBRARY_PATH", QUENLOG_RECORDER_DIR}, {"QUENLOG_RECORD_FILE", records}};
  {
    HostProcess host(options);
    ASSERT_TRUE(host.Start()) << host.error();
    ASSERT_TRUE(host.Send(PageCommand("GetVersion", "[]", "1", "p")));
    ASSERT_TRUE(host.Send(Create("https://page.test/", "1.0", "p")));
    ASSERT_TRUE(host.Send(PageCommand("GetVersion", "[]", "2", "p")));
    ASSERT_TRUE(host.ReadFrame(kAnswer).has_value());
    host.CloseInput();
    ASSERT_EQ(host.WaitExit(kAnswer), 0);
  }
  const std::string trace = ReadBytes(records);
  const auto has = [&](const std::string& line) { return trace.find(line + "\n") != std::string::npos; };
  EXPECT_TRUE(
      has("message\tmain\t\tfirst check of crash protection against incorrect destruction of the object by "
          "the other thread"));
  EXPECT_TRUE(has("message\tmain\t\tVorneth-I Create"));
  EXPECT_TRUE(has("text\tVorneth::Vorneth\torigin.c_str ()\thttps://page.test/"));
  EXPECT_TRUE(has("message\tVorneth::Vorneth\t\tInitFromUrl result is true"));
  EXPECT_TRUE(
      has("message\tVorneth::DispatchWorkerFunc\t\tGetVersion: return version number of host and extension, "
          "first value is host version, second value is extension version"));
  EXPECT_TRUE(has("message\tVornethCommandWorker::ThreadMainFunction\t\tThread's main loop ended"));
  EXPECT_TRUE(has("message\tCallback\t\tresponse outputted from native"));
}

// Code in the host's process that prints to standard output (here the
// logging library) must not corrupt the frames.
TEST(HostTraceTest, PrintingLibrariesCannotCorruptTheFrames) {
  if (!TestsThisBuildsHost()) GTEST_SKIP() << "another host is under test";
  HostProcessOptions options;
  options.environment = {{"LD_LIBRARY_PATH", QUENLOG_RECORDER_DIR}, {"QUENLOG_STDOUT_NOISE", "1"}};
  options.stderr_path = "/dev/null";
  HostProcess host(options);
  ASSERT_TRUE(host.Start()) << host.error();
  ASSERT_TRUE(host.Send(Create("https://page.test/", "1.0", "p")));
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(host.Send(PageCommand("GetVersion", "[]", std::to_string(i), "p")));
    EXPECT_EQ(host.ReadFrame(kAnswer).value_or(""),
              R"({"callbackId":")" + std::to_string(i) +
                  R"(","instanceId":0,"portId":"p","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})");
  }
  host.CloseInput();
  EXPECT_EQ(host.WaitExit(kAnswer), 0);
  EXPECT_TRUE(host.ExpectNoFrame(kSilence));
  EXPECT_EQ(host.partial_bytes(), 0u);
}

// Every "Create" retires the session it replaces: that session's workers end
// once idle, and a later "Create" joins them, so threads never pile up in a
// host that a page keeps re-creating sessions in.
TEST(HostTraceTest, ReplacedSessionsEndAndGiveBackTheirWorkers) {
  if (!TestsThisBuildsHost()) GTEST_SKIP() << "another host is under test";
  ScratchDir folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string records = folder / "records.txt";
  const auto count = [&](const std::string& line) {
    const std::string trace = ReadBytes(records);
    size_t found = 0;
    for (size_t at = trace.find(line); at != std::string::npos; at = trace.find(line, at + 1)) ++found;
    return found;
  };
  const std::string loopEnded = "message\tVornethCommandWorker::ThreadMainFunction\t\tThread's main loop ended\n";
  const std::string joined = "enter\tVornethCommandWorker::Join\t";
  constexpr size_t kSessions = 30;
  constexpr size_t kWorkers = 3;

  HostProcessOptions options;
  options.environment = {{"LD_LIBRARY_PATH", QUENLOG_RECORDER_DIR}, {"QUENLOG_RECORD_FILE", records}};
  HostProcess host(options);
  ASSERT_TRUE(host.Start()) << host.error();
  for (size_t i = 0; i < kSessions; ++i) ASSERT_TRUE(host.Send(Create("https://page.test/", "1.0", "p")));
  ASSERT_TRUE(host.Send(HostCommand("GetHostVersion", "[]", "1", "p")));
  ASSERT_TRUE(host.ReadFrame(kAnswer).has_value());
  // The replaced sessions' workers end while the host still reads.
  EXPECT_TRUE(WaitUntil([&] { return count(loopEnded) >= kWorkers * (kSessions - 1); }))
      << count(loopEnded) << " worker loops ended";
  // The next "Create" joins every one of them.
  ASSERT_TRUE(host.Send(Create("https://page.test/", "1.0", "p")));
  ASSERT_TRUE(host.Send(HostCommand("GetHostVersion", "[]", "2", "p")));
  ASSERT_TRUE(host.ReadFrame(kAnswer).has_value());
  EXPECT_GE(count(joined), kWorkers * (kSessions - 1));
  host.CloseInput();
  EXPECT_EQ(host.WaitExit(kAnswer), 0);
}

}  // namespace
}  // namespace vorneth::testing
