// The page library: a web page's side of the Vorneth host, as promises.
// A plain ES module without dependencies.
//
//   import { Vorneth } from "./vorneth.js";
//   const vorneth = new Vorneth();
//   await vorneth.installAddOns(base, [{packageURL, packageUUID, packageVersion}]);
//   const addon = await vorneth.createAddOnInstance(uuid, version);
//   vorneth.on("tick", (data) => console.log(JSON.parse(data)));
//   await addon.registerEvent("tick");
//   await addon.invoke("startTicks", {count: 3, intervalMs: 100});
//   await addon.dispose();
//
// Messages travel through the extension's content script (window.postMessage)
// to a host process of this page's own. Each call carries a callback id the
// library makes up, and its answer is found by it; messages without one
// (events, style and script, notices of the extension) go to the listeners
// registered with on(). A call the host refuses rejects with a VornethError.
//
// A transport other than the page's window (the options page talks to a
// native port directly) is an object with send(message) and
// listen(handler), handler receiving each message for the page.

const CHANNEL = 'vorneth';
const PAGE_COMMAND = 'Vorneth';
const HOST_COMMAND = 'Vorneth-I';

// What the codes of ["Error", code] answers mean.
export const ERROR_CODES = Object.freeze({
  [-1]:
      'The installation failed: the package list was empty or not a list, a package\'s download failed before any answer (or its URL was refused), or the disk could not take the add-on\'s files or its record (nor, for a removal, the record\'s removal).',
  [-2]: 'The host does not know the command.',
  [-3]: 'The page\'s origin is blocked by the user\'s permissions.',
  [-4]: 'A signature check failed: the package\'s inner archive, or the installed files of the add-on.',
  [-5]: 'The add-on version is not installed.',
  [-6]: 'The add-on library could not be loaded.',
  [-7]: 'The add-on could not create the instance.',
  [-8]: 'The package\'s manifest is missing or not valid.',
  [-9]: 'The answer was larger than the browser takes from the host (1 MiB), so the host sent this error instead.',
  [404]: 'The package was not found.',
  [413]: 'The package is larger than the host accepts.',
});

// Why a call failed: `kind` "host" (the host answered ["Error"] or
// ["Error", code]; `code` is the number, or null), "refused" (the extension
// did not let the message through), "closed" (no host, or the connection
// closed before the answer) or "timeout" (no answer in time).
export class VornethError extends Error {
  constructor(message, {kind, code = null, command = null, response = null}) {
    super(message);
    this.name = 'VornethError';
    this.kind = kind;
    this.code = code;
    this.command = command;
    this.response = response;
  }
}

// The meaning of an ["Error", code] answer's code.
export function describeErrorCode(code) {
  if (code === null || code === undefined) return 'The host refused the command.';
  if (ERROR_CODES[code] !== undefined) return ERROR_CODES[code];
  if (code >= 100 && code <= 599) return `The package's download answered HTTP status ${code}.`;
  return `The host answered the error code ${code}.`;
}

function isErrorAnswer(response) { return Array.isArray(response) && response[0] === 'Error' && response.length <= 2; }

// The page's window as transport, through the extension's content script.
export function windowTransport(target = window) {
  return {
    send(message) {
      target.postMessage({channel: CHANNEL, direction: 'to-extension', message}, target.location.origin);
    },
    listen(handler) {
      target.addEventListener('message', (event) => {
        const data = event.data;
        if (event.source !== target || !data || data.channel !== CHANNEL || data.direction !== 'to-page') return;
        handler(data.message);
      });
    },
  };
}

// An add-on instance of this page. Events of the add-on come through the
// Vorneth object's on(): the host does not say which instance raised one.
export class AddOnInstance {
  constructor(vorneth, id, uuid, version) {
    this.vorneth = vorneth;
    this.id = id;
    this.uuid = uuid;
    this.version = version;
    this.disposed = false;
  }

  // Runs an add-on command. `params` is sent as text: a string as it is,
  // anything else as JSON. Resolves with the add-on's answer document.
  invoke(command, params = '') {
    const text = typeof params === 'string' ? params : JSON.stringify(params);
    return this.vorneth.pageCommand('InvokeAddOnInstance', [this.id, command, text]);
  }

  registerEvent(name) { return this.vorneth.pageCommand('RegisterAddOnEvent', [this.id, name]).then(() => true); }

  unregisterEvent(name) { return this.vorneth.pageCommand('UnregisterAddOnEvent', [this.id, name]).then(() => true); }

  async dispose() {
    await this.vorneth.pageCommand('DisposeAddOnInstance', [this.id, this.uuid, this.version]);
    this.disposed = true;
  }
}

export class Vorneth {
  // Options: `transport` (default: the page's window), `timeoutMs` for each
  // call (default 0: none).
  constructor({transport = windowTransport(), timeoutMs = 0} = {}) {
    this.transport = transport;
    this.timeoutMs = timeoutMs;
    // A prefix of this object's own, so that two libraries on one page never
    // take each other's answers.
    this.prefix = `v${Math.random().toString(36).slice(2, 10)}-`;
    this.lastCall = 0;
    this.pending = new Map();
    this.listeners = new Map();
    transport.listen((message) => this.receive(message));
  }

  // ---- Page commands -------------------------------------------------------

  // {host: "0x020F0000", extension: "1.0"}; answered also for a blocked page.
  async getVersion() {
    const [host, extension] = await this.pageCommand('GetVersion', []);
    return {host, extension};
  }

