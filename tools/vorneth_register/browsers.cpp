#include "browsers.h"

namespace vorneth::reg {
namespace {

constexpr Browser kBrowsers[] = {
    {"chrome", "Chrome", Family::kChromium, false, "google-chrome/NativeMessagingHosts", "/etc/opt",
     "chrome/native-messaging-hosts", "Software\\Google\\Chrome\\NativeMessagingHosts\\org.vorneth.host"},
    {"chromium", "Chromium", Family::kChromium, false, "chromium/NativeMessagingHosts", "/etc",
     "chromium/native-messaging-hosts", "Software\\Chromium\\NativeMessagingHosts\\org.vorneth.host"},
    {"edge", "Edge", Family::kChromium, false, "microsoft-edge/NativeMessagingHosts", "/etc/opt",
     "edge/native-messaging-hosts", "Software\\Microsoft\\Edge\\NativeMessagingHosts\\org.vorneth.host"},
    {"brave", "Brave", Family::kChromium, false, "BraveSoftware/Brave-Browser/NativeMessagingHosts", "/etc/opt",
     "brave.com/brave/native-messaging-hosts",
     "Software\\BraveSoftware\\Brave-Browser\\NativeMessagingHosts\\org.vorneth.host"},
    {"vivaldi", "Vivaldi", Family::kChromium, false, "vivaldi/NativeMessagingHosts", "/etc/opt",
     "vivaldi/native-messaging-hosts", "Software\\Vivaldi\\NativeMessagingHosts\\org.vorneth.host"},
    {"firefox", "Firefox", Family::kFirefox, true, ".mozilla/native-messaging-hosts", "/usr/lib",
     "mozilla/native-messaging-hosts", "Software\\Mozilla\\NativeMessagingHosts\\org.vorneth.host"},
};

// The texts of the Chromium family's native-messaging errors.
constexpr BrowserTexts kChromiumTexts = {
    "Specified native messaging host not found.",
    "Access to the specified native messaging host is forbidden.",
    "Failed to start native messaging host.",
    "Native host has exited.",
};

constexpr BrowserTexts kFirefoxTexts = {
    "No such native application org.vorneth.host",
    "This extension does not have permission to use native application org.vorneth.host",
    "An unexpected error occurred",
    "An unexpected error occurred",
};

}  // namespace

const char* ScopeName(Scope scope) {
  return scope == Scope::kUser ? "user" : "system";
}

std::span<const Browser> AllBrowsers() {
  return kBrowsers;
}

const Browser* FindBrowser(std::string_view name) {
  for (const Browser& browser : kBrowsers) {
    if (browser.m_name == name) return &browser;
  }
  return nullptr;
}

const BrowserTexts& TextsOf(const Browser& browser) {
  return browser.m_family == Family::kFirefox ? kFirefoxTexts : kChromiumTexts;
}

}  // namespace vorneth::reg
