// What a web page may send to the host, decided here and nowhere else.
//
// The host answers whatever it is sent: it trusts its caller, the extension.
// So the extension is the gate between pages and the host:
// - page commands ("type" "Vorneth") pass: the host's own permission check
//   refuses them for a blocked origin;
// - of the host commands ("type" "Vorneth-I") only the harmless queries pass.
//   The others change or reveal the user's choices (a blocked page could
//   unblock itself, any page could read which sites the user allowed), so
//   they come from the options page alone;
// - "Create" never passes: the worker sends it itself, with the URL the
//   browser reports for the page, so a page cannot name another origin;
// - the members the host trusts ("type", "portId", "url", "version") are
//   never copied from the page: the worker builds every request afresh.

export const PAGE_COMMAND = 'Vorneth';
export const HOST_COMMAND = 'Vorneth-I';
// Answered by the worker itself, without the host: a round trip through the
// extension alone.
export const PING = 'Vorneth-Ping';

// Host commands a web page may send.
export const PAGE_HOST_QUERIES = new Set(['GetHostVersion', 'IsDomainBlocked']);

// Callback ids the worker uses for its own requests; a page's may not
// start with it.
export const RESERVED_CALLBACK_PREFIX = 'vorneth-extension:';
const MAX_NAME_LENGTH = 256;

function isName(value) { return typeof value === 'string' && value.length > 0 && value.length <= MAX_NAME_LENGTH; }

// Judges one message from a page. Returns {request} with the request to
// send to the host (without its "portId"), {ping: callbackId}, or {refusal}
// with the text the page gets, and the page's callback id when it had one.
export function judgePageMessage(message) {
  if (message === null || typeof message !== 'object' || Array.isArray(message)) {
    return {refusal: 'The extension takes JSON objects only.', callbackId: null};
  }
  const {type, command, params, callbackId} = message;
  const refuse = (text) => ({refusal: text, callbackId: isName(callbackId) ? callbackId : null});
  if (!isName(callbackId)) return refuse('A message needs a "callbackId" text of 1 to 256 characters.');
  if (callbackId.startsWith(RESERVED_CALLBACK_PREFIX)) {
    return refuse(`Callback ids starting with "${RESERVED_CALLBACK_PREFIX}" are the extension's own.`);
  }
  if (type === PING) return {ping: callbackId};
  if (!isName(command)) return refuse('A message needs a "command" text of 1 to 256 characters.');
  if (params !== undefined && !Array.isArray(params)) return refuse('"params" must be an array.');
  if (type === HOST_COMMAND) {
    if (command === 'Create') {
      return refuse(
          'A page cannot send "Create": the extension starts the session itself, for the page the browser reports.');
    }
    if (!PAGE_HOST_QUERIES.has(command)) {
      return refuse(`A page cannot send the host command "${command}": only the extension's options page can.`);
    }
  } else if (type !== PAGE_COMMAND) {
    return refuse(`The extension does not know the message type ${JSON.stringify(type)}.`);
  }
  return {request: {type, command, params: params === undefined ? [] : params, callbackId}};
}