  // Installs packages: `packages` lists {packageURL, packageUUID,
  // packageVersion}, URLs relative to `baseUrl`. Resolves with 200 (installed)
  // or 0 (already installed); each package installed also raises the event
  // "AddOnInstallFinishEvent".
  async installAddOns(baseUrl, packages) {
    const [result] = await this.pageCommand('InstallAddOns', [baseUrl, packages]);
    return result;
  }

  async createAddOnInstance(uuid, version) {
    const [id] = await this.pageCommand('CreateAddOnInstance', [uuid, version]);
    return new AddOnInstance(this, id, uuid, version);
  }

  // "AddOnInstallFinishEvent" is the only event of the host itself.
  registerEvent(name) { return this.pageCommand('RegisterEvent', [name]).then(() => true); }

  unregisterEvent(name) { return this.pageCommand('UnregisterEvent', [name]).then(() => true); }

  // ---- Host queries --------------------------------------------------------

  getHostVersion() { return this.hostCommand('GetHostVersion', []); }

  // Whether the user blocked this page's origin (and the host reads the
  // permissions again).
  async isDomainBlocked() { return (await this.hostCommand('IsDomainBlocked', [])) === 1; }

  // ---- Other ---------------------------------------------------------------

  // Resolves when the extension is there (answered by its content script);
  // rejects with kind "timeout" after `timeoutMs`.
  ready(timeoutMs = 1000) { return this.call({type: 'Vorneth-Hello'}, timeoutMs); }

  // A round trip through the extension alone, without the host.
  ping() { return this.call({type: 'Vorneth-Ping'}); }

  pageCommand(command, params) { return this.call({type: PAGE_COMMAND, command, params}); }

  hostCommand(command, params) { return this.call({type: HOST_COMMAND, command, params}); }

  // Sends `message` with a new callback id; resolves with the answer's
  // "response", rejects with a VornethError.
  call(message, timeoutMs = this.timeoutMs) {
    const callbackId = `${this.prefix}${++this.lastCall}`;
    return new Promise((resolve, reject) => {
      const entry = {resolve, reject, command: message.command ?? message.type, timer: null};
      if (timeoutMs > 0) {
        entry.timer = setTimeout(() => {
          this.pending.delete(callbackId);
          reject(new VornethError(`No answer to "${entry.command}" within ${timeoutMs} ms.`, {
            kind: 'timeout',
            command: entry.command,
          }));
        }, timeoutMs);
      }
      this.pending.set(callbackId, entry);
      this.transport.send({...message, callbackId});
    });
  }

  // ---- Events --------------------------------------------------------------

  // Listens to `name`: an add-on's or the host's event (handler(data, message),
  // data the event's text), or one of the extension's notices:
  // "Vorneth-CSS" and "Vorneth-JS" (handler(text, message): an add-on's style
  // and script after each creation; the library applies neither),
  // "permission" (handler(blocked)) after the user changed the permissions,
  // "closed" (handler(reason)) when the host or the extension went away.
  on(name, handler) {
    if (!this.listeners.has(name)) this.listeners.set(name, new Set());
    this.listeners.get(name).add(handler);
    return this;
  }

  off(name, handler) {
    const handlers = this.listeners.get(name);
    if (handlers) handlers.delete(handler);
    return this;
  }

  emit(name, ...values) {
    for (const handler of [...(this.listeners.get(name) ?? [])]) {
      try {
        handler(...values);
      } catch (error) {
        setTimeout(() => {
          throw error;
        });
      }
    }
  }

  // ---- Routing -------------------------------------------------------------

  receive(message) {
    if (!message || typeof message !== 'object') return;
    const entry = typeof message.callbackId === 'string' ? this.pending.get(message.callbackId) : undefined;
    if (entry !== undefined) {
      this.pending.delete(message.callbackId);
      clearTimeout(entry.timer);
      this.settle(entry, message);
      return;
    }
    this.notice(message);
  }

  settle(entry, message) {
    const {command} = entry;
    if (message.rtype === 'Vorneth-Refused') {
      entry.reject(new VornethError(message.message, {kind: 'refused', command}));
    } else if (isErrorAnswer(message.response)) {
      const code = message.response.length === 2 ? message.response[1] : null;
      entry.reject(new VornethError(`${command}: ${describeErrorCode(code)}`, {
        kind: 'host',
        code,
        command,
        response: message.response,
      }));
    } else {
      entry.resolve(message.response);
    }
  }

  notice(message) {
    switch (message.rtype) {
      case 'Vorneth-E':
        this.emit(message.event, message.response, message);
        break;
      case 'Vorneth-CSS':
        this.emit('Vorneth-CSS', message.css, message);
        break;
      case 'Vorneth-JS':
        this.emit('Vorneth-JS', message.js, message);
        break;
      case 'Vorneth-Permission':
        this.emit('permission', message.blocked);
        break;
      case 'Vorneth-Closed':
        this.closed(message.message);
        break;
      default:
        break;  // an answer to another library's call, or to none
    }
  }

  // The connection ended: every call waiting for an answer fails.
  closed(reason) {
    const calls = [...this.pending.values()];
    this.pending.clear();
    for (const entry of calls) {
      clearTimeout(entry.timer);
      entry.reject(new VornethError(reason, {kind: 'closed', command: entry.command}));
    }
    this.emit('closed', reason);
  }
}
