// The browsers that the page's tests and benchmark drive, and what they do with them: Debian's Chromium
// (over the DevTools protocol) and Firefox ESR (over WebDriver BiDi), both through puppeteer-core, each
// in a fresh profile that can't reach the network. Here: launching them, opening the built page from
// file://, picking files through its <input type=file>, waiting for its states, saving what it offers
// for download, and watching for any request that would leave the machine.
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

// The browsers known here: puppeteer's name for each, the program, and the name people know it by.
export const browserKinds = {
  chromium: { product: 'chrome', executable: '/usr/bin/chromium', title: 'Chromium' },
  firefox: { product: 'firefox', executable: '/usr/bin/firefox-esr', title: 'Firefox' },
};

// Chromium: no sandbox (run as root), no GPU (no display), nothing fetched in the background.
const chromiumArgs = ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
  '--no-first-run', '--disable-sync', '--disable-quic'];

// Firefox, beyond puppeteer's own test profile: no updates, telemetry, captive-portal or connectivity
// checks, remote settings, push, prefetching or DNS over HTTPS; and file:// origins as a user has them.
const firefoxPrefs = {
  'app.update.auto': false,
  'app.update.disabledForTesting': true,
  'app.update.staging.enabled': false,
  'app.normandy.enabled': false,
  'app.shield.optoutstudies.enabled': false,
  'browser.discovery.enabled': false,
  'browser.ping-centre.telemetry': false,
  'browser.region.network.url': '',
  'browser.region.update.enabled': false,
  'browser.safebrowsing.provider.mozilla.updateURL': '',
  'browser.search.update': false,
  'browser.topsites.contile.enabled': false,
  'browser.translations.enable': false,
  'captivedetect.canonicalURL': '',
  'datareporting.healthreport.uploadEnabled': false,
  'datareporting.policy.dataSubmissionEnabled': false,
  'datareporting.usage.uploadEnabled': false,
  'dom.push.connection.enabled': false,
  'dom.push.serverURL': '',
  'extensions.blocklist.enabled': false,
  'extensions.systemAddon.update.enabled': false,
  'extensions.update.enabled': false,
  'geo.provider.network.url': '',
  'identity.fxaccounts.enabled': false,
  'media.gmp-manager.updateEnabled': false,
  'media.gmp-manager.url': '',
  'messaging-system.rsexperimentloader.enabled': false,
  'network.captive-portal-service.enabled': false,
  'network.connectivity-service.enabled': false,
  'network.dns.disablePrefetch': true,
  'network.predictor.enabled': false,
  'network.prefetch-next': false,
  'network.sntp.pools': '',
  'network.trr.mode': 5,
  'security.fileuri.strict_origin_policy': true,
  // taken by a release build only with MOZ_REMOTE_SETTINGS_DEVTOOLS=1 in its environment (see launch)
  'services.settings.server': 'data:,#remote-settings-dummy/v1',
  'toolkit.telemetry.archive.enabled': false,
  'toolkit.telemetry.enabled': false,
  'toolkit.telemetry.server': '',
  'toolkit.telemetry.unified': false,
};

// The browsers to drive: those named in SMFDUMP_BROWSERS (say "chromium,firefox"), else those installed.
export function browsersToTest() {
  const named = (process.env.SMFDUMP_BROWSERS ?? '').split(',').map((n) => n.trim()).filter((n) => n !== '');
  for (const kind of named) {
    if (!browserKinds[kind]) throw new Error(`SMFDUMP_BROWSERS: no browser called ${kind} (known: ${Object.keys(browserKinds).join(', ')})`);
  }
  return named.length > 0 ? named : Object.keys(browserKinds).filter((kind) => fs.existsSync(browserKinds[kind].executable));
}

