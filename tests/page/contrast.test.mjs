// Contrast of the page's text colours against the backgrounds they sit on, in the light and the
// dark palette (WCAG 2 relative luminance): every pair used for text needs 4.5:1 (AA).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

const css = readFileSync(new URL('../../resources/app/css/app.css', import.meta.url), 'utf8');
const palettes = {
  light: css.slice(css.indexOf(':root'), css.indexOf('}', css.indexOf(':root'))),
  dark: (() => { const at = css.indexOf(':root', css.indexOf('prefers-color-scheme: dark')); return css.slice(at, css.indexOf('}', at)); })(),
};
const variables = (block) => Object.fromEntries([...block.matchAll(/--([\w-]+):\s*(#[0-9a-fA-F]{6})\s*;/g)].map((m) => [m[1], m[2]]));
const channel = (v) => { v /= 255; return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4; };
const luminance = (hex) => { const n = parseInt(hex.slice(1), 16); return 0.2126 * channel(n >> 16) + 0.7152 * channel((n >> 8) & 255) + 0.0722 * channel(n & 255); };
const ratio = (a, b) => { const [x, y] = [luminance(a), luminance(b)].sort((p, q) => q - p); return (x + 0.05) / (y + 0.05); };

const pairs = [
  ['text', 'bg'], ['text', 'surface'], ['text', 'sidebar-bg'], ['muted', 'bg'], ['muted', 'surface'], ['muted', 'sidebar-bg'],
  ['muted', 'surface-muted'], ['accent', 'surface'], ['accent', 'bg'], ['danger', 'surface'], ['danger', 'danger-soft'],
  ['warning', 'warning-soft'], ['ok', 'surface'], ['pill-text', 'pill-bg'], ['accent', 'accent-soft'],
];
test('text and its backgrounds meet WCAG AA contrast in light and dark appearance', () => {
  const below = [];
  for (const [name, block] of Object.entries(palettes)) {
    const v = { ...variables(palettes.light), ...variables(block) };
    for (const [fg, bg] of pairs) {
      assert.ok(v[fg] && v[bg], `${name}: --${fg} or --${bg} is not a #rrggbb colour`);
      const r = ratio(v[fg], v[bg]);
      if (r < 4.5) below.push(`${name} ${fg} on ${bg}: ${r.toFixed(2)}:1`);
    }
  }
  assert.deepEqual(below, []);
});

// Buttons as the cascade draws them: the last declaration of the highest specificity wins, and the
// dark appearance's rules count only in dark. Checked against the rules themselves, not a list of
// intended colours, so a later light rule that overrides a dark one is caught.
const rules = (() => {
  const out = [];
  const body = css.replace(/\/\*[\s\S]*?\*\//g, '');
  const walk = (text, dark) => {
    let at = 0;
    while (at < text.length) {
      const open = text.indexOf('{', at);
      if (open < 0) break;
      const head = text.slice(at, open).trim();
      let depth = 1;
      let end = open + 1;
      for (; end < text.length && depth; end += 1) depth += text[end] === '{' ? 1 : text[end] === '}' ? -1 : 0;
      const inner = text.slice(open + 1, end - 1);
      if (head.startsWith('@media')) walk(inner, head.includes('prefers-color-scheme: dark') ? true : head.includes('print') ? null : dark);
      else if (dark !== null && !head.startsWith('@')) out.push({ selectors: head.split(',').map((s) => s.trim()), inner, dark, order: out.length });
      at = end;
    }
  };
  walk(body, false);
  return out;
})();
const specificity = (selector) => {
  const ids = (selector.match(/#[\w-]+/g) ?? []).length;
  const classes = (selector.replace(/::[\w-]+/g, '').match(/\.[\w-]+|\[[^\]]*\]|:[\w-]+/g) ?? []).length;
  const types = (selector.replace(/\[[^\]]*\]|[.#:][\w-]+(\([^)]*\))?/g, ' ').match(/[a-z][\w-]*/gi) ?? []).length;
  return ids * 10000 + classes * 100 + types;
};
// The value of `property` for an element that the selectors in `matches` (with or without a leading ":root ") describe.
function computed(property, matches, appearance) {
  let best = null;
  for (const rule of rules) {
    if (rule.dark && appearance !== 'dark') continue;
    const declared = [...rule.inner.matchAll(new RegExp(`(?:^|;)\\s*${property}\\s*:\\s*([^;]+)`, 'g'))].pop()?.[1].trim();
    if (!declared) continue;
    for (const selector of rule.selectors) {
      if (!matches.includes(selector.replace(/^:root\s+/, ''))) continue;
      const weight = specificity(selector);
      if (!best || weight > best.weight || (weight === best.weight && rule.order >= best.order)) best = { weight, order: rule.order, value: declared };
    }
  }
  return best?.value.replace(/\s*!important$/, '');
}

test('button text meets WCAG AA contrast on its button, at rest and under the pointer, in both appearances', () => {
  const buttons = [
    ['primary button', ['.button', '.button.primary'], ['.button', '.button.primary', '.button.primary:hover:not(:disabled)']],
    ['danger button', ['.button', '.button.danger'], ['.button', '.button.danger', '.button.danger:hover:not(:disabled)']],
    ['plain button', ['.button'], ['.button', '.button:hover']],
    ['skip link', ['.skip-link'], ['.skip-link']],
  ];
  const below = [];
  for (const appearance of ['light', 'dark']) {
    const v = { ...variables(palettes.light), ...(appearance === 'dark' ? variables(palettes.dark) : {}) };
    const colour = (value) => {
      const named = { '#fff': '#ffffff', white: '#ffffff' }[value] ?? value;
      const resolved = /^var\(--([\w-]+)\)$/.exec(named)?.[1];
      return resolved ? v[resolved] : named;
    };
    for (const [what, rest, hover] of buttons) {
      const text = colour(computed('color', rest, appearance));
      for (const [state, selectors] of [['at rest', rest], ['under the pointer', hover]]) {
        const back = colour(computed('background', selectors, appearance));
        assert.match(String(text), /^#[0-9a-f]{6}$/i, `${appearance} ${what}: text colour ${text}`);
        assert.match(String(back), /^#[0-9a-f]{6}$/i, `${appearance} ${what} ${state}: background ${back}`);
        const r = ratio(text, back);
        if (r < 4.5) below.push(`${appearance} ${what} ${state}: ${text} on ${back} is ${r.toFixed(2)}:1`);
      }
    }
  }
  assert.deepEqual(below, []);
});
