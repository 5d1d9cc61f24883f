// What every page script of the end-to-end runners shares: a check reported on the console (where
// the runner reads it), a wait with a time limit, the message of a rejected promise, and the few
// steps that drive the page's screens.
function report(name, ok, detail) {
  console.log('E2E-RESULT ' + JSON.stringify({ name, ok: !!ok, detail }));
}

async function until(condition, what, ms = 20000) {
  const start = Date.now();
  while (!(await condition())) {
    if (Date.now() - start > ms)
      throw new Error('timed out waiting for ' + what);
    await new Promise(r => setTimeout(r, 50));
  }
}

async function rejection(promise) {
  try {
    await promise;
    return null;
  } catch (error) {
    return error.message;
  }
}

const $ = (selector) => document.querySelector(selector);
const text = (selector) => $(selector)?.textContent;
const pause = (ms) => new Promise(r => setTimeout(r, ms));

// Opens a screen by its address and waits for what shows it is there.
async function openScreen(hash, selector, what, ms) {
  location.hash = hash;
  await until(() => $(selector), what, ms);
}

// Clicks and waits for what shows the click was taken (a selector or a condition).
async function clickFor(selector, shown, what, ms) {
  $(selector).click();
  await until(() => (typeof shown === 'function' ? shown() : $(shown)), what, ms);
}

// Fills fields (selector → value) and submits their form.
function submit(form, values = {}) {
  Object.entries(values).forEach(([selector, value]) => { $(selector).value = value; });
  $(form).requestSubmit();
}
