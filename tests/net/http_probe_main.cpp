// Runs the HTTP platform services in a process of its own, so that tests
// can give them an environment (proxy variables, the test authority)
// without changing their own.
//
//   http_probe proxy <url>            prints "proxy <text>" (empty: direct)
//                                     or "error <code>"
//   http_probe fetch <server> <path>  prints "status <code> bytes <count>"
//                                     or "error <code>"
#include <cstdio>
#include <string>
#include <vector>

#include "net/http_transport.h"
#include "net/proxy_settings.h"

namespace {

int Proxy(const std::string& url) {
  vorneth::AutoProxyOptions options;
  options.m_flags = vorneth::kAutoProxyAutoDetect;
  options.m_autoDetectTypes = vorneth::kAutoDetectDhcpAndDns;
  std::string proxy;
  vorneth::HttpError error = vorneth::kHttpOk;
  if (!vorneth::GetProxyForUrl(url, options, proxy, error)) {
    std::printf("error %u\n", error);
    return 1;
  }
  std::printf("proxy %s\n", proxy.c_str());
  return 0;
}

int Fetch(const std::string& server, const std::string& path) {
  const auto transport = vorneth::CreateHttpTransport();
  vorneth::ServerParts parts;
  uint32_t status = 0;
  size_t total = 0;
  vorneth::HttpError error = transport->CrackServer(server, parts);
  if (error == vorneth::kHttpOk) error = transport->OpenSession("Vorneth-UserAgent", "", "");
  if (error == vorneth::kHttpOk) error = transport->Connect(parts.m_host, parts.m_port);
  if (error == vorneth::kHttpOk) error = transport->OpenRequest(path, parts.m_scheme == "https");
  if (error == vorneth::kHttpOk) error = transport->SendRequest();
  if (error == vorneth::kHttpOk) error = transport->ReceiveResponse();
  if (error == vorneth::kHttpOk) error = transport->QueryStatusCode(status);
  std::vector<uint8_t> buffer(65536);
  for (size_t count = 1; error == vorneth::kHttpOk && count != 0;) {
    error = transport->QueryDataAvailable(count);
    size_t read = 0;
    if (error == vorneth::kHttpOk && count != 0) error = transport->ReadData(buffer.data(), buffer.size(), read);
    total += read;
  }
  if (error != vorneth::kHttpOk) {
    std::printf("error %u\n", error);
    return 1;
  }
  std::printf("status %u bytes %zu\n", status, total);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "proxy") return Proxy(args[1]);
  if (args.size() == 3 && args[0] == "fetch") return Fetch(args[1], args[2]);
  std::fprintf(stderr, "usage: http_probe proxy <url> | fetch <server> <path>\n");
  return 2;
}
