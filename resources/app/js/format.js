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

// Snapshot file names: "data-2024-05-01.json" is the copy of that day, "before-…" a
// safety copy taken before something replaced the data.
export function describeSnapshot(name, locale) {
  const file = String(name);
  const found = /(\d{4})-(\d{2})-(\d{2})(?:[T_ -]?(\d{2})[-:.]?(\d{2})(?:[-:.]?(\d{2}))?)?/.exec(file);
  let when = '';
  if (found) {
    const [, y, mo, d, h, mi, s] = found;
    const date = new Date(Number(y), Number(mo) - 1, Number(d), Number(h ?? 0), Number(mi ?? 0), Number(s ?? 0));
    if (!Number.isNaN(date.getTime()) && date.getMonth() === Number(mo) - 1) {
      when = h === undefined
        ? date.toLocaleDateString(locale, { dateStyle: 'long' })
        : date.toLocaleString(locale, { dateStyle: 'medium', timeStyle: 'short' });
    }
  }
  if (file.startsWith('before-')) {
    return { kind: 'safety', title: when ? `Safety copy, ${when}` : 'Safety copy', name: file };
  }
  if (/^data-\d{4}-\d{2}-\d{2}\.json$/.test(file)) {
    return { kind: 'daily', title: when ? `Daily copy, ${when}` : 'Daily copy', name: file };
  }
  return { kind: 'other', title: when ? `Copy, ${when}` : file, name: file };
}

export function plural(count, one, many) {
  return `${count} ${count === 1 ? one : many}`;
}
