// The extension's service worker: carries each page's messages to a host
// process of its own and the host's messages back.
//
// One native port, and so one host process, per page connection: a host
// keeps one session (one page origin) per process, and answers carry the
// port id of the most recently read request, so two pages sharing a process
// would replace each other's session and receive each other's answers.
//
// For each page connection (a runtime port from the content script):
// - the worker opens the native port and sends "Create" itself, with the URL
//   the browser reports for the sending frame and the extension's version;
// - it sets "type" and "portId" of every request itself (gate.js judges
//   what the page sent), so the page's identity never comes from the page;
// - everything the host sends goes back to that page;
// - when the page goes away the native port is closed (the host sees the end
//   of its input and ends); when the host goes away (missing, refused,
//   crashed, a message too large) the page gets a "Vorneth-Closed" message
//   with the browser's reason, and its port is closed.
//
// The options page changes permissions through native ports of its own;
// afterwards it tells the worker, which asks every open session
// "IsDomainBlocked", so that each host process reads the new permissions
// before the page's next command.
import {HOST_COMMAND, judgePageMessage, RESERVED_CALLBACK_PREFIX} from './gate.js';
import {readHostName} from './settings.js';

const PAGE_PORT_NAME = 'vorneth-page';
const PERMISSIONS_CHANGED = 'Vorneth-PermissionsChanged';
const REFRESH_CALLBACK_ID = `${RESERVED_CALLBACK_PREFIX}refresh`;
// Requests a page may queue while its host process starts.
const MAX_QUEUED = 1024;

const connections = new Set();
let lastPortNumber = 0;

// The URL of the page behind a content script's port, or null when the
// sender is not a web page's frame in a tab.
function pageUrl(sender) {
  if (!sender || sender.id !== chrome.runtime.id || !sender.tab || typeof sender.url !== 'string') return null;
  return /^https?:\/\//i.test(sender.url) ? sender.url : null;
}

class PageConnection {
  constructor(pagePort, url) {
    this.pagePort = pagePort;
    this.url = url;
    this.portId = `page-${++lastPortNumber}`;
    this.nativePort = null;
    this.queue = [];
    this.closed = false;
    pagePort.onMessage.addListener((message) => this.fromPage(message));
    pagePort.onDisconnect.addListener(() => this.close(null));
  }

  async open() {
    let hostName = null;
    try {
      hostName = await readHostName();
      if (this.closed) return;
      this.nativePort = chrome.runtime.connectNative(hostName);
    } catch (error) {
      this.close(`The host ${hostName ?? ''} cannot be started: ${error.message}`);
      return;
    }
    this.nativePort.onMessage.addListener((message) => this.fromHost(message));
    this.nativePort.onDisconnect.addListener(() => {
      const reason = chrome.runtime.lastError ? chrome.runtime.lastError.message : 'The host ended.';
      this.nativePort = null;
      this.close(reason);
    });
    this.toHost({type: HOST_COMMAND, command: 'Create', url: this.url, version: chrome.runtime.getManifest().version});
    for (const request of this.queue.splice(0)) this.toHost(request);
  }

  fromPage(message) {
    const verdict = judgePageMessage(message);
    if (verdict.refusal !== undefined) {
      this.toPage({rtype: 'Vorneth-Refused', callbackId: verdict.callbackId, message: verdict.refusal});
    } else if (verdict.ping !== undefined) {
      this.toPage({rtype: 'Vorneth-Ping', callbackId: verdict.ping});
    } else if (this.nativePort !== null) {
      this.toHost(verdict.request);
    } else if (this.queue.length < MAX_QUEUED) {
      this.queue.push(verdict.request);
    } else {
      this.toPage({
        rtype: 'Vorneth-Refused',
        callbackId: verdict.request.callbackId,
        message: 'Too many requests while the host starts.',
      });
    }
  }

  fromHost(message) {
    // The answers to the worker's own refreshes tell the page its new state.
    if (message && message.callbackId === REFRESH_CALLBACK_ID) {
      this.toPage({rtype: 'Vorneth-Permission', blocked: message.response === 1});
      return;
    }
    this.toPage(message);
  }

  // Asks the host process to read the permissions again.
  refreshPermission() {
    const request = {type: HOST_COMMAND, command: 'IsDomainBlocked', params: [], callbackId: REFRESH_CALLBACK_ID};
    if (this.nativePort !== null) this.toHost(request);
    // Not started yet: its "Create" reads the permissions anyway.
  }

  toHost(request) { this.nativePort.postMessage({...request, portId: this.portId}); }

  toPage(message) {
    if (this.closed) return;
    try {
      this.pagePort.postMessage(message);
    } catch {
      this.close(null);
    }
  }

  // Ends the connection; `reason` (the host's side ended) is told to the page.
  close(reason) {
    if (this.closed) return;
    if (reason !== null) this.toPage({rtype: 'Vorneth-Closed', message: reason});
    this.closed = true;
    connections.delete(this);
    if (this.nativePort !== null) {
      this.nativePort.disconnect();
      this.nativePort = null;
    }
    try {
      this.pagePort.disconnect();
    } catch {
      // The page went first.
    }
  }
}

chrome.runtime.onConnect.addListener((pagePort) => {
  const url = pageUrl(pagePort.sender);
  if (pagePort.name !== PAGE_PORT_NAME || url === null) {
    pagePort.disconnect();
    return;
  }
  const connection = new PageConnection(pagePort, url);
  connections.add(connection);
  connection.open();
});

// From the options page only: the permissions changed.
chrome.runtime.onMessage.addListener((message, sender, sendResponse) => {
  const fromOptions = sender.id === chrome.runtime.id && typeof sender.url === 'string' &&
      sender.url.startsWith(chrome.runtime.getURL(''));
  if (!fromOptions || !message || message.type !== PERMISSIONS_CHANGED) return false;
  for (const connection of connections) connection.refreshPermission();
  sendResponse({refreshed: connections.size});
  return false;
});
