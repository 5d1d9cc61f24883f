// Runs in the real page with a practice already on disk: how soon the page is ready, and what one
// edit's save costs the page's main thread and how long it takes to reach the disk. Results go to
// the console for practice_save_bench.py.
(async () => {
  const report = (name, value, unit) => console.log('E2E-RESULT ' + JSON.stringify({ name, ok: true, detail: { value, unit } }));
  const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  try {
    // Ready: the data loaded and the dashboard drawn, counted from the start of navigation.
    while (!(window.App && window.App.isReady)) await pause(2);
    const ready = performance.now();
    await pause(1500);

    // A 1 ms timer's beats: the longest gap between two is the longest task on the main thread.
    let last = performance.now();
    let longest = 0;
    let beating = true;
    const beat = () => {
      const now = performance.now();
      longest = Math.max(longest, now - last);
      last = now;
      if (beating) setTimeout(beat, 1);
    };
    setTimeout(beat, 1);
    await pause(500);
    longest = 0;
    await pause(1000);
    const idle = longest;

    const gaps = [];
    const saving = [];
    const edits = [];
    const durable = [];
    for (let round = 0; round < 5; round++) {
      await pause(300);
      longest = 0;
      const start = performance.now();
      App.edit((doc) => { doc.clients[round].notes = `Called back, round ${round}.`; });
      edits.push(performance.now() - start);
      // The edit's own task (the screens drawn again) apart from the save's.
      await pause(0);
      longest = 0;
      await App.saveNow();
      durable.push(performance.now() - start);
      await pause(100);
      saving.push(longest);
      gaps.push(Math.max(longest, edits.at(-1)));
    }
    beating = false;
    const median = (values) => values.slice().sort((a, b) => a - b)[Math.floor(values.length / 2)];
    report('ready', Math.round(ready), 'ms');
    report('longest task, idle', Math.round(idle), 'ms');
    report('longest task while an edit is saved (worst of 5)', Math.round(Math.max(...gaps)), 'ms');
    report('  of which the edit itself, screens drawn again (worst)', Math.round(Math.max(...edits)), 'ms');
    report('  of which the save (worst)', Math.round(Math.max(...saving)), 'ms');
    report('edit to durable on disk (median of 5)', Math.round(median(durable)), 'ms');
    report('edit to durable on disk (worst of 5)', Math.round(Math.max(...durable)), 'ms');
    const started = performance.now();
    const found = App.find('martinez');
    report('first search', Math.round((performance.now() - started) * 10) / 10, 'ms');
    if (!found.length) throw new Error('the search found nothing');
  } catch (error) {
    console.log('E2E-RESULT ' + JSON.stringify({ name: 'benchmark', ok: false, detail: String(error) }));
  }
  console.log('E2E-DONE');
})();
