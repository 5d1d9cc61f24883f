// Hands bytes to the web view as a download. The desktop program asks where to save it (in the
// Downloads folder to begin with) and tells the page how it ended through window.__qpDownloaded,
// so the page says a file is saved only once it is.

const waiting = new Map();

// The desktop program's report: {url, result: 'saved' | 'cancelled' | 'failed', name, folder,
// inDownloads, size, message}. Reports for downloads this page isn't waiting for are ignored.
export function downloadEnded(record) {
  const pending = waiting.get(record?.url);
  if (!pending) return false;
  waiting.delete(record.url);
  if (record.result === 'saved') pending.resolve({ result: 'saved', name: String(record.name ?? ''), folder: String(record.folder ?? ''), inDownloads: record.inDownloads === true, size: Number(record.size) });
  else if (record.result === 'cancelled') pending.resolve({ result: 'cancelled' });
  else pending.reject(new Error(`Quillpost couldn't save the file${record.message ? `: ${record.message}` : '.'}`));
  return true;
}

if (typeof window !== 'undefined') window.__qpDownloaded = downloadEnded;

// Resolves to the outcome: {result: 'saved', …} or {result: 'cancelled'}; rejects with the reason
// when the file couldn't be written. In a web browser, which tells the page nothing, it resolves
// to {result: 'handed-over'} at once.
export function saveBytes(bytes, fileName, type = 'application/pdf', { desktop = Boolean(globalThis.window?.quillpost) } = {}) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const ended = desktop
    ? new Promise((resolve, reject) => waiting.set(url, { resolve, reject }))
    : Promise.resolve({ result: 'handed-over' });
  const link = document.createElement('a');
  link.href = url;
  link.download = fileName;
  link.hidden = true;
  document.body.append(link);
  link.click();
  link.remove();
  // The blob stays while the user is at the save dialog, however long that takes.
  const release = () => setTimeout(() => URL.revokeObjectURL(url), desktop ? 0 : 60000);
  ended.then(release, release);
  return ended;
}

// What the user is told once the download ended; null when they cancelled it.
export function savedMessage(outcome, fileName, more = '') {
  const tail = more ? ` ${more}` : '';
  if (outcome?.result === 'saved') {
    const name = outcome.name || fileName;
    return outcome.inDownloads ? `${name} is in your Downloads folder.${tail}` : `${name} is saved in ${outcome.folder}.${tail}`;
  }
  if (outcome?.result === 'handed-over') return `${fileName} was handed to your browser's downloads.${tail}`;
  return null;
}

// Saves the bytes and says where they went, once they are there; a failure rejects with the
// reason for the caller to show. Resolves to the outcome.
export async function saveWithNotice(toast, bytes, fileName, { type, more } = {}) {
  const outcome = await saveBytes(bytes, fileName, type);
  const message = savedMessage(outcome, fileName, more);
  if (message) toast(message);
  return outcome;
}
