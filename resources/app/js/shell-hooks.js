// The system's lock events as the desktop program hands them to the page (menu commands and
// quillpost: links are the page's commands, in commands.js).

export function connectLockWatch({ app, toast }) {
  // Encrypted data closes when the computer locks or sleeps: edits waiting for the save timer go
  // to disk first, then the data is read back sealed and the lock screen asks for the passphrase.
  // A save that fails keeps the data open rather than throw the edits away.
  let locking = false;
  window.addEventListener('qp-system-lock', async () => {
    if (locking || !app.encrypted || !app.editable) return;
    locking = true;
    try {
      if (app.dirty) await app.saveNow();
      await app.reload();
    } catch {
      toast("Quillpost couldn't lock your data because your latest changes aren't saved.", { kind: 'error' });
    } finally {
      locking = false;
    }
  });
}
