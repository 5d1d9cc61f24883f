// Fingerprint unlock as the page sees it: what the native side answers, in words for the user.

export const OUTCOME_MESSAGES = {
  fingersChanged: 'Your enrolled fingerprints changed, so fingerprint unlock was turned off. Enter your passphrase, then turn it on again under Settings → Security.',
  lockout: 'Too many fingers that did not match. Enter your passphrase instead.',
  unreadable: "The saved passphrase couldn't be opened. Enter your passphrase instead.",
  unsupported: '',
  cancelled: '',
};

// { passphrase } for a passphrase, { message } for an outcome worth telling, {} otherwise.
export function readUnlock(answer) {
  if (typeof answer === 'string') return { passphrase: answer };
  if (answer && typeof answer === 'object') {
    const key = Object.keys(answer).find((k) => answer[k] === true && Object.hasOwn(OUTCOME_MESSAGES, k));
    if (key) return { outcome: key, message: OUTCOME_MESSAGES[key] };
  }
  return {};
}

// { available, reason } from the native side; unavailable with a reason when it can't say.
export async function fingerprintStatus(bridge) {
  if (!bridge) return { available: false, reason: 'Fingerprint unlock needs the Quillpost desktop program.' };
  try {
    const status = await (bridge.touchIdStatus ? bridge.touchIdStatus() : bridge.touchIdAvailable().then((available) => ({ available, reason: '' })));
    if (status && typeof status.available === 'boolean') return { available: status.available, reason: String(status.reason || '') };
  } catch (error) {
    return { available: false, reason: error.message };
  }
  return { available: false, reason: "Quillpost couldn't tell whether a fingerprint reader is there." };
}
