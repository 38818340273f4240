// The 360-degree page in headless Chromium: a panorama whose two eyes have
// different colours is written out with `duoramic-cli page360` in each of
// the nine display methods, and the canvas must show the colours that
// method must show, before and after the page's L/R button.
//   node page_test.mjs --cli PATH/duoramic-cli
// Exit 0 passed, 1 failed, 77 skipped (no Chromium or no playwright-core).
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {createRequire} from 'node:module';
import {fileURLToPath, pathToFileURL} from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const cli = process.argv[process.argv.indexOf('--cli') + 1];
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

let chromium;
try {
  const require = createRequire(path.join(here, '../../viewer360/package.json'));
  ({chromium} = require('playwright-core'));
} catch (e) {
  console.log('SKIP: playwright-core is not installed (run scripts/setup.sh)');
  process.exit(77);
}
if (!fs.existsSync(chromiumPath)) {
  console.log(`SKIP: no Chromium at ${chromiumPath}`);
  process.exit(77);
}

const LEFT = [200, 40, 40];
const RIGHT = [40, 40, 200];
const WIDTH = 320, HEIGHT = 240;

const luma = (c) => 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
const clamp = (v) => Math.max(0, Math.min(255, v));
function Dubois(l, r) {
  const m = [
    [0.4561, 0.500484, 0.176381, -0.0434706, -0.0879388, -0.00155529],
    [-0.0400822, -0.0378246, -0.0157589, 0.378476, 0.73364, -0.0184503],
    [-0.0152161, -0.0205971, -0.00546856, -0.0721527, -0.112961, 1.2264]];
  const v = [...l, ...r];
  return m.map((row) => clamp(row.reduce((s, k, i) => s + k * v[i], 0)));
}

// What method `mode` shows at canvas pixel (x, y), given the eye colours.
function Expected(mode, x, y, l, r) {
  switch (mode) {
    case 0: case 6: return x < WIDTH / 2 ? l : r;  // side by side, half SBS
    case 1: return Dubois(l, r);
    case 2: return [l[0], r[1], r[2]];
    case 3: return [luma(l), luma(r), luma(r)];
    case 4: return y % 2 === 1 ? l : r;             // left on odd rows
    case 5: return x % 2 === 1 ? l : r;             // left on odd columns
    case 7: return y < HEIGHT / 2 ? l : r;          // half over/under
    case 8: return l;                               // one view
  }
}

// Points away from the halves' borders; neighbouring rows and columns.
const POINTS = [[40, 60], [40, 61], [41, 60], [280, 180], [281, 181],
                [160, 30], [161, 31], [160, 200], [159, 201]];

let passed = 0, failed = 0;
function Check(name, ok, detail) {
  if (ok) passed++;
  else { failed++; console.log(`FAIL ${name}: ${detail}`); }
}

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'duoramic-page360-'));
const context = await chromium.launchPersistentContext(
    path.join(work, 'profile'), {
      executablePath: chromiumPath,
      headless: true,
      viewport: {width: WIDTH, height: HEIGHT},
      deviceScaleFactor: 1,
      args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
             '--disable-component-update', '--no-first-run', '--disable-sync',
             '--allow-file-access-from-files', '--use-angle=swiftshader',
             '--enable-unsafe-swiftshader'],
    });
try {
  const page = context.pages()[0] || await context.newPage();
  page.on('pageerror', (e) => console.log('page error:', e.message));

  // The panoramas: a square one (left eye on top) and a wide one (left eye
  // on the left), made as JPEGs by the browser itself.  The name holds an
  // apostrophe, a quote and a hash to prove the path reaches the page whole.
  async function MakeJpeg(name, width, height, overUnder) {
    const data = await page.evaluate(([w, h, ou, l, r]) => {
      const c = document.createElement('canvas');
      c.width = w; c.height = h;
      const g = c.getContext('2d');
      g.fillStyle = `rgb(${l})`;
      g.fillRect(0, 0, w, h);
      g.fillStyle = `rgb(${r})`;
      if (ou) g.fillRect(0, h / 2, w, h / 2); else g.fillRect(w / 2, 0, w / 2, h);
      return c.toDataURL('image/jpeg', 0.95).split(',')[1];
    }, [width, height, overUnder, LEFT, RIGHT]);
    const file = path.join(work, name);
    fs.writeFileSync(file, Buffer.from(data, 'base64'));
    return file;
  }
  const square = await MakeJpeg(`it's "room" #1.JPG`, 512, 512, true);
  const wide = await MakeJpeg('wide.jpg', 1024, 256, false);

  async function Open(source, args) {
    const out = path.join(work, 'page');
    execFileSync(cli, ['page360', source, ...args, '-o', out]);
    await page.goto(pathToFileURL(path.join(out, 'theta.html')).href);
    await page.waitForFunction(() => window.img1 && (img1.ready || img1.error),
                               null, {timeout: 20000});
    const error = await page.evaluate(() => img1.error);
    if (error) throw new Error(`page: ${error}`);
  }
  // The canvas as drawn, read once the current settings reached a frame.
  async function Pixels() {
    await page.evaluate(() => new Promise((done) => {
      const start = img1.framesDrawn;
      (function wait() {
        if (img1.framesDrawn > start + 1) done(); else requestAnimationFrame(wait);
      })();
    }));
    return page.evaluate((points) => {
      const canvas = document.querySelector('#image1 canvas');
      const c = document.createElement('canvas');
      c.width = canvas.width; c.height = canvas.height;
      const g = c.getContext('2d');
      g.drawImage(canvas, 0, 0);
      return points.map(([x, y]) => Array.from(g.getImageData(x, y, 1, 1).data.slice(0, 3)));
    }, POINTS);
  }
  function Compare(name, mode, pixels, l, r) {
    POINTS.forEach(([x, y], i) => {
      const want = Expected(mode, x, y, l, r);
      const got = pixels[i];
      const ok = got.every((v, k) => Math.abs(v - want[k]) <= 14);
      Check(`${name} at ${x},${y}`, ok, `got ${got}, want ${want.map(Math.round)}`);
    });
  }

  for (let mode = 0; mode <= 8; mode++) {
    await Open(square, ['--mode', String(mode)]);
    const pixels = await Pixels();
    Check(`mode ${mode} not black`, pixels.some((p) => p.some((v) => v > 30)),
          JSON.stringify(pixels));
    Compare(`mode ${mode}`, mode, pixels, LEFT, RIGHT);
    await page.click('#button3');  // L/R
    Compare(`mode ${mode} after L/R`, mode, await Pixels(), RIGHT, LEFT);
  }

  // The swap flag from the program, the Stereo button's next method (one
  // view -> side by side), and a wide source cut into left and right.
  await Open(wide, ['--mode', '8', '--swap']);
  Compare('wide source, swapped one view', 8, await Pixels(), RIGHT, LEFT);
  await page.click('#button0');  // Stereo
  Compare('Stereo button after one view', 0, await Pixels(), RIGHT, LEFT);
} catch (e) {
  failed++;
  console.log(`FAIL ${e.message}`);
} finally {
  await context.close();
  fs.rmSync(work, {recursive: true, force: true});
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
