// The two command tables through the built host: every command that takes
// parameters refuses parameters of the wrong type before it does anything,
// and unknown names answer -2 in both sets.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host_process.h"

namespace vorneth::testing {
namespace {

constexpr std::chrono::milliseconds kAnswer{10000};

class CommandSetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_host.Start()) << m_host.error();
    ASSERT_TRUE(m_host.Send(Create("https://page.test/app", "1.0", "p")));
  }
  // The "response" text of the answer to one request.
  std::string Response(const std::string& request) {
    EXPECT_TRUE(m_host.Send(request));
    const std::string answer = m_host.ReadFrame(kAnswer).value_or("");
    const size_t begin = answer.find(R"("response":)");
    const size_t end = answer.find(R"(,"rtype":)");
    if (begin == std::string::npos || end == std::string::npos) return answer;
    return answer.substr(begin + 11, end - begin - 11);
  }
  HostProcess m_host;
};

TEST_F(CommandSetsTest, PageCommandsRefuseParametersOfTheWrongType) {
  const std::pair<const char*, const char*> cases[] = {
      {"InstallAddOns", R"([7, []])"},
      {"CreateAddOnInstance", R"(["{a}", {"v":1}])"},
      {"DisposeAddOnInstance", R"([0, "{a}", 1])"},
      {"InvokeAddOnInstance", R"([0, ["run"], "{}"])"},
      {"RegisterEvent", R"([["AddOnInstallFinishEvent"]])"},
      {"UnregisterEvent", R"([1])"},
      {"RegisterAddOnEvent", R"(["0", "tick"])"},
      {"UnregisterAddOnEvent", R"([0, {}])"},
  };
  for (const auto& [command, params] : cases) {
    EXPECT_EQ(Response(PageCommand(command, params, "c", "p")), R"(["Error"])") << command;
  }
  EXPECT_FALSE(std::filesystem::exists(m_host.data_directory() + "/addons"));
  // The same commands with readable parameters reach their operation.
  EXPECT_EQ(Response(PageCommand("InstallAddOns", R"(["base/", 7])", "c", "p")), R"(["Error", -1])");
  EXPECT_EQ(Response(PageCommand("CreateAddOnInstance", R"(["{a}", null])", "c", "p")), R"(["Error", -5])");
}

TEST_F(CommandSetsTest, HostCommandsRefuseParametersOfTheWrongType) {
  EXPECT_EQ(Response(HostCommand("UninstallAddOn", R"(["{a}", 1.5])", "c", "p")), R"(["Error"])");
  EXPECT_EQ(Response(HostCommand("RemoveFromPermList", R"([["https://x.test"], "blacklisted"])", "c", "p")),
            R"(["Error"])");
  EXPECT_EQ(Response(HostCommand("SetPermissionMode", R"([["whitelist"]])", "c", "p")), R"(["Error"])");
  EXPECT_FALSE(std::filesystem::exists(m_host.store_path())) << "a refused command must not touch the store";
  EXPECT_EQ(Response(HostCommand("UninstallAddOn", R"(["{a}", "1"])", "c", "p")), "0");
}

TEST_F(CommandSetsTest, UnknownNamesAnswerMinusTwoInBothSets) {
  for (const char* name : {"NoSuchCommand", "getHostVersion", "GetVersion ", ""}) {
    EXPECT_EQ(Response(PageCommand(name, "[]", "c", "p")), R"(["Error", -2])") << name;
    EXPECT_EQ(Response(HostCommand(name, "[]", "c", "p")), R"(["Error", -2])") << name;
  }
  // Each set knows only its own names.
  EXPECT_EQ(Response(HostCommand("GetVersion", "[]", "c", "p")), R"(["Error", -2])");
  EXPECT_EQ(Response(PageCommand("GetHostVersion", "[]", "c", "p")), R"(["Error", -2])");
}

}  // namespace
}  // namespace vorneth::testing
