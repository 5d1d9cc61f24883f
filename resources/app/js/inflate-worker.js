// Fetches the deflated text of the practice's data from the address it is sent and answers the
// text, so that inflating megabytes happens away from the page's thread.
self.onmessage = async ({ data: address }) => {
  try {
    const fetched = await fetch(address);
    if (!fetched.ok) throw new Error('The bytes were no longer there to fetch.');
    const text = await new Response(fetched.body.pipeThrough(new DecompressionStream('deflate'))).text();
    self.postMessage({ text });
  } catch (error) {
    self.postMessage({ error: String(error?.message ?? error) });
  }
};
