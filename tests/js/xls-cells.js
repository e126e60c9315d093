// Reads a worksheet with SheetJS and prints what it found as JSON:
//   {"biff": <BOF bytes as hex>, "sheets": [...], "cells": [[row, column, text], ...]}
// rows and columns counted from 1, cells in row order. The tests compare this with what they wrote.
'use strict';
const fs = require('fs');
const path = require('path');
const XLSX = require(path.join(__dirname, 'node_modules', 'xlsx'));

const file = process.argv[2];
if (!file) {
  console.error('usage: node xls-cells.js FILE.xls');
  process.exit(2);
}
const bytes = fs.readFileSync(file);
const wb = XLSX.read(bytes, {type: 'buffer', cellStyles: true, cellNF: true});
const out = {biff: bytes.subarray(0, 8).toString('hex'), sheets: wb.SheetNames, cells: []};
const sheet = wb.Sheets[wb.SheetNames[0]];
if (sheet && sheet['!ref']) {
  const range = XLSX.utils.decode_range(sheet['!ref']);
  for (let r = range.s.r; r <= range.e.r; ++r) {
    for (let c = range.s.c; c <= range.e.c; ++c) {
      const cell = sheet[XLSX.utils.encode_cell({r, c})];
      if (cell) out.cells.push([r + 1, c + 1, cell.t === 's' ? cell.v : String(cell.v)]);
    }
  }
}
process.stdout.write(JSON.stringify(out));
