// The browser test's page: uses the page library as a page would and
// offers the test driver (browser_test.py, through Runtime.evaluate) one
// function per step. Every step returns plain data the driver checks; every
// wait is bounded.
import {Vorneth, VornethError} from '/vorneth.js';

const CALL_TIMEOUT_MS = 20000;
const EVENT_TIMEOUT_MS = 10000;
const UUID = '{example}';
const VERSION = '1.0';

const vorneth = new Vorneth({timeoutMs: CALL_TIMEOUT_MS});

// What the page was told outside of answers, in order of arrival.
const notices = {
  ticks: [],
  installed: [],
  css: [],
  js: [],
  permission: [],
  closed: []
};
vorneth.on('tick', (data) => notices.ticks.push(JSON.parse(data)));
vorneth.on('AddOnInstallFinishEvent', (data) => notices.installed.push(JSON.parse(data)));
vorneth.on('Vorneth-CSS', (css) => notices.css.push(css));
vorneth.on('Vorneth-JS', (js) => notices.js.push(js));
vorneth.on('permission', (blocked) => notices.permission.push(blocked));
vorneth.on('closed', (reason) => notices.closed.push(reason));

// A failed call as data: {kind, code, message}; a call that succeeded where
// it should have failed gives {resolved: value}.
async function failure(promise) {
  try {
    return {resolved: (await promise) ?? null};
  } catch (error) {
    if (!(error instanceof VornethError)) return {other: String(error)};
    return {kind: error.kind, code: error.code, message: error.message};
  }
}

async function until(test, what) {
  const end = performance.now() + EVENT_TIMEOUT_MS;
  while (!test()) {
    if (performance.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 5));
  }
}

// The first answer, asked as soon as the page runs: the driver measures the
// browser's launch to this; `ms` is the part from the call (the service
// worker's start and the host's included).
window.firstAnswer = null;
const firstAsked = performance.now();
vorneth.getHostVersion().then(
    (version) => {
      window.firstAnswer = {version, at: Date.now(), ms: performance.now() - firstAsked};
    },
    (error) => {
      window.firstAnswer = {error: error.message, kind: error.kind, at: Date.now()};
    });

let addon = null;

