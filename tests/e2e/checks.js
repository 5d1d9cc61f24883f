// What every page script of the end-to-end runners shares: a check reported on the console (where
// the runner reads it), a wait with a time limit, and the message of a rejected promise.
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