// A stand-in proxy on the loopback that every request the browser sends to the network goes to: it
// notes the host asked for and the request's first line in sent, and closes the connection, so that
// nothing leaves the machine.
async function startWatch(sent) {
  const server = net.createServer((socket) => {
    socket.once('data', (data) => {
      const line = data.toString('latin1').split('\r\n')[0];
      const host = (/^CONNECT ([^: ]+)/.exec(line) ?? /^[A-Z]+ [a-z]+:\/\/([^/:]+)/.exec(line) ?? [null, '?'])[1];
      sent.push({ host, line });
      socket.destroy();
    });
    socket.on('error', () => {});
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return server;
}

// The hosts of each browser's own services, which it may call whatever page it shows (Chromium lists
// the Google accounts of a profile as the profile starts, whatever its flags say).
const ownServices = {
  chromium: /(^|\.)(google\.com|googleapis\.com|gvt1\.com)$/,
  firefox: /(^|\.)(mozilla\.com|mozilla\.net|mozilla\.org|firefox\.com)$/,
};

// The requests for the network seen so far: those of the pages (as the browser reports them, and any
// other the watch saw) and the hosts of the browser's own services that it called (all refused).
export function requestsSeen(session) {
  const own = new Set();
  const pages = [...session.fromPages];
  for (const { host, line } of session.sent) {
    if (ownServices[session.kind].test(host)) own.add(host);
    else pages.push(`through the network: ${line}`);
  }
  return { pages, own: [...own].sort() };
}

// Launches a browser of that kind (a key of browserKinds), headless in a fresh profile, its network
// going to the watch; returns the session the other functions take. extraArgs go to Chromium only.
export async function launch(kind, { extraArgs = [] } = {}) {
  const known = browserKinds[kind];
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), `smfdump-${kind}-`));
  const sent = [];
  const watch = await startWatch(sent);
  const proxy = `127.0.0.1:${watch.address().port}`;
  let browser;
  try {
    browser = kind === 'chromium'
      ? await puppeteer.launch({
        browser: 'chrome', executablePath: known.executable, headless: true, defaultViewport: null,
        userDataDir: path.join(scratch, 'profile'),
        // the loopback too ("<-loopback>"): nothing is sent anywhere that the watch does not see
        args: [...chromiumArgs, `--proxy-server=http://${proxy}`, '--proxy-bypass-list=<-loopback>', ...extraArgs],
      })
      : await puppeteer.launch({
        browser: 'firefox', executablePath: known.executable, headless: true, defaultViewport: null,
        userDataDir: path.join(scratch, 'profile'),
        env: { ...process.env, MOZ_REMOTE_SETTINGS_DEVTOOLS: '1' },
        extraPrefsFirefox: {
          ...firefoxPrefs,
          'network.proxy.type': 1,
          'network.proxy.http': '127.0.0.1',
          'network.proxy.http_port': watch.address().port,
          'network.proxy.ssl': '127.0.0.1',
          'network.proxy.ssl_port': watch.address().port,
          'network.proxy.no_proxies_on': '',
          'network.proxy.allow_hijacking_localhost': true,
        },
      });
  } catch (error) {
    watch.close();
    fs.rmSync(scratch, { recursive: true, force: true });
    throw error;
  }
  const session = {
    kind, title: known.title, browser, scratch, sent,
    fromPages: [],  // the network requests the pages made, as the browser reports them
    version: await browser.version(),
    saveWay: process.env.SMFDUMP_SAVE_WAY === 'page' ? 'page' : 'download',  // how saved files are had; see saveByClick
    saves: 0,  // files saved so far, to name each one apart
  };
  session.close = async () => {
    await browser.close().catch(() => {});
    watch.close();
    fs.rmSync(scratch, { recursive: true, force: true });
  };
  return session;
}

const opened = new WeakMap();  // each page opened here: { session, context, downloads, ownsContext, errors }

// A fresh browser context (its own storage, as a new private window has) whose downloads go to a folder
// of its own; where the browser can't be told where downloads go, the session saves from the page.
export async function newContext(session) {
  const downloads = fs.mkdtempSync(path.join(session.scratch, 'downloads-'));
  if (session.saveWay === 'download') {
    try {
      const context = await session.browser.createBrowserContext({ downloadBehavior: { policy: 'allow', downloadPath: downloads } });
      return { context, downloads };
    } catch (error) {
      session.saveWay = 'page';
      session.saveWayWhy = error.message;
    }
  }
  return { context: await session.browser.createBrowserContext(), downloads };
}

// Opens the built page (pagePath) in a new tab of context (a new context when none is given), its
// requests watched and its errors kept; initScript runs in the page before the page's own script.
export async function openPage(session, pagePath, { context = null, viewport = { width: 1100, height: 860 }, initScript = null } = {}) {
  const ownsContext = context === null;
  const use = context ?? await newContext(session);
  const page = await use.context.newPage();
  const entry = { session, context: use.context, downloads: use.downloads, ownsContext, errors: [] };
  opened.set(page, entry);
  page.on('request', (request) => {
    if (!/^(file|data|blob):/.test(request.url())) session.fromPages.push(request.url());
  });
  page.on('pageerror', (error) => entry.errors.push(error.message ?? String(error)));
  await page.setViewport(viewport);
  if (initScript) await page.evaluateOnNewDocument(initScript);
  if (session.saveWay === 'page') await page.evaluateOnNewDocument(captureSaves);
  await page.goto(pathToFileURL(pagePath).href);
  return page;
}

// Closes the page (and the context opened for it); fails if the page threw meanwhile.
export async function closePage(page) {
  const entry = opened.get(page);
  await page.close();
  if (entry.ownsContext) await entry.context.close();
  if (entry.errors.length > 0) throw new Error(`the page threw: ${entry.errors.join('; ')}`);
}

// Gives files (a path or paths) to the page's <input type=file> named by selector, as picking them does.
export async function pickFiles(page, selector, files) {
  const input = await page.$(selector);
  if (!input) throw new Error(`the page has no ${selector}`);
  await input.uploadFile(...[files].flat().map((f) => path.resolve(f)));
  await input.dispose();
}

// Waits until fn(arg), run in the page, is true; polling every `polling` ms (or each animation frame).
export async function waitFor(page, fn, arg, { timeout = 30000, polling = 'raf' } = {}) {
  await page.waitForFunction(fn, { timeout, polling }, arg);
}

// The page's text of the first element that selector finds.
export async function textOf(page, selector) {
  return page.$eval(selector, (e) => e.textContent);
}

