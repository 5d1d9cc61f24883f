// Only the shipped page reaches the program: a local file, a data: URL, frames and the disk are
// all out of its reach. The runner (boundary_system.py) supplies FORM_URL (a hostile local page
// that would save over the practice if it got the bridge) and HOSTNAME (what /etc/hostname holds).
(async () => {
  try {
    await until(() => window.App && window.App.ready, 'the page');
    await App.ready;
    const page = location.href;
    const pause = (ms) => new Promise(r => setTimeout(r, ms));
    const stays = async (what, go) => {
      go();
      await pause(1500);
      report(what + ' leaves the page where it was', location.href === page && !!window.quillpost, location.href);
    };

    report('the page is served from the program\'s own origin', location.origin === 'quillpost-app://app', location.href);
    await stays('setting location to a local file', () => { location.href = FORM_URL; });
    await stays('setting location to a data: URL', () => {
      location.href = 'data:text/html,' + encodeURIComponent('<script>window.webkit.messageHandlers.qp.postMessage({cmd:"save",args:"[\\"{}\\"]"})</script>');
    });
    await stays('a link to a local file', () => {
      const link = document.createElement('a');
      link.href = FORM_URL;
      document.body.append(link);
      link.click();
      link.remove();
    });
    await stays('window.open of a local file', () => { window.open(FORM_URL); });
    await stays('an HTML file dropped on the window', () => { quillpost.simulateDrop(FORM_URL); });
    await stays('a data: URL dropped on the window', () => { quillpost.simulateDrop('data:text/html,<p>dropped</p>'); });

    // Frames: none loads, and a frame's inline script never runs under the page's policy.
    const frames = [];
    for (const attributes of [{ src: FORM_URL }, { src: page }, { srcdoc: '<script>parent.postMessage("E2E-HOSTILE frame", "*");'
      + 'window.webkit.messageHandlers.qp.postMessage({cmd:"save",args:JSON.stringify([JSON.stringify({HOSTILE:1})])})</script>' }]) {
      const frame = document.createElement('iframe');
      Object.assign(frame, attributes);
      document.body.append(frame);
      frames.push(frame);
    }
    let framed = null;
    window.addEventListener('message', (event) => { framed = event.data; });
    await pause(1500);
    const inside = frames.map((frame) => {
      try {
        return frame.contentDocument ? frame.contentDocument.documentElement.outerHTML.length : 'opaque';
      } catch (error) {
        return 'opaque';
      }
    });
    report('no frame runs a script or shows a document of its own', framed === null && !inside.some((n) => typeof n === 'number' && n > 60), { framed, inside });
    frames.forEach((frame) => frame.remove());

    // The disk is closed to the page, by address and through its own scheme.
    const attempts = {};
    for (const address of ['file:///etc/hostname', 'quillpost-app://app/../../../../../../etc/hostname', 'quillpost-app://app/%2e%2e/%2e%2e/%2e%2e/etc/hostname']) {
      attempts[address] = await fetch(address).then((r) => r.text(), (error) => 'refused: ' + error.message);
    }
    report('the page can\'t read /etc/hostname', !Object.values(attempts).some((text) => text.includes(HOSTNAME)), attempts);

    report('the bridge still answers the shipped page', (await quillpost.dataStatus()) !== undefined);
  } catch (error) {
    report('the boundary script ran without an exception', false, String(error && error.stack || error));
  } finally {
    console.log('E2E-DONE');
  }
})();
