// Saving the listing: the listing worker makes it again, in pieces, and the page hands it to the
// browser as NAME.txt.
import { $, saveBlob, savedName, setUsable, usable } from './dom.js';
import { listed, listingDone, showNotice, showProgress } from './files.js';
import { ask } from './lister.js';

// Has the worker make the whole listing again, in pieces, and saves it; says so when the browser
// can't hold the listing to save (a private window keeps little).
export async function saveListing() {
  if (!listed || !usable($('save'))) return;
  setUsable($('save'), false);
  const size = listed.size;
  try {
    const answer = await ask({ type: 'save' });
    saveBlob(answer.blob, savedName(answer.name, '.txt'));
  } catch (e) {
    if (e.message !== 'the listing was given up') {
      showNotice(`The browser refused to save the listing (${Math.round(size).toLocaleString()} bytes): ${e.message.replace(/^save: /, '')}.`
        + ' A private window keeps little; the smfdump console program writes listings of any size.');
    }
  } finally {
    showProgress(null);
    if (listed && listingDone()) setUsable($('save'), true);
  }
}
