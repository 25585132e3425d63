// The scripted test proxy (tests/support/scripted_proxy.py) against the curl
// command-line tool: what the client's pass-sequence tests rely on, that it
// finishes NTLM handshakes, judges sends and logs them as documented.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "support/file_bytes.h"
#include "support/scratch_dir.h"

namespace vorneth {
namespace {

constexpr auto kWait = std::chrono::seconds(20);

// A running proxy; ends when the object does (its input closes).
class ScriptedProxy {
 public:
  ScriptedProxy(const std::string& log, const std::string& fail) {
    if (!m_child.Start({{SCRIPTED_PROXY_PATH, "--log", log, "--fail", fail}, {}, {}})) {
      ADD_FAILURE() << m_child.error();
      return;
    }
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (m_child.Read(line, std::chrono::milliseconds(200)) == ReadStatus::kEndOfStream) break;
    }
    m_port = line.substr(0, line.find('\n'));
  }
  ~ScriptedProxy() {
    m_child.CloseInput();
    if (!m_child.Wait(kWait)) ADD_FAILURE() << "the proxy did not end with its input";
  }
  ScriptedProxy(const ScriptedProxy&) = delete;
  ScriptedProxy& operator=(const ScriptedProxy&) = delete;

  // The HTTP status curl saw through the proxy with `auth` ("--proxy-ntlm",
  // "--proxy-basic") and `credential`.
  std::string Fetch(const std::string& auth, const std::string& credential) const {
    ChildProcess curl;
    if (!curl.Start({{"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-x", "http://127.0.0.1:" + m_port, auth,
                      "-U", credential, "http://example.test/addon.pkg"},
                     {{"no_proxy", std::nullopt}, {"NO_PROXY", std::nullopt}},
                     {}})) {
      return curl.error();
    }
    curl.CloseInput();
    std::string output;
    while (curl.Read(output, kWait) == ReadStatus::kData) {
    }
    curl.Wait(kWait);
    return output;
  }

 private:
  ChildProcess m_child;
  std::string m_port;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(ScriptedProxyTest, JudgesSendsAndLogsSchemesAndUsers) {
  const testing::ScratchDir scratch;
  const std::string log = scratch / "proxy.log";
  {
    const ScriptedProxy proxy(log, "2");
    EXPECT_EQ(proxy.Fetch("--proxy-ntlm", "DOMAIN\\alice:secret"), "407");
    EXPECT_EQ(proxy.Fetch("--proxy-basic", "bob:pa ss|word"), "407");
    EXPECT_EQ(proxy.Fetch("--proxy-ntlm", "carol:other"), "200");
  }
  const std::string lines = testing::ReadBytes(log);
  EXPECT_EQ(Count(lines, "\n"), 5u) << lines;
  EXPECT_EQ(Count(lines, "\"send\": true"), 3u) << lines;
  EXPECT_EQ(Count(lines, "\"scheme\": \"NTLM-type1\""), 2u) << lines;
  EXPECT_NE(lines.find("\"scheme\": \"NTLM-type3\", \"user\": \"alice\", \"domain\": \"DOMAIN\""), std::string::npos)
      << lines;
  EXPECT_NE(lines.find("\"scheme\": \"Basic\", \"user\": \"bob\", \"domain\": null, \"password\": \"pa ss|word\""),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("\"user\": \"carol\", \"domain\": \"\", \"password\": null, \"send\": false, \"status\": 200"),
            std::string::npos)
      << lines;
}

TEST(ScriptedProxyTest, AlwaysRefuses) {
  const testing::ScratchDir scratch;
  const std::string log = scratch / "proxy.log";
  {
    const ScriptedProxy proxy(log, "always");
    for (int send = 0; send < 3; ++send) EXPECT_EQ(proxy.Fetch("--proxy-basic", "dave:x"), "407");
  }
  EXPECT_EQ(Count(testing::ReadBytes(log), "\"status\": 407"), 3u);
}

}  // namespace
}  // namespace vorneth
