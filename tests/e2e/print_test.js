// Drives the printer through the page. SETTINGS.phase "jobs": sets it up, prints the page to PDF,
// locks a handover copy, waits for the job the runner sends to the queue and files it, and leaves
// the printer on for the runner's SIGTERM. "arrival" waits for the job the runner printed while the
// program wasn't running, then switches the printer off.
(async () => {
  const b64 = (u8) => {
    let s = '';
    for (let i = 0; i < u8.length; i += 0x8000)
      s += String.fromCharCode.apply(null, u8.subarray(i, i + 0x8000));
    return btoa(s);
  };
  const isPdf = (bytes) => String.fromCharCode(...bytes.subarray(0, 5)) === '%PDF-';

  try {
    await until(() => window.App && window.App.ready, 'the page to start');
    await App.ready;
    // The page's own hook stays in place; the test listens beside it.
    const arrivals = [];
    const pageHook = window.__qpPrinted;
    window.__qpPrinted = (record) => {
      arrivals.push(record);
      console.log('E2E-PRINTED ' + JSON.stringify(record));
      pageHook(record);
    };

    if (SETTINGS.phase === 'arrival') {
      // Read from the inbox: it may have landed before the hook was replaced.
      const held = async () => (await quillpost.listPrinted()).find((r) => r.name.startsWith('held_form'));
      report('the job printed while Quillpost was closed arrives after the start',
        await until(held, 'the job printed while Quillpost was closed', 90000).then(() => true, () => false));
      const status = await quillpost.printerStatus();
      report('the printer moved past the port a stranger holds', status.running === true && status.port === SETTINGS.port + 1, status);
      const off = await quillpost.printerOff();
      report('switching the printer off stops it', off.enabled === false && off.running === false && off.queue === false, off);
    } else {
      const setup = await quillpost.printerSetup();
      report('setting up the printer starts the server and adds the queue',
        setup.ok === true && setup.running === true && setup.queue === true && setup.error === '', setup);
      const status = await quillpost.printerStatus();
      report('the status shows the printer on its port', status.available && status.enabled && status.port >= 47631 && status.port <= 47635, status);
      const pdf = await quillpost.printPdf();
      report('printPdf answers a PDF of the page', pdf.length > 1000 && isPdf(pdf), pdf.length);
      console.log('E2E-PAGE-PDF ' + b64(pdf));
      console.log('E2E-LOCKED ' + b64(await quillpost.protectPdf(pdf, 'handover-pass')));
      App.edit((doc) => { doc.clients.push({ id: 'print-client', name: 'Farah Haddad' }); });
      await App.saveNow();

      // PDF Studio shows the inbox; the runner now prints to the queue.
      location.hash = '#/pdf';
      await until(() => document.getElementById('printed-empty') || document.querySelector('.printed'), 'the print inbox');
      console.log('E2E-READY-FOR-JOBS');
      await until(() => arrivals.length >= 1, 'a printed file', 90000);
      const arrived = arrivals[0];
      await until(() => [...document.querySelectorAll('.printed-name')].some(n => n.textContent === arrived.name), 'the file in PDF Studio', 5000);
      const read = await quillpost.readPrinted(arrived.path);
      report('PDF Studio lists the arrival the moment it lands, and readPrinted gives its bytes',
        (await quillpost.listPrinted()).some(r => r.path === arrived.path) && read.length === arrived.size && isPdf(read), arrived);

      const item = [...document.querySelectorAll('.printed-item')].find(i => i.dataset.path === arrived.path);
      item.querySelector('[data-action="file"]').click();
      item.querySelector('select[data-role="client"]').value = 'print-client';
      item.querySelector('[data-action="file-confirm"]').click();
      const filed = async () => JSON.stringify(await quillpost.listDocuments('Farah Haddad')).includes(arrived.name);
      await until(filed, 'the printed file to be filed', 10000);
      report('a printed file is filed to a client\'s documents from PDF Studio', await filed());
      console.log('E2E-PRINTER-UP ' + status.port);
    }
  } catch (error) {
    report('the page script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
  }
  console.log('E2E-DONE');
})();
