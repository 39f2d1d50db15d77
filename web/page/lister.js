// The listing worker, from the page's side: the worker that lists the files (the module, then the
// listing worker's bundle, in one blob), its requests and their answers by id, and its progress
// reports. Its messages are written out at the top of web/listing_worker/main.js.
import { $ } from './dom.js';
import { showNotice, showProgress } from './files.js';
import { namesInUse } from './names.js';
import { connectRoll, rollWorkerStarted } from './roll.js';
import { makeRequests } from '../shared/requests.js';

let worker = null;                 // the worker, made anew when a listing in progress is given up
const requests = makeRequests();   // answers awaited from the worker, by request id

// Starts a worker from the sources in the page, hands it the roll's canvas and the names in use; what
// an earlier worker was asked fails.
export function startWorker() {
  if (worker) worker.terminate();
  requests.failAll(new Error('the listing was given up'));
  const source = [$('module-source').textContent, '\n', $('listing-worker-source').textContent];
  worker = new Worker(URL.createObjectURL(new Blob(source, { type: 'text/javascript' })));
  worker.onmessage = (event) => answered(event.data);
  worker.onerror = (event) => showNotice(`The listing stopped: ${event.message}`);
  // a canvas goes to one worker only: a new worker gets a new canvas
  const old = $('roll');
  const canvas = old.cloneNode(false);
  old.replaceWith(canvas);
  connectRoll(canvas);
  const offscreen = canvas.transferControlToOffscreen();
  worker.postMessage({ type: 'canvas', canvas: offscreen }, [offscreen]);
  tellNames();
  rollWorkerStarted();
}

// Tells the worker of the names in use (it lists with them from then on).
export function tellNames() {
  const names = namesInUse();
  worker.postMessage({ type: 'names', bytes: names ? names.bytes : null });
}

// Sends a request to the worker; resolves with its answer.
export function ask(message, transfer = []) {
  const id = requests.next();
  const answer = requests.wait(id);
  worker.postMessage({ ...message, id }, transfer);
  return answer;
}

// The id of the last request sent.
export function lastRequest() {
  return requests.last();
}

// Takes an answer or a progress report from the worker.
function answered(message) {
  if (message.type === 'progress') {
    showProgress(message.task, message.share);
    return;
  }
  if (message.type === 'error') {
    const error = new Error(`${message.request}: ${message.message}`);
    error.tooLarge = message.tooLarge === true;
    error.size = message.size;
    requests.fail(message.id, error);
  } else if (message.type === 'none') {
    requests.fail(message.id, new Error('nothing is listed'));
  } else {
    requests.settle(message.id, message);
  }
}
