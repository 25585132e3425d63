// The content script: a bridge between the page (window.postMessage) and the
// extension's service worker (one runtime port per page). It forwards and
// judges nothing: the worker decides what a page may send, and the page's
// identity comes from the browser (the port's sender), never from here.
//
// Window messages on the bridge are objects
//   {channel: "vorneth", direction: "to-extension" | "to-page", message}
// Only messages the page's own window posted are taken (frames and other
// windows are ignored). The port is opened on the page's first message;
// when it closes, the page gets a "Vorneth-Closed" message, and its next
// message opens a new port (a new host process, a new session).
(() => {
  const CHANNEL = 'vorneth';
  const TO_EXTENSION = 'to-extension';
  const TO_PAGE = 'to-page';
  const PORT_NAME = 'vorneth-page';

  let port = null;
  // The worker's own "Vorneth-Closed" came before the port closed: the
  // page has been told why, so the disconnection adds nothing.
  let closeExplained = false;

  function toPage(message) {
    window.postMessage({channel: CHANNEL, direction: TO_PAGE, message}, window.location.origin);
  }

  function openPort() {
    port = chrome.runtime.connect({name: PORT_NAME});
    closeExplained = false;
    port.onMessage.addListener((message) => {
      if (message && message.rtype === 'Vorneth-Closed') closeExplained = true;
      toPage(message);
    });
    port.onDisconnect.addListener(() => {
      const reason = chrome.runtime.lastError ? chrome.runtime.lastError.message : '';
      if (!closeExplained) {
        toPage({rtype: 'Vorneth-Closed', message: reason || 'The extension closed the connection.'});
      }
      port = null;
    });
  }

  window.addEventListener('message', (event) => {
    if (event.source !== window) return;
    const data = event.data;
    if (!data || data.channel !== CHANNEL || data.direction !== TO_EXTENSION) return;
    // A presence check, answered here: it costs no port and no host.
    if (data.message && data.message.type === 'Vorneth-Hello') {
      toPage({rtype: 'Vorneth-Hello', callbackId: data.message.callbackId});
      return;
    }
    try {
      if (port === null) openPort();
      port.postMessage(data.message);
    } catch (error) {
      // The extension was reloaded or removed under the page.
      port = null;
      toPage({rtype: 'Vorneth-Closed', message: String(error && error.message ? error.message : error)});
    }
  });
})();
