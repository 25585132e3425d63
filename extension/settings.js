// The extension's one setting: the name of the native host it talks to.
// Kept in chrome.storage.local, which only the extension's own pages and
// worker can reach: a web page cannot choose the host. Another name serves
// a developer who registered a second build (or a stand-in) beside the
// installed host.
export const DEFAULT_HOST_NAME = 'org.vorneth.host';

// Native-messaging host names: lower-case letters, digits and "_", in
// dot-separated parts.
const HOST_NAME_PATTERN = /^[a-z0-9_]+(\.[a-z0-9_]+)*$/;

export function isHostName(name) { return typeof name === 'string' && HOST_NAME_PATTERN.test(name); }

// The configured host name; the default when none (or a broken one) is set.
export async function readHostName() {
  const stored = await chrome.storage.local.get('hostName');
  return isHostName(stored.hostName) ? stored.hostName : DEFAULT_HOST_NAME;
}

// Sets the host name; an empty name returns to the default. False for a
// name that is not a host name.
export async function writeHostName(name) {
  if (name === '' || name === DEFAULT_HOST_NAME) {
    await chrome.storage.local.remove('hostName');
    return true;
  }
  if (!isHostName(name)) return false;
  await chrome.storage.local.set({hostName: name});
  return true;
}
