// Small helpers for turning values into text the user reads.

export function isPlainObject(value) {
  return typeof value === 'object' && value !== null && !Array.isArray(value);
}

// The sentence to show for a failed call. The desktop program rejects with an Error
// whose message is already written for the user, so it is shown as is.
export function messageOf(error) {
  if (error instanceof Error && error.message) return error.message;
  if (typeof error === 'string' && error.trim()) return error;
  if (isPlainObject(error) && typeof error.message === 'string' && error.message) return error.message;
  return 'Something went wrong and Quillpost gave no reason.';
}

// What the user reads of an error: the reason without where it happened or how. Web
// addresses, server names and IP addresses become "the server"; library codes in brackets
// ("(curl error 7)", "[errno 111]") are dropped. `details` keeps the original when it differed.
const ADDRESS = /\b(?:https?|wss?):\/\/[^\s"'<>)]+/gi;
const HOST = /(?<![@\w.-])(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+(?:com|org|net|ca|io|dev|app|cloud|local|localdomain|internal|lan|test|example|invalid)(?::\d+)?\b(?![@\w-])/gi;
const IP = /(?<![\w.])(?:\d{1,3}\.){3}\d{1,3}(?::\d+)?(?![\w.])|\[[0-9a-f:]+\](?::\d+)?/gi;
const CODES = /\s*[([](?:curl|errno|code|error code|os error|gerror|soup|status)\b[^)\]]*[)\]]/gi;
export function plainError(error) {
  const original = messageOf(error);
  const message = original
    .replace(ADDRESS, 'the server').replace(IP, 'the server').replace(HOST, 'the server')
    .replace(CODES, '')
    .replace(/\bthe server(?: the server)+/g, 'the server')
    .replace(/\s+([.,;:])/g, '$1').trim();
  return { message: message || original, details: message === original ? '' : original };
}

// Lower case without accents, so "jose" finds "José".
export function foldForSearch(text) {
  return String(text ?? '')
    .normalize('NFD')
    .replace(/[\u0300-\u036f]/g, '')
    .toLowerCase();
}

const dateOnly = /^(\d{4})-(\d{2})-(\d{2})$/;

// A date or timestamp in the user's own format. Text that isn't a date is returned as is.
export function formatWhen(value, locale) {
  if (value === null || value === undefined || value === '') return '';
  const text = String(value);
  const day = dateOnly.exec(text);
  if (day) {
    const date = new Date(Number(day[1]), Number(day[2]) - 1, Number(day[3]));
    return date.toLocaleDateString(locale, { dateStyle: 'long' });
  }
  const date = typeof value === 'number' ? new Date(value) : new Date(text);
  if (Number.isNaN(date.getTime())) return text;
  return date.toLocaleString(locale, { dateStyle: 'medium', timeStyle: 'short' });
}

// Snapshot file names: "data-2024-05-01.json" is the copy of that day; safety copies are
// "before-restore-", "before-update-<from>-to-<to>-" or "before-pdfcraft-update-" followed by
// the time they were taken, in milliseconds since 1970.
const safetyKinds = [
  [/^before-restore-/, 'before a restore'],
  [/^before-pdfcraft-update-/, 'before a PDF editor update'],
  [/^before-update-(.+)-to-(.+)-\d+\.json$/, (m) => `before the update from ${m[1] === 'first' ? 'the first version' : m[1]} to ${m[2]}`],
];

