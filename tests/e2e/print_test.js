// Drives the printer through the page: sets it up, prints the page to PDF, locks a handover copy,
// and waits for the jobs the runner sends to the queue to reach the page's hook.
// report, until and rejection come from checks.js, which the runner puts first.
(async () => {
  const b64 = (u8) => {
    let s = '';
    for (let i = 0; i < u8.length; i += 0x8000)
      s += String.fromCharCode.apply(null, u8.subarray(i, i + 0x8000));
    return btoa(s);
  };

  try {
    await until(() => window.App && window.App.ready, 'the page to start');
    await App.ready;

    // The page's own hook stays in place; the test listens beside it.
    const arrivals = [];
    const pageHook = window.__qpPrinted;
    report('the page listens for printed files', typeof pageHook === 'function');
    window.__qpPrinted = (record) => {
      arrivals.push(record);
      console.log('E2E-PRINTED ' + JSON.stringify(record));
      pageHook(record);
    };

    const setup = await quillpost.printerSetup();
    report('setting up the printer starts the server and adds the queue',
      setup.ok === true && setup.running === true && setup.queue === true && setup.error === '', setup);
    const status = await quillpost.printerStatus();
    report('the status shows the printer on its port', status.available && status.enabled && status.port >= 47631 && status.port <= 47635, status);

    const pdf = await quillpost.printPdf();
    report('printPdf answers a PDF of the page', pdf.length > 1000 && String.fromCharCode(...pdf.subarray(0, 5)) === '%PDF-', pdf.length);
    console.log('E2E-PAGE-PDF ' + b64(pdf));

    report('a password of 7 characters is refused',
      await rejection(quillpost.protectPdf(pdf, '1234567')) === "The handover PDF couldn't be prepared");
    report('bytes that are not a PDF are refused',
      await rejection(quillpost.protectPdf(new TextEncoder().encode('%!PS-Adobe-3.0'), 'handover-pass')) === "The handover PDF couldn't be prepared");
    const locked = await quillpost.protectPdf(pdf, 'handover-pass');
    console.log('E2E-LOCKED ' + b64(locked));

    // A client to file the printed form for.
    App.edit((doc) => { doc.clients.push({ id: 'print-client', name: 'Farah Haddad' }); });
    await App.saveNow();

    // PDF Studio shows the inbox; the runner now prints to the queue.
    location.hash = '#/pdf';
    await until(() => document.getElementById('printed-empty') || document.querySelector('.printed'), 'the print inbox');
    console.log('E2E-READY-FOR-JOBS');
    await until(() => arrivals.length >= 1, 'a printed file', 90000);
    const arrived = arrivals[0];
    await until(() => [...document.querySelectorAll('.printed-name')].some(n => n.textContent === arrived.name), 'the file in PDF Studio', 5000);
    report('PDF Studio lists the arrival the moment it lands', true, arrived.name);
    const listed = await quillpost.listPrinted();
    report('listPrinted has the printed file', listed.some(r => r.path === arrived.path), listed);
    const read = await quillpost.readPrinted(arrived.path);
    report('readPrinted gives its bytes', read.length === arrived.size && String.fromCharCode(...read.subarray(0, 5)) === '%PDF-');
    report('readPrinted refuses a path that leaves the inbox',
      await rejection(quillpost.readPrinted(arrived.path.replace(/[^/]*$/, '') + '../config.json')) === 'Not allowed');

    // Filed to the client's documents from PDF Studio.
    const item = [...document.querySelectorAll('.printed-item')].find(i => i.dataset.path === arrived.path);
    item.querySelector('[data-action="file"]').click();
    item.querySelector('select[data-role="client"]').value = 'print-client';
    item.querySelector('[data-action="file-confirm"]').click();
    const filed = async () => {
      const documents = await quillpost.listDocuments('Farah Haddad');
      return JSON.stringify(documents).includes(arrived.name);
    };
    const filingStarted = Date.now();
    while (!(await filed()) && Date.now() - filingStarted < 10000)
      await new Promise(r => setTimeout(r, 200));
    report('a printed file is filed to a client\'s documents from PDF Studio', await filed(), await quillpost.listDocuments('Farah Haddad'));

    // The PostScript file the runner dropped into the spool goes nowhere, however long we wait.
    await new Promise(r => setTimeout(r, 4000));
    report('only the PDF job reached the page', arrivals.length === 1, arrivals.map(a => a.name));

    const off = await quillpost.printerOff();
    report('switching the printer off stops it', off.enabled === false && off.running === false && off.queue === false, off);
  } catch (error) {
    report('the page script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
  }
  console.log('E2E-DONE');
})();
