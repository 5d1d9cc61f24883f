// Reports what load() returns, then saves self-checking documents through window.quillpost.save
// until the process is killed. Each carries crashTrial: { seq, size, payload }; the payload is made
// of 1000-character blocks that each name their document and place, so the runner can rebuild it
// from seq and size, and a torn or mixed file never passes for whole.
(async () => {
  const say = (kind, value) => console.log('CRASH-' + kind + ' ' + JSON.stringify(value));
  const payloadOf = (seq, size) => {
    let text = '';
    for (let at = 0; text.length < size; at += 1000)
      text += `[${seq}:${at}]`.padEnd(1000, String.fromCharCode(97 + (seq + at / 1000) % 26));
    return text.slice(0, size);
  };
  // Mostly small documents, now and then large ones up to about 5 MB.
  const between = (low, high) => low + Math.floor(Math.random() * (high - low));
  const sizeOf = (roll = Math.random()) =>
    roll < 0.55 ? between(2000, 62000) : roll < 0.85 ? between(100000, 1000000) : between(SETTINGS.largeMin, SETTINGS.largeMax);

  try {
    const loaded = await quillpost.load();
    const trial = loaded && loaded.crashTrial;
    say('LOADED', trial
      ? { seq: trial.seq, whole: trial.payload === payloadOf(trial.seq, trial.size) }
      : { seq: null, whole: loaded === null, kind: loaded === null ? 'null' : typeof loaded });
    let seq = trial && Number.isInteger(trial.seq) ? trial.seq : 0;
    for (;;) {
      seq += 1;
      const size = sizeOf();
      say('ATTEMPT', { seq, size });
      const answer = await quillpost.save({ version: 1, clients: [], crashTrial: { seq, size, payload: payloadOf(seq, size) } });
      if (answer !== true)
        throw new Error('save answered ' + JSON.stringify(answer));
      say('SAVED', { seq });
      // Now and then a pause longer than the backup delay, so that the backup copy gets written.
      if (Math.random() < SETTINGS.pauseChance)
        await new Promise(r => setTimeout(r, 1600 + Math.random() * 600));
    }
  } catch (error) {
    say('ERROR', String(error && error.message || error));
  }
})();
