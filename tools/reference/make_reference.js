#!/usr/bin/env node
// Writes a deterministic 2,000-bar daily OHLCV series and TA-Lib's indicator values for it:
//   tests/data/indicators/bars.csv       date,open,high,low,close,volume
//   tests/data/indicators/reference.csv  date plus one column per TA-Lib output (empty where
//                                        TA-Lib gives no value)
// Usage: npm install && node make_reference.js [output dir]
// Numbers are written in JavaScript's shortest round-trip form, so C++ reads them back exactly.

'use strict';

const fs = require('fs');
const path = require('path');
const talib = require('talib');

const BARS = 2000;
const outDir = path.resolve(process.argv[2] || path.join(__dirname, '../../tests/data/indicators'));

// Small seeded generator (mulberry32): the series must not depend on the Node version.
function mulberry32(seed) {
  let a = seed >>> 0;
  return function next() {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const round2 = (x) => Math.round(x * 100) / 100;

function makeBars() {
  const rand = mulberry32(20240628);
  const normal = () => {
    // Box-Muller; 1 - u keeps the logarithm finite.
    const u = 1 - rand();
    const v = rand();
    return Math.sqrt(-2 * Math.log(u)) * Math.cos(2 * Math.PI * v);
  };
  const bars = [];
  let day = new Date(Date.UTC(2016, 0, 4));
  let close = 50;
  let drift = 0;
  for (let i = 0; i < BARS; i++) {
    // Regimes of 20-120 bars with their own drift give trends, ranges and reversals.
    if (i % 80 === 0) drift = (rand() - 0.5) * 0.006;
    const vol = 0.012 + 0.01 * rand();
    const open = round2(close * (1 + 0.004 * normal()));
    const next = Math.max(1, round2(close * Math.exp(drift + vol * normal())));
    const high = round2(Math.max(open, next) * (1 + 0.012 * rand()));
    const low = round2(Math.min(open, next) * (1 - 0.012 * rand()));
    const volume = Math.round((800000 * Math.exp(0.5 * normal())) / 100) * 100;
    bars.push({ date: day.toISOString().slice(0, 10), open, high, low, close: next, volume });
    close = next;
    do {
      day = new Date(day.getTime() + 86400000);
    } while (day.getUTCDay() === 0 || day.getUTCDay() === 6);
  }
  return bars;
}

// Runs one TA-Lib function over the whole series and returns its outputs aligned to the bars
// (null before TA-Lib's first value).
function run(name, inputs, options) {
  const res = talib.execute(Object.assign({ name, startIdx: 0, endIdx: BARS - 1 }, inputs, options));
  if (res.error) throw new Error(`${name}: ${res.error}`);
  const out = {};
  for (const [key, values] of Object.entries(res.result)) {
    const aligned = new Array(BARS).fill(null);
    values.forEach((v, i) => {
      aligned[res.begIndex + i] = v;
    });
    out[key] = aligned;
  }
  return out;
}

function main() {
  const bars = makeBars();
  // Plain arrays: the addon misreads typed arrays.
  const high = bars.map((b) => b.high);
  const low = bars.map((b) => b.low);
  const close = bars.map((b) => b.close);
  const volume = bars.map((b) => b.volume);
  const hlc = { high, low, close };
  const EMA = 1;
  const SMA = 0;

  const columns = [];
  const add = (label, values) => columns.push([label, values]);
  for (const n of [5, 10, 20, 60, 120])
    add(`ta_ema_${n}`, run('EMA', { inReal: close }, { optInTimePeriod: n }).outReal);
  const macd = run('MACD', { inReal: close },
                   { optInFastPeriod: 12, optInSlowPeriod: 26, optInSignalPeriod: 9 });
  add('ta_macd', macd.outMACD);
  add('ta_macd_signal', macd.outMACDSignal);
  add('ta_macd_hist', macd.outMACDHist);
  for (const n of [6, 12, 24])
    add(`ta_rsi_${n}`, run('RSI', { inReal: close }, { optInTimePeriod: n }).outReal);
  const bb = run('BBANDS', { inReal: close },
                 { optInTimePeriod: 20, optInNbDevUp: 2, optInNbDevDn: 2, optInMAType: SMA });
  add('ta_bb_upper', bb.outRealUpperBand);
  add('ta_bb_middle', bb.outRealMiddleBand);
  add('ta_bb_lower', bb.outRealLowerBand);
  add('ta_sma_volume_5', run('SMA', { inReal: volume }, { optInTimePeriod: 5 }).outReal);
  add('ta_atr_14', run('ATR', hlc, { optInTimePeriod: 14 }).outReal);
  const stoch = run('STOCH', hlc, {
    optInFastK_Period: 9,
    optInSlowK_Period: 5,
    optInSlowK_MAType: EMA,
    optInSlowD_Period: 5,
    optInSlowD_MAType: EMA,
  });
  add('ta_stoch_k', stoch.outSlowK);
  add('ta_stoch_d', stoch.outSlowD);
  add('ta_obv', run('OBV', { inReal: close, volume }, {}).outReal);
  add('ta_mfi_14', run('MFI', { high, low, close, volume }, { optInTimePeriod: 14 }).outReal);
  add('ta_adx_14', run('ADX', hlc, { optInTimePeriod: 14 }).outReal);
  add('ta_sar', run('SAR', { high, low }, { optInAcceleration: 0.02, optInMaximum: 0.2 }).outReal);

  fs.mkdirSync(outDir, { recursive: true });
  const barLines = ['date,open,high,low,close,volume'];
  for (const b of bars) barLines.push([b.date, b.open, b.high, b.low, b.close, b.volume].join(','));
  fs.writeFileSync(path.join(outDir, 'bars.csv'), barLines.join('\n') + '\n');

  const refLines = [['date', ...columns.map((c) => c[0])].join(',')];
  for (let i = 0; i < BARS; i++) {
    const cells = columns.map(([, values]) => (values[i] === null ? '' : String(values[i])));
    refLines.push([bars[i].date, ...cells].join(','));
  }
  fs.writeFileSync(path.join(outDir, 'reference.csv'), refLines.join('\n') + '\n');
  console.log(`wrote ${BARS} bars and ${columns.length} reference columns to ${outDir}`);
}

main();
