// A click anywhere on a list's row opens the row's item, as a click on its name does. Clicks on
// the row's own controls, with a modifier key, or that end a text selection are left alone.

const CONTROLS = 'a, button, input, select, textarea, label, summary, details, [role="button"], [contenteditable]';

export function installRowOpening(root) {
  root.addEventListener('click', (event) => {
    if (event.defaultPrevented || event.button !== 0 || event.ctrlKey || event.metaKey || event.shiftKey || event.altKey) return;
    const target = event.target instanceof Element ? event.target : null;
    if (!target || target.closest(CONTROLS)) return;
    if (String(window.getSelection?.() ?? '')) return;
    const link = target.closest('tr, li')?.querySelector('a.row-link');
    if (link && link.isConnected) link.click();
  });
}
