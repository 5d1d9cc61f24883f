// The print buttons of printable screens: on paper through the print dialog, or as a PDF.

import { button, runFrom, toast } from './ui.js';
import { saveWithNotice } from './download.js';

export function printActions(bridge, pdfName) {
  if (!bridge) return [];
  const paper = button('Print…', {
    iconName: 'printer', id: 'print-page',
    onClick: () => runFrom(paper, async () => {
      const answer = await bridge.printPage();
      if (answer?.busy) toast('The print dialog is already open.');
    }),
  });
  const pdf = button('Save as PDF', {
    iconName: 'document', id: 'print-pdf',
    onClick: () => runFrom(pdf, async () => {
      const bytes = await bridge.printPdf();
      await saveWithNotice(toast, bytes, pdfName);
    }),
  });
  return [paper, pdf];
}