export function describeSnapshot(name, locale) {
  const file = String(name);
  const daily = /^data-(\d{4})-(\d{2})-(\d{2})\.json$/.exec(file);
  if (daily) {
    const date = new Date(Number(daily[1]), Number(daily[2]) - 1, Number(daily[3]));
    const real = date.getMonth() === Number(daily[2]) - 1 && date.getDate() === Number(daily[3]);
    return { kind: 'daily', title: real ? `Daily copy, ${date.toLocaleDateString(locale, { dateStyle: 'long' })}` : 'Daily copy', name: file };
  }
  const putAside = /^unreadable-data-(\d{10,})\.json$/.exec(file);
  if (putAside) {
    const when = formatWhen(Number(putAside[1]), locale);
    return { kind: 'unreadable', title: 'Data file that did not open' + (when ? `, put aside ${when}` : ''), name: file };
  }
  if (!file.startsWith('before-')) return { kind: 'other', title: file, name: file };

  let reason = '';
  for (const [pattern, text] of safetyKinds) {
    const found = pattern.exec(file);
    if (found) {
      reason = typeof text === 'function' ? text(found) : text;
      break;
    }
  }
  const stamp = /-(\d{10,})\.json$/.exec(file);
  const when = stamp ? formatWhen(Number(stamp[1]), locale) : '';
  const title = ['Safety copy', reason].filter(Boolean).join(' ') + (when ? `, ${when}` : '');
  return { kind: 'safety', title, name: file };
}

// The locale amounts are written in: the user's own. A desktop started without a language
// (LANG=C) gives ICU's POSIX variant, which writes "CA$ 1800.00" without grouping, so that variant
// is dropped and the language kept; with nothing usable left, Canadian English.
export function practiceLocale(languages = globalThis.navigator?.languages ?? [globalThis.navigator?.language]) {
  for (const tag of languages ?? []) {
    const plain = String(tag ?? '').replace(/-u-va-posix$/i, '').replace(/[-_]posix$/i, '').replace(/_/g, '-');
    try {
      const [locale] = Intl.getCanonicalLocales(plain);
      if (locale && !/^(c|posix)$/i.test(locale)) return locale;
    } catch {
      // Not a language tag ("C", "C.UTF-8"): try the next one.
    }
  }
  return 'en-CA';
}

const moneyFormatters = new Map();
let userLocale = null;

// Cents as an amount of the currency, grouped the way the locale writes it ("CA$1,800.00").
// One formatter per locale and currency; a currency code Intl doesn't know is written after the
// number.
export function formatMoney(cents, currency = 'CAD', locale = (userLocale ??= practiceLocale())) {
  const value = (Number.isFinite(cents) ? cents : 0) / 100;
  const key = `${locale}|${currency}`;
  let formatter = moneyFormatters.get(key);
  if (!formatter) {
    try {
      formatter = { format: new Intl.NumberFormat(locale, { style: 'currency', currency }).format };
    } catch {
      const number = new Intl.NumberFormat(locale, { minimumFractionDigits: 2, maximumFractionDigits: 2 });
      formatter = { format: (amount) => `${number.format(amount)} ${String(currency)}` };
    }
    moneyFormatters.set(key, formatter);
  }
  return formatter.format(value);
}

// The backup folder's copy as Settings → Data lists it: when it was written, its size, and what
// it holds as far as the copy shows without a passphrase (contents: what inspectCopy found).
export function describeBackupCopy(candidate, contents, locale) {
  const when = formatWhen(candidate?.at, locale);
  const bytes = Number(candidate?.size);
  const size = !Number.isFinite(bytes) || bytes < 0 ? ''
    : bytes < 1024 ? plural(bytes, 'byte', 'bytes')
      : bytes < 1024 * 1024 ? `${(bytes / 1024).toFixed(bytes < 10 * 1024 ? 1 : 0)} KB`
        : `${(bytes / (1024 * 1024)).toFixed(1)} MB`;
  const title = ['Backup folder copy' + (when ? `, ${when}` : ''), size].filter(Boolean).join(' · ');
  if (!contents?.ok) {
    return { title, holds: `This copy doesn't open${contents?.reason ? `: ${contents.reason}` : '.'}`, restorable: false };
  }
  if (contents.encrypted) return { title, holds: 'Encrypted: it opens with your passphrase once restored.', restorable: true };
  const counts = [
    plural(contents.clients ?? 0, 'client', 'clients'),
    plural(contents.files ?? 0, 'file', 'files'),
    plural(contents.deadlines ?? 0, 'deadline', 'deadlines'),
    plural(contents.invoices ?? 0, 'invoice', 'invoices'),
  ];
  return { title, holds: `Holds ${counts.join(', ')}.`, restorable: true };
}

export function plural(count, one, many) {
  return `${count} ${count === 1 ? one : many}`;
}
