// A record's own values as they stand now, noted cheaply: each key in order with its value, and,
// for a value that is an object or a list, its JSON text, since screens change nested values in
// place. Noting 50,000 records this way costs a few milliseconds where their JSON text would cost
// a hundred. Saving uses it to tell whether a record's kept text still holds; undo to tell which
// records a change touched and to put them back.

const isNested = (value) => typeof value === 'object' && value !== null;

// [key, value, key, value, …], a nested value held as { json }.
export function valuesOf(record) {
  const fields = [];
  for (const key in record) {
    const value = record[key];
    fields.push(key, isNested(value) ? { json: JSON.stringify(value) } : value);
  }
  return fields;
}

// Whether the record still holds exactly the noted keys, in their order, and values.
export function stillHolds(record, fields) {
  let at = 0;
  for (const key in record) {
    if (fields[at] !== key) return false;
    const value = record[key];
    const was = fields[at + 1];
    if (isNested(value)) {
      if (!isNested(was) || JSON.stringify(value) !== was.json) return false;
    } else if (value !== was) {
      return false;
    }
    at += 2;
  }
  return at === fields.length;
}

// The record as it was noted, a copy of its own. A nested value JSON leaves out stays out.
export function recordFrom(fields) {
  const entries = [];
  for (let at = 0; at < fields.length; at += 2) {
    const value = fields[at + 1];
    if (!isNested(value)) entries.push([fields[at], value]);
    else if (value.json !== undefined) entries.push([fields[at], JSON.parse(value.json)]);
  }
  return Object.fromEntries(entries);
}
