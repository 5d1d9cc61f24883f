// Contrast of the page's text colours against the backgrounds they sit on, in the light and the
// dark palette (WCAG 2 relative luminance): every pair used for text needs 4.5:1 (AA).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

const css = readFileSync(new URL('../../resources/app/css/app.css', import.meta.url), 'utf8').replace(/\/\*[\s\S]*?\*\//g, '');
const block = (from) => css.slice(css.indexOf(':root', from), css.indexOf('}', css.indexOf(':root', from)));
const variables = (text) => Object.fromEntries([...text.matchAll(/--([\w-]+):\s*(#[0-9a-fA-F]{6})\s*;/g)].map((m) => [m[1], m[2]]));
const palettes = { light: variables(block(0)) };
palettes.dark = { ...palettes.light, ...variables(block(css.indexOf('prefers-color-scheme: dark'))) };
const channel = (v) => { v /= 255; return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4; };
const luminance = (hex) => { const n = parseInt(hex.slice(1), 16); return 0.2126 * channel(n >> 16) + 0.7152 * channel((n >> 8) & 255) + 0.0722 * channel(n & 255); };
const ratio = (a, b) => { const [x, y] = [luminance(a), luminance(b)].sort((p, q) => q - p); return (x + 0.05) / (y + 0.05); };

test('text and its backgrounds meet WCAG AA contrast in light and dark appearance', () => {
  const pairs = [
    ['text', 'bg'], ['text', 'surface'], ['text', 'sidebar-bg'], ['muted', 'bg'], ['muted', 'surface'], ['muted', 'sidebar-bg'],
    ['muted', 'surface-muted'], ['accent', 'surface'], ['accent', 'bg'], ['danger', 'surface'], ['danger', 'danger-soft'],
    ['warning', 'warning-soft'], ['ok', 'surface'], ['pill-text', 'pill-bg'], ['accent', 'accent-soft'],
  ];
  const below = [];
  for (const [name, v] of Object.entries(palettes)) {
    for (const [fg, bg] of pairs) {
      assert.ok(v[fg] && v[bg], `${name}: --${fg} or --${bg} is not a #rrggbb colour`);
      if (ratio(v[fg], v[bg]) < 4.5) below.push(`${name} ${fg} on ${bg}: ${ratio(v[fg], v[bg]).toFixed(2)}:1`);
    }
  }
  assert.deepEqual(below, []);
});

// Buttons as the cascade draws them: the last declaration of the highest specificity wins, and the
// dark appearance's rules count only in dark (print rules never). Checked against the rules
// themselves, so a later light rule that overrides a dark one is caught.
const rules = [];
(function walk(text, dark) {
  for (let at = 0, open; (open = text.indexOf('{', at)) >= 0;) {
    const head = text.slice(at, open).trim();
    let end = open + 1;
    for (let depth = 1; end < text.length && depth; end += 1) depth += text[end] === '{' ? 1 : text[end] === '}' ? -1 : 0;
    const inner = text.slice(open + 1, end - 1);
    if (head.startsWith('@media')) walk(inner, head.includes('prefers-color-scheme: dark') ? true : head.includes('print') ? null : dark);
    else if (dark !== null && !head.startsWith('@')) rules.push({ selectors: head.split(',').map((s) => s.trim()), inner, dark });
    at = end;
  }
})(css, false);
const specificity = (selector) => {
  const ids = (selector.match(/#[\w-]+/g) ?? []).length;
  const classes = (selector.replace(/::[\w-]+/g, '').match(/\.[\w-]+|\[[^\]]*\]|:[\w-]+/g) ?? []).length;
  const types = (selector.replace(/\[[^\]]*\]|[.#:][\w-]+(\([^)]*\))?/g, ' ').match(/[a-z][\w-]*/gi) ?? []).length;
  return ids * 10000 + classes * 100 + types;
};
// The colour `property` takes on an element the selectors in `matches` describe (with or without ":root ").
function computed(property, matches, appearance) {
  let best = null;
  rules.forEach((rule, order) => {
    if (rule.dark && appearance !== 'dark') return;
    const declared = [...rule.inner.matchAll(new RegExp(`(?:^|;)\\s*${property}\\s*:\\s*([^;]+)`, 'g'))].pop()?.[1].trim();
    for (const selector of declared ? rule.selectors : []) {
      if (!matches.includes(selector.replace(/^:root\s+/, ''))) continue;
      const weight = specificity(selector);
      if (!best || weight > best.weight || (weight === best.weight && order >= best.order)) best = { weight, order, value: declared };
    }
  });
  const value = best?.value.replace(/\s*!important$/, '');
  const named = { '#fff': '#ffffff', white: '#ffffff' }[value] ?? value;
  const variable = /^var\(--([\w-]+)\)$/.exec(named)?.[1];
  return variable ? palettes[appearance][variable] : named;
}

test('button text meets WCAG AA contrast on its button, at rest and under the pointer, in both appearances', () => {
  const buttons = [
    ['primary button', ['.button', '.button.primary'], ['.button.primary:hover:not(:disabled)']],
    ['danger button', ['.button', '.button.danger'], ['.button.danger:hover:not(:disabled)']],
    ['plain button', ['.button'], ['.button:hover']],
    ['skip link', ['.skip-link'], []],
  ];
  const below = [];
  for (const appearance of ['light', 'dark']) {
    for (const [what, rest, hover] of buttons) {
      const text = computed('color', rest, appearance);
      for (const [state, selectors] of [['at rest', rest], ['under the pointer', [...rest, ...hover]]]) {
        const back = computed('background', selectors, appearance);
        assert.match(`${text} ${back}`, /^#[0-9a-f]{6} #[0-9a-f]{6}$/i, `${appearance} ${what} ${state}: colours`);
        if (ratio(text, back) < 4.5) below.push(`${appearance} ${what} ${state}: ${text} on ${back} is ${ratio(text, back).toFixed(2)}:1`);
      }
    }
  }
  assert.deepEqual(below, []);
});