const steps = {
  notices: () => notices,

  // Installs the example add-on from this server and makes an instance.
  async install(baseUrl) {
    const before = await failure(vorneth.createAddOnInstance(UUID, VERSION));
    const installed = await vorneth.installAddOns(baseUrl, [
      {packageURL: 'example.pkg', packageUUID: UUID, packageVersion: VERSION},
    ]);
    const again = await vorneth.installAddOns(baseUrl, [
      {packageURL: 'example.pkg', packageUUID: UUID, packageVersion: VERSION},
    ]);
    const missingPackage = await failure(vorneth.installAddOns(baseUrl, [
      {packageURL: 'missing.pkg', packageUUID: '{missing}', packageVersion: VERSION},
    ]));
    addon = await vorneth.createAddOnInstance(UUID, VERSION);
    return {before, installed, again, missingPackage, id: addon.id, version: await vorneth.getVersion()};
  },

  // An instance of the add-on installed already (by another page).
  async create() {
    addon = await vorneth.createAddOnInstance(UUID, VERSION);
    return {id: addon.id};
  },

  // Invokes the instance, also many calls at once (three host workers answer
  // them in any order: each must reach its own caller).
  async invoke() {
    const sum = await addon.invoke('add', {a: 2, b: 3});
    const about = await addon.invoke('about');
    // Half of them through a second library on the page: each library
    // takes its own answers only.
    const second = new Vorneth({timeoutMs: CALL_TIMEOUT_MS});
    const many = await Promise.all(Array.from({length: 30}, (_, i) => {
      const params = [addon.id, 'add', JSON.stringify({a: i, b: 1000})];
      return i % 2 === 0 ? addon.invoke('add', {a: i, b: 1000}) : second.pageCommand('InvokeAddOnInstance', params);
    }));
    const misrouted = many.filter((answer, i) => !answer || answer.sum !== i + 1000).length;
    const unknownCommand = await addon.invoke('nothing', '{}');
    return {sum, about, origin: window.location.origin, misrouted, unknownCommand};
  },

  // Ticks raised by the add-on's own thread, `count` of them, each
  // {"tick":i,"of":count}.
  async ticks(count) {
    notices.ticks.length = 0;
    await addon.registerEvent('tick');
    const refusedEvent = await failure(addon.registerEvent('clock'));
    const started = await addon.invoke('startTicks', {count, intervalMs: 10});
    await until(() => notices.ticks.length >= count, `${count} ticks`);
    // A little longer: a tick of another page would arrive now.
    await new Promise((resolve) => setTimeout(resolve, 100));
    await addon.unregisterEvent('tick');
    return {started, ticks: notices.ticks.slice(), refusedEvent};
  },

  async dispose() {
    const id = addon.id;
    await addon.dispose();
    const afterDispose = await failure(addon.invoke('add', {a: 1, b: 1}));
    const notInstalled = await failure(vorneth.createAddOnInstance('{missing}', VERSION));
    const unknownPageCommand = await failure(vorneth.pageCommand('NoSuchCommand', []));
    return {id, afterDispose, notInstalled, unknownPageCommand};
  },

  // The messages the extension must refuse, sent through the library and
  // straight onto the bridge.
  async forbidden() {
    const results = {};
    for (const command of ['SetDomainAllowed', 'Create', 'ReadVornethPermListDB', 'SetPermissionMode']) {
      results[command] = await failure(vorneth.hostCommand(command, []));
    }
    results.otherType = await failure(vorneth.call({type: 'Vorneth-X', command: 'GetVersion', params: []}));
    results.paramsNotList = await failure(vorneth.call({type: 'Vorneth', command: 'GetVersion', params: 'x'}));
    results.reservedId = await failure(new Promise((resolve, reject) => {
      // A raw message with a callback id of the extension's own.
      const id = 'vorneth-extension:refresh';
      const listener = (event) => {
        const message = event.data && event.data.direction === 'to-page' ? event.data.message : null;
        if (message && message.callbackId === id) {
          window.removeEventListener('message', listener);
          if (message.rtype === 'Vorneth-Refused') {
            reject(new VornethError(message.message, {kind: 'refused'}));
          } else {
            resolve(message);
          }
        }
      };
      window.addEventListener('message', listener);
      setTimeout(() => reject(new Error('no answer')), EVENT_TIMEOUT_MS);
      window.postMessage(
          {
            channel: 'vorneth',
            direction: 'to-extension',
            message: {type: 'Vorneth-I', command: 'IsDomainBlocked', params: [], callbackId: id}
          },
          location.origin);
    }));
    // A raw "Create" naming another origin, as a blocked page would try it.
    results.rawCreate = await failure(vorneth.call({
      type: 'Vorneth-I',
      command: 'Create',
      url: 'https://allowed.example/',
      version: '9',
      params: [],
    }));
    results.stillAnswers = await vorneth.getHostVersion();
    return results;
  },

  // After the options page denied this page's origin.
  async blocked() {
    await until(() => notices.permission.length > 0, 'the permission notice');
    const create = await failure(vorneth.createAddOnInstance(UUID, VERSION));
    const version = await vorneth.getVersion();
    const unblock = await failure(vorneth.hostCommand('SetDomainAllowed', []));
    const isBlocked = await vorneth.isDomainBlocked();
    const createAgain = await failure(vorneth.createAddOnInstance(UUID, VERSION));
    return {permission: notices.permission.slice(), create, version, unblock, isBlocked, createAgain};
  },

  // Whether the host's gate lets this page's commands through now: an
  // unknown page command answers -2 past the gate, -3 at it.
  async gate() {
    const answer = await failure(vorneth.pageCommand('NoSuchCommand', []));
    return answer.code === -2 ? 'open' : answer.code === -3 ? 'closed' : answer;
  },

  // `count` sequential round trips of `call`; their rate per second.
  async roundTrips(call, count) {
    const calls = {
      GetVersion: () => vorneth.getVersion(),
      GetHostVersion: () => vorneth.getHostVersion(),
      Ping: () => vorneth.ping(),
    };
    // The first calls may start a host process, and the first hundred or so
    // run before the engine has compiled the paths they take: not measured.
    for (let i = 0; i < 100; ++i) await calls[call]();
    const start = performance.now();
    for (let i = 0; i < count; ++i) await calls[call]();
    const ms = performance.now() - start;
    return {count, ms, perSecond: (count * 1000) / ms};
  },

  async hostVersion() { return failure(vorneth.getHostVersion()); },

  async ready() { return failure(vorneth.ready(2000)); },
};

window.vornethTest = steps;
document.getElementById('state').textContent = 'ready';
