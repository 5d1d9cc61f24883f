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
    // Button text: white on the accent in light appearance, the page's background colour in dark.
    const checks = [...pairs.map(([fg, bg]) => [fg, v[fg], bg, v[bg]]), ['button text', name === 'light' ? '#ffffff' : v.bg, 'accent', v.accent]];
    for (const [fg, fgColour, bg, bgColour] of checks) {
      assert.ok(fgColour && bgColour, `${name}: --${fg} or --${bg} is not a #rrggbb colour`);
      const r = ratio(fgColour, bgColour);
      if (r < 4.5) below.push(`${name} ${fg} on ${bg}: ${r.toFixed(2)}:1`);
    }
  }
  assert.deepEqual(below, []);
});
