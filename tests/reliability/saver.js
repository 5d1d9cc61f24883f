// Reports what load() returns, then saves self-checking documents through window.quillpost.save
// until the process is killed. Each carries crashTrial: { seq, size, sum, payload }, sum being the
// CRC-32 (zlib's) of the ASCII payload as 8 hex digits, which the runner computes over the files.
(async () => {
  const say = (kind, value) => console.log('CRASH-' + kind + ' ' + JSON.stringify(value));

  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++)
      c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc32 = (text) => {
    let crc = 0xffffffff;
    for (let i = 0; i < text.length; i++)
      crc = crcTable[(crc ^ text.charCodeAt(i)) & 0xff] ^ (crc >>> 8);
    return ((crc ^ 0xffffffff) >>> 0).toString(16).padStart(8, '0');
  };

  // A pool of random characters from which payloads are cut; each block also names its sequence
  // and place, so that two documents never share a block and a torn file cannot pass the checksum.
  const alphabet = 'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;-';
  const pool = Array.from({ length: 1 << 20 }, () => alphabet[Math.floor(Math.random() * alphabet.length)]).join('');
  const blockSize = 4096;
  const payloadOf = (seq, size) => {
    const blocks = [];
    for (let filled = 0, index = 0; filled < size; index++) {
      const head = `[${seq}:${index}]`;
      const offset = Math.floor(Math.random() * (pool.length - blockSize));
      // The last block may have room for less than its head: it is cut so the payload is exactly size long.
      const block = (head + pool.slice(offset, offset + blockSize - head.length)).slice(0, Math.min(blockSize, size - filled));
      blocks.push(block);
      filled += block.length;
    }
    return blocks.join('');
  };

  // Mostly small documents, now and then large ones up to about 5 MB.
  const between = (low, high) => low + Math.floor(Math.random() * (high - low));
  const sizeOf = (roll = Math.random()) =>
    roll < 0.55 ? between(2000, 62000) : roll < 0.85 ? between(100000, 1000000) : between(SETTINGS.largeMin, SETTINGS.largeMax);

  try {
    const loaded = await quillpost.load();
    const trial = loaded && loaded.crashTrial;
    say('LOADED', trial
      ? { seq: trial.seq, whole: typeof trial.payload === 'string' && crc32(trial.payload) === trial.sum && trial.payload.length === trial.size }
      : { seq: null, whole: loaded === null, kind: loaded === null ? 'null' : typeof loaded });

    let seq = trial && Number.isInteger(trial.seq) ? trial.seq : 0;
    for (;;) {
      seq += 1;
      const size = sizeOf();
      const payload = payloadOf(seq, size);
      const doc = { version: 1, clients: [], crashTrial: { seq, size, sum: crc32(payload), payload } };
      say('ATTEMPT', { seq, size });
      const answer = await quillpost.save(doc);
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
