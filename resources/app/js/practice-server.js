// The practice's own server, reached only through the desktop program's relay: its address and
// key live in the practice document, and secure upload links for clients are made, listed and
// revoked there.

import { isPlainObject, messageOf } from './format.js';

export const NOT_SET_UP = "The practice's server isn't set up yet. Add its address under Settings → Practice server.";

export function serverSettings(doc) {
  const server = isPlainObject(doc?.settings?.server) ? doc.settings.server : {};
  return {
    base: typeof server.base === 'string' ? server.base.trim() : '',
    key: typeof server.key === 'string' ? server.key.trim() : '',
  };
}

// A relay address is https on the hosting platform, or plain http on this machine in tests; the
// desktop program has the final say.
export function checkAddress(base) {
  const text = String(base ?? '').trim();
  if (!text) return 'Enter the address of your practice server.';
  let url;
  try {
    url = new URL(text);
  } catch {
    return "That doesn't look like a web address. It starts with https://";
  }
  if (url.protocol !== 'https:' && url.protocol !== 'http:') return 'The address must start with https://';
  if (url.search || url.hash || url.username) return 'Enter the address without anything after the server name.';
  return '';
}

const decoder = new TextDecoder();

async function request(bridge, settings, path, { method = 'GET', body } = {}) {
  if (!bridge?.relay) throw new Error("The practice's server can only be reached from Quillpost's desktop program.");
  if (!settings.base) throw new Error(NOT_SET_UP);
  const headers = { 'x-qp-key': settings.key };
  if (body !== undefined) headers['content-type'] = 'application/json';
  let answer;
  try {
    answer = await bridge.relay({ base: settings.base, path, method, headers, body: body === undefined ? undefined : JSON.stringify(body) });
  } catch (error) {
    throw new Error(messageOf(error));
  }
  const text = answer.body && answer.body.length ? decoder.decode(answer.body) : '';
  let parsed = null;
  try {
    parsed = text ? JSON.parse(text) : null;
  } catch {
    parsed = null;
  }
  if (answer.status < 200 || answer.status > 299) {
    const reason = isPlainObject(parsed) && typeof parsed.error === 'string' ? `: ${parsed.error}` : '';
    if (answer.status === 401 || answer.status === 403) throw new Error(`The practice's server didn't accept the key${reason}. Check it under Settings → Practice server.`);
    throw new Error(`The practice's server answered ${answer.status}${reason}.`);
  }
  return parsed;
}

export async function whoAmI(bridge, settings) {
  const me = await request(bridge, settings, '/api/me');
  return isPlainObject(me) && typeof me.firm === 'string' ? me.firm : '';
}

function asLink(value) {
  if (!isPlainObject(value) || typeof value.id !== 'string' || typeof value.url !== 'string') return null;
  return {
    id: value.id,
    url: value.url,
    label: typeof value.label === 'string' ? value.label : '',
    client: typeof value.client === 'string' ? value.client : '',
    expires: typeof value.expires === 'string' ? value.expires : '',
  };
}

export async function listLinks(bridge, settings, clientId) {
  const answer = await request(bridge, settings, '/api/r');
  const links = Array.isArray(answer?.links) ? answer.links.map(asLink).filter(Boolean) : [];
  return links.filter((link) => link.client === clientId);
}

export async function createLink(bridge, settings, clientId, { label = '', days = 14 } = {}) {
  const link = asLink(await request(bridge, settings, '/api/r', { method: 'POST', body: { client: clientId, label, days } }));
  if (!link) throw new Error("The practice's server didn't send back a link.");
  return link;
}

// Identifiers come from the server; one that the relay would not pass is refused here already.
export async function revokeLink(bridge, settings, id) {
  if (!/^[A-Za-z0-9_-]{12,40}$/.test(String(id))) throw new Error("That link can't be revoked from here.");
  await request(bridge, settings, `/api/r/${id}`, { method: 'DELETE' });
}
