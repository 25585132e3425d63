// A fresh process for the proxy credential tests, which need an environment
// of their own (the session bus, PATH, DISPLAY): runs one call and prints
// its outcome on standard output.
//
//   proxy_credentials_probe read <target>    "found\n<user>\n<password>\n" or "none\n"
//   proxy_credentials_probe prompt <target>  "answered\n<user>\n<password>\n" or "cancelled\n"
//   proxy_credentials_probe reads -          one read for each line of standard input
//                                            (the target), until the input ends
//
// Exit status 2 when the arguments are wrong.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "net/proxy_credentials.h"

namespace {

void Call(std::string_view call, const std::string& target) {
  vorneth::SecretText user;
  vorneth::SecretText password;
  const bool got = call == "read" ? vorneth::ReadStoredProxyCredential(target, user, password)
                                  : vorneth::PromptProxyCredentials(target, user, password);
  if (!got) {
    std::fputs(call == "read" ? "none\n" : "cancelled\n", stdout);
  } else {
    std::printf("%s\n%s\n%s\n", call == "read" ? "found" : "answered", user.c_str(), password.c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string_view call = argv[1];
  if (call == "reads") {
    for (std::string target; std::getline(std::cin, target);) Call("read", target);
    return 0;
  }
  if (call != "read" && call != "prompt") return 2;
  Call(call, argv[2]);
  return 0;
}
