// The printer across a quit: SETTINGS.phase "setup" turns the printer on and waits to be ended;
// "arrival" waits for the job the runner printed while the program wasn't running.
// report, until and rejection come from checks.js, which the runner puts first.
(async () => {
  try {
    await until(() => window.App && window.App.ready, 'the page to start');
    await App.ready;

    if (SETTINGS.phase === 'setup') {
      const setup = await quillpost.printerSetup();
      report('the printer is set up again for the restart', setup.ok === true && setup.running === true && setup.queue === true, setup);
      console.log('E2E-PRINTER-UP ' + setup.port);
    } else {
      const arrivals = [];
      const pageHook = window.__qpPrinted;
      window.__qpPrinted = (record) => {
        arrivals.push(record);
        console.log('E2E-PRINTED ' + JSON.stringify(record));
        pageHook(record);
      };
      // It may have landed before the hook was replaced.
      const listed = async () => (await quillpost.listPrinted()).filter((r) => r.name.startsWith('held_form'));
      await until(async () => arrivals.length > 0 || (await listed()).length > 0, 'the job printed while Quillpost was closed', 90000);
      const found = (await listed())[0];
      report('the job printed while Quillpost was closed arrives after the start', found !== undefined, found);
      const status = await quillpost.printerStatus();
      report('the printer moved past the port a stranger holds', status.running === true && status.port === SETTINGS.port + 1, status);
      const off = await quillpost.printerOff();
      report('switching the printer off stops it', off.running === false && off.queue === false, off);
    }
  } catch (error) {
    report('the page script finished without an exception', false, String(error && (error.message + ' ' + error.stack) || error));
  }
  console.log('E2E-DONE');
})();
