// The options page: the user's view of the host's permissions and add-ons,
// and the only place from which the host commands that change or reveal
// them are sent (the worker refuses them from web pages, gate.js).
//
// The page talks to the host through native ports of its own, with the page
// library over a native-port transport. Reading the lists, switching the
// mode, removing a site and uninstalling run in one session whose page is
// this options page (an origin the host does not take, which those commands
// do not need). Denying or allowing a site needs a session for that site:
// the host applies both to its session's origin, so each opens a host
// process with "Create" for the site, sends the one command and closes it.
// After a change the worker is told, so that every open page session reads
// the permissions again.
import {readHostName, writeHostName} from './settings.js';
import {Vorneth} from './vorneth.js';

const PORT_ID = 'options';
const TIMEOUT_MS = 30000;

const $ = (id) => document.getElementById(id);

// A session with a host process of its own for the page `url`; close() ends
// the process.
async function openSession(url) {
  const port = chrome.runtime.connectNative(await readHostName());
  const transport = {
    send(message) { port.postMessage({...message, portId: PORT_ID}); },
    listen(handler) {
      port.onMessage.addListener(handler);
      port.onDisconnect.addListener(() => {
        const reason = chrome.runtime.lastError ? chrome.runtime.lastError.message : 'The host ended.';
        handler({rtype: 'Vorneth-Closed', message: reason});
      });
    },
  };
  const vorneth = new Vorneth({transport, timeoutMs: TIMEOUT_MS});
  vorneth.on('closed', () => {
    if (listing !== null && listing.vorneth === vorneth) listing = null;
  });
  transport.send({type: 'Vorneth-I', command: 'Create', url, version: chrome.runtime.getManifest().version});
  return {vorneth, close: () => port.disconnect()};
}

// The session of this page, opened on first use and again after it closed.
let listing = null;
async function listingSession() {
  if (listing === null) listing = await openSession(window.location.href);
  return listing.vorneth;
}

// A site's origin as the browser reports it for its pages ("https://a.example",
// with a port only when it is not the scheme's default); null for a text
// that is not an http or https address.
function originOf(text) {
  try {
    const url = new URL(text.trim());
    return url.protocol === 'http:' || url.protocol === 'https:' ? url.origin : null;
  } catch {
    return null;
  }
}

function showStatus(text, isError = false) {
  $('status').textContent = text;
  $('status').className = isError ? 'error' : '';
}

// Runs one user action: the page is "busy" until it and the refresh of the
// lists are done; failures are shown, not thrown.
async function act(action) {
  document.body.dataset.state = 'busy';
  try {
    const done = await action();
    if (done) showStatus(done);
    try {
      await showLists();
    } catch (error) {
      showStatus(`${done ? `${done} ` : ''}The host's lists cannot be read: ${error.message}`, true);
    }
  } catch (error) {
    showStatus(error.message, true);
  } finally {
    document.body.dataset.state = 'ready';
  }
}

// An answer that should be a list; anything else (a host of another kind)
// shows as an empty one.
const listOf = (answer) => (Array.isArray(answer) ? answer : []);

async function permissionsChanged() { await chrome.runtime.sendMessage({type: 'Vorneth-PermissionsChanged'}); }

function listItem(text, buttonText, onClick) {
  const item = document.createElement('li');
  item.textContent = text;
  const button = document.createElement('button');
  button.type = 'button';
  button.textContent = buttonText;
  button.addEventListener('click', () => act(onClick));
  item.append(button);
  return item;
}

async function showLists() {
  const vorneth = await listingSession();
  const whitelist = (await vorneth.hostCommand('IsWhitelistMode', [])) === 1;
  const origins = listOf(await vorneth.hostCommand('ReadVornethPermListDB', []));
  const records = listOf(await vorneth.hostCommand('ReadVornethAddOnListDB', []));

  $('mode-whitelist').checked = whitelist;
  $('mode-blacklist').checked = !whitelist;
  $('list-title').textContent = whitelist ? 'Allowed sites' : 'Denied sites';
  const listName = whitelist ? 'whitelisted' : 'blacklisted';
  $('permissions')
      .replaceChildren(...origins.map((origin) => listItem(String(origin), 'Remove', async () => {
                                        await vorneth.hostCommand('RemoveFromPermList', [String(origin), listName]);
                                        await permissionsChanged();
                                        return `Removed ${origin} from the list.`;
                                      })));

  const addons = [];
  for (const record of records) {
    for (const version of listOf(record.version)) {
      const title = `${record.name || record.uuid} ${version} (${record.uuid})`;
      addons.push(listItem(title, 'Uninstall', async () => {
        const result = await vorneth.hostCommand('UninstallAddOn', [String(record.uuid), String(version)]);
        return result === 200 ? `Uninstalled ${title}.` : `${title} was not installed.`;
      }));
    }
  }
  $('addons').replaceChildren(...addons);
}

// Denies or allows the site in the origin field.
async function setSite(command) {
  const origin = originOf($('origin').value);
  if (origin === null) throw new Error('Enter a site as an http or https address, such as https://shop.example.');
  const session = await openSession(`${origin}/`);
  try {
    const answered = await session.vorneth.hostCommand(command, []);
    if (answered !== origin) throw new Error(`The host took the site as "${answered}", not ${origin}.`);
  } finally {
    session.close();
  }
  await permissionsChanged();
  return `${command === 'SetDomainDenied' ? 'Denied' : 'Allowed'} ${origin}.`;
}

async function setMode(mode) {
  await (await listingSession()).hostCommand('SetPermissionMode', [mode]);
  await permissionsChanged();
  return mode === 'whitelist' ? 'Only the allowed sites may use add-ons.' :
                                'Every site but the denied ones may use add-ons.';
}

async function saveHostName() {
  const name = $('host-name').value.trim();
  if (!(await writeHostName(name))) throw new Error(`"${name}" is not a native host name.`);
  if (listing !== null) listing.close();
  listing = null;
  return `Pages opened from now on use the host ${await readHostName()}.`;
}

$('deny').addEventListener('click', () => act(() => setSite('SetDomainDenied')));
$('allow').addEventListener('click', () => act(() => setSite('SetDomainAllowed')));
for (const id of ['mode-blacklist', 'mode-whitelist']) {
  $(id).addEventListener('change', (event) => act(() => setMode(event.target.value)));
}
$('host-form').addEventListener('submit', (event) => {
  event.preventDefault();
  act(saveHostName);
});

readHostName().then((name) => {
  $('host-name').value = name;
  act(() => null);
});