// The attribute of the first element that selector finds, or null.
export async function attributeOf(page, selector, name) {
  return page.$eval(selector, (e, n) => e.getAttribute(n), name);
}

// In-page stand-in for a browser's saving: a click on an <a download> whose link is a blob: URL keeps
// the blob and its name in window.smfdumpSaved instead of saving it.
function captureSaves() {
  const blobs = new Map();
  const make = URL.createObjectURL;
  URL.createObjectURL = (object) => {
    const url = make.call(URL, object);
    if (object instanceof Blob) blobs.set(url, object);
    return url;
  };
  const click = HTMLAnchorElement.prototype.click;
  window.smfdumpSaved = [];
  HTMLAnchorElement.prototype.click = function clickSaving() {
    if (this.hasAttribute('download') && blobs.has(this.href)) {
      window.smfdumpSaved.push({ name: this.download, blob: blobs.get(this.href) });
      return;
    }
    click.call(this);
  };
}

// Clicks selector, which makes the page save a file, and waits for the file (up to timeout ms).
// Returns where it is now and the name the page gave it. Saved through the browser's own downloads
// (Chromium: Browser.setDownloadBehavior; Firefox: browser.setDownloadBehavior), or taken from the
// page where the browser can't be told where downloads go (session.saveWay "page").
export async function saveByClick(page, selector, { timeout = 300000 } = {}) {
  const entry = opened.get(page);
  const { session } = entry;
  session.saves += 1;
  const saved = path.join(session.scratch, `saved-${session.saves}`);
  if (session.saveWay === 'page') {
    const before = await page.evaluate(() => window.smfdumpSaved.length);
    await page.click(selector);
    await page.waitForFunction((n) => window.smfdumpSaved.length > n, { timeout, polling: 50 }, before);
    const { name, size } = await page.evaluate((n) => ({ name: window.smfdumpSaved[n].name, size: window.smfdumpSaved[n].blob.size }), before);
    const out = fs.openSync(saved, 'w');
    try {
      for (let at = 0; at < size; at += 4 << 20) {
        // the browser's own reader makes the base64, so that the page's thread stays free
        const piece = await page.evaluate((n, from) => new Promise((resolve, reject) => {
          const reader = new FileReader();
          reader.onload = () => resolve(reader.result.slice(reader.result.indexOf(',') + 1));
          reader.onerror = () => reject(reader.error);
          reader.readAsDataURL(window.smfdumpSaved[n].blob.slice(from, from + (4 << 20)));
        }), before, at);
        fs.writeSync(out, Buffer.from(piece, 'base64'));
      }
    } finally {
      fs.closeSync(out);
    }
    await page.evaluate((n) => { window.smfdumpSaved[n] = null; }, before);
    return { saved, name };
  }
  // the browser's download: done when a file of its own name is there, not empty, with no partial file
  // beside it (Chromium's .crdownload, Firefox's .part) and the same size twice running
  await page.click(selector);
  const end = Date.now() + timeout;
  let last = null;
  for (;;) {
    const names = fs.readdirSync(entry.downloads);
    const partial = names.some((n) => /\.(crdownload|part)$/.test(n));
    const done = names.filter((n) => !/\.(crdownload|part)$/.test(n));
    if (!partial && done.length === 1) {
      const size = fs.statSync(path.join(entry.downloads, done[0])).size;
      if (size > 0 && last === `${done[0]} ${size}`) {
        fs.renameSync(path.join(entry.downloads, done[0]), saved);  // the folder empty again for the next
        return { saved, name: done[0] };
      }
      last = `${done[0]} ${size}`;
    } else {
      last = null;
    }
    if (done.length > 1) throw new Error(`more than one file saved: ${done.join(', ')}`);
    if (Date.now() > end) throw new Error(`no file was saved within ${timeout} ms (${names.join(', ') || 'none'})`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

// The process ids of the browser and all its descendants (its renderers, content processes, GPU...).
export function browserProcesses(session) {
  const root = session.browser.process()?.pid;
  if (!root) return [];
  const children = new Map();
  for (const pid of fs.readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      const parent = Number(/PPid:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'latin1'))[1]);
      if (!children.has(parent)) children.set(parent, []);
      children.get(parent).push(Number(pid));
    } catch {
      // a process gone meanwhile
    }
  }
  const all = [];
  const queue = [root];
  while (queue.length > 0) {
    const pid = queue.shift();
    all.push(pid);
    queue.push(...(children.get(pid) ?? []));
  }
  return all;
}

// The peak resident memory (KB) of the browser's processes that run pages and workers: Chromium's
// renderers, Firefox's content processes.
export function pagesPeakKb(session) {
  const mark = session.kind === 'chromium' ? '--type=renderer' : '-contentproc';
  let peak = 0;
  for (const pid of browserProcesses(session)) {
    try {
      if (!fs.readFileSync(`/proc/${pid}/cmdline`, 'latin1').includes(mark)) continue;
      const hwm = /VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'latin1'));
      if (hwm) peak = Math.max(peak, Number(hwm[1]));
    } catch {
      // a process gone meanwhile
    }
  }
  return peak;
}

